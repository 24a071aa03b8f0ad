#include "cli/dictation.h"

#include "app_link/app_link.h"
#include "cli/output.h"

namespace vellumo {
namespace {

constexpr std::uint64_t kDefaultHistoryLimit = 20;

// Start, stop and cancel print only the three members that describe the
// dictation's state.
Status send_dictation_command(const CliOptions& options, std::string_view command) {
  TRY(const JsonTape result,
      app_link::call_tape(options.launch(), command, Json::object(), options.detach));
  Json state = Json::object();
  for (const char* name : {"state", "error", "outputText"}) {
    const auto value = result.root().find(name);
    state[name] = value ? value->to_json() : Json(nullptr);
  }
  return print_json(state);
}

}  // namespace

Status change_dictation(const CliOptions& options, const std::vector<std::string>& words) {
  const std::string& change = words[1];
  return send_dictation_command(options, change == "start"  ? "start_dictation"
                                         : change == "stop" ? "stop_dictation"
                                                            : "cancel_dictation");
}

Status dictation_history(const CliOptions& options, const std::vector<std::string>&) {
  TRY(const std::uint64_t limit,
      options.count("limit", kDefaultHistoryLimit, "--limit must be a number."));
  return send_and_print(options, "list_dictations", Json{{"limit", limit}});
}

}  // namespace vellumo
