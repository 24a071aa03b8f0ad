#include "cli/dispatch.h"

#include <algorithm>
#include <string_view>

#include "app_link/app_link.h"
#include "cli/command_table.h"
#include "cli/meetings.h"
#include "cli/output.h"
#include "cli/parse_options.h"
#include "cli/syntax.h"
#include "core/text.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

using Words = std::vector<std::string>;

// The member `key` of `parent`, or null when `parent` is no object or has
// no such member.
Json member(const Json& parent, std::string_view key) {
  if (parent.is_object()) {
    if (auto it = parent.find(key); it != parent.end()) {
      return *it;
    }
  }
  return nullptr;
}

Result<Json> get_state(const CliOptions& options) {
  return AppLink::call(options, "get_state", Json::object(), false);
}

// The words at each `<id>` of the row's syntax are meeting references.
Status check_references(const Syntax& syntax, const Words& words) {
  const auto arguments = syntax.arguments();
  for (std::size_t i = syntax.word_count; i < words.size(); ++i) {
    if (arguments[std::min(i - syntax.word_count, arguments.size() - 1)].text == "<id>") {
      TRY_STATUS(check_reference(words[i]));
    }
  }
  return {};
}

}  // namespace

Status status(const CliOptions& options) {
  TRY(const Json state, get_state(options));
  const Json settings = member(state, "settings");
  Json meeting_model = member(settings, "meetingAsrModel");
  if (!meeting_model.is_string() || meeting_model.get_ref<const std::string&>().empty()) {
    meeting_model = member(settings, "asrModel");
  }
  auto cli = platform::executable_path();
  Json report = {
      {"version", member(state, "version")},
      {"state", member(state, "state")},
      {"meetingRecording", member(state, "meetingRecording")},
      {"activeMeetingId", member(state, "activeMeetingId")},
      {"error", member(state, "error")},
      {"dictationModel", member(settings, "asrModel")},
      {"meetingModel", std::move(meeting_model)},
      {"meetingSpeakerLabels", member(settings, "meetingSpeakerLabels")},
      {"notesModel", member(settings, "notesModel")},
      {"cli", cli ? Json(std::move(cli).value()) : Json(nullptr)},
  };
  return print_json(report);
}

Status settings_get(const CliOptions& options, const std::string* key) {
  TRY(const Json state, get_state(options));
  const Json settings = member(state, "settings");
  return print_json(key ? member(settings, *key) : settings);
}

Status settings_set(const CliOptions& options, const Words& words) {
  TRY(Json state, get_state(options));
  if (!state.is_object() || !state.contains("settings") || !state["settings"].is_object()) {
    return CliError::failed("Vellumo returned no settings.");
  }
  Json settings = std::move(state["settings"]);
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::string& pair = words[i];
    const auto equals = pair.find('=');
    if (equals == std::string::npos) {
      return CliError::usage("Use key=value, not `" + pair + "`.");
    }
    const std::string key = pair.substr(0, equals);
    if (!settings.contains(key)) {
      return CliError::usage("Unknown setting `" + key +
                             "`. Run `vellumo-cli settings get` to list them.");
    }
    // JSON where the text parses (true, 42, "x", [..]); the text itself
    // otherwise (en, or nothing at all).
    const std::string_view text = std::string_view(pair).substr(equals + 1);
    auto parsed = parse_json(text);
    settings[key] = parsed ? std::move(parsed).value() : Json(text);
  }
  TRY(const Json saved,
      AppLink::call(options, "save_settings", Json{{"settings", std::move(settings)}}, false));
  return print_json(member(saved, "settings"));
}

Status invoke(const CliOptions& options, const Words& words) {
  Json args = Json::object();
  if (words.size() == 3) {
    auto parsed = parse_json(words[2]);
    if (!parsed) {
      return CliError::usage("Arguments must be a JSON object: " + parsed.error());
    }
    args = std::move(parsed).value();
  }
  return send_and_print(options, words[1], std::move(args));
}

Status dispatch(const Words& words, const CliOptions& options) {
  Words given = words.empty() ? Words{"help"} : words;
  if (given[0] == "meeting") {
    given[0] = "meetings";  // the family's other name
  }
  for (const CommandRow& row : command_table()) {
    const Syntax syntax = read_syntax(row.syntax);
    if (fits(syntax, given)) {
      TRY_STATUS(check_references(syntax, given));
      return row.handler(options, given);
    }
  }
  return CliError::usage("Unknown command: " + join_words(words));
}

int run_cli(const std::vector<std::string>& args) {
  auto line = parse_command_line(args);
  if (!line) {
    return report_error(line.error());
  }
  const Status outcome = dispatch(line->words, line->options);
  return outcome ? 0 : report_error(outcome.error());
}

}  // namespace vellumo
