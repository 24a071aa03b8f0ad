#include "cli/dictation.h"

#include "app_link/app_link.h"
#include "cli/output.h"

namespace vellumo {
namespace {

constexpr std::uint64_t kDefaultHistoryLimit = 20;

// The app's command for each word of `dictation start|stop|cancel`.
constexpr WireWord kChanges[] = {
    {"start", "start_dictation"},
    {"stop", "stop_dictation"},
    {"cancel", "cancel_dictation"},
};

}  // namespace

Status change_dictation(const Call& call) {
  const CliOptions& options = call.options();
  const std::string_view command = call.word_as(1, kChanges);
  TRY(const JsonTape result,
      app_link::call_tape(options.launch(), command, Json::object(), options.detaching()));
  // Only the three members that describe the dictation's state.
  return print_json(pick_members(result.root(), {"state", "error", "outputText"}));
}

Status dictation_history(const Call& call) {
  TRY(const std::uint64_t limit,
      call.number("--limit", kDefaultHistoryLimit, "--limit must be a number."));
  return send_and_print(call.options(), "list_dictations", Json{{"limit", limit}});
}

}  // namespace vellumo
