#include "cli/agents_command.h"

#include "agent_integration/agents.h"
#include "cli/output.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace vellumo {

Status run_agents_command(const std::string& word) {
  using agents::Mode;
  std::optional<Mode> mode;
  if (word == "status") {
    mode = Mode::Status;
  } else if (word == "install") {
    mode = Mode::Install;
  } else if (word == "remove" || word == "uninstall") {
    mode = Mode::Remove;
  } else if (word != "ensure") {
    return CliError::usage("Use `agents status|install|remove`.");
  }
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

}  // namespace vellumo
