#include "cli/dictation.h"

#include "app_link/app_link.h"
#include "cli/output.h"

namespace vellumo {
namespace {

constexpr std::uint64_t kDefaultHistoryLimit = 20;

// Start, stop and cancel print only the three members that describe the
// dictation's state.
Status send_dictation_command(const CliOptions& options, std::string_view command) {
  TRY(const JsonTape result, AppLink::call_tape(options, command, Json::object(), options.detach));
  Json state = Json::object();
  for (const char* name : {"state", "error", "outputText"}) {
    const auto value = result.root().find(name);
    state[name] = value ? value->to_json() : Json(nullptr);
  }
  return print_json(state);
}

}  // namespace

Status run_dictation(const std::vector<std::string>& words, const CliOptions& options) {
  const std::string_view sub = words.size() == 1 ? std::string_view(words[0]) : "";
  if (sub == "start") {
    return send_dictation_command(options, "start_dictation");
  }
  if (sub == "stop") {
    return send_dictation_command(options, "stop_dictation");
  }
  if (sub == "cancel") {
    return send_dictation_command(options, "cancel_dictation");
  }
  if (sub == "history") {
    TRY(const std::uint64_t limit,
        options.count("limit", kDefaultHistoryLimit, "--limit must be a number."));
    return send_and_print(options, "list_dictations", Json{{"limit", limit}});
  }
  if (sub == "copy-last") {
    return send_and_print(options, "copy_last_dictation", Json::object());
  }
  return CliError::usage("Use `dictation start|stop|cancel|history|copy-last`.");
}

}  // namespace vellumo
