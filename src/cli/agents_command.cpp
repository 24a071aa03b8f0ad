#include "cli/agents_command.h"

#include "agent_integration/agents.h"
#include "cli/output.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

using agents::Mode;

constexpr Named<Mode> kModes[] = {
    {"status", Mode::Status},
    {"install", Mode::Install},
    {"remove", Mode::Remove},
    {"uninstall", Mode::Remove},
};

// Runs the agents command of `mode`, or ensure when there is none.
Status run(std::optional<Mode> mode) {
  // As the system names it: the PATH link needs its very bytes, and an
  // entry none that is not text.
  auto cli = platform::executable_name();
  if (!cli) {
    return CliError::failed(std::move(cli).error());
  }
  const auto data = files::data_folder();
  const auto results =
      mode ? agents::run_agents(*mode, *cli, data) : agents::ensure_integration(*cli, data);

  Json report = Json::array();
  bool any_failed = false;
  for (const agents::TargetResult& result : results) {
    Json line = {{"target", result.target}, {"state", agents::state_word(result.state)}};
    if (result.detail) {
      line["detail"] = *result.detail;
    }
    report.push_back(std::move(line));
    any_failed = any_failed || result.state == agents::TargetState::Failed;
  }
  TRY_STATUS(print_json(report));
  if (any_failed) {
    return CliError::failed("Some targets could not be updated; see `detail`.");
  }
  return {};
}

}  // namespace

Status agents_command(const Call& call) { return run(call.word_as(1, kModes)); }

Status ensure_agents(const Call&) { return run(std::nullopt); }

}  // namespace vellumo
