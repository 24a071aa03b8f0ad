#include "cli/app_commands.h"

#include <optional>
#include <string_view>

#include "app_link/app_link.h"
#include "cli/output.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

using Words = std::vector<std::string>;

// The member `key` of `parent`; nullopt when `parent` is absent, no object
// or has no such member.
std::optional<JsonNode> member(const std::optional<JsonNode>& parent, std::string_view key) {
  return parent ? parent->find(key) : std::nullopt;
}

// A member as a Json of its own; null when absent.
Json json_of(const std::optional<JsonNode>& value) {
  return value ? value->to_json() : Json(nullptr);
}

Status print_member(const std::optional<JsonNode>& value) {
  return value ? print_json(*value) : print_json(Json(nullptr));
}

// The app's state stays as read: the commands take from it only the members
// they show.
Result<JsonTape> get_state(const CliOptions& options) {
  return app_link::call_tape(options.launch(), "get_state", Json::object(), false);
}

}  // namespace

Status status(const CliOptions& options) {
  TRY(const JsonTape tape, get_state(options));
  const std::optional<JsonNode> state = tape.root();
  const auto settings = member(state, "settings");
  auto meeting_model = member(settings, "meetingAsrModel");
  if (!meeting_model || !meeting_model->is_string() || meeting_model->string().empty()) {
    meeting_model = member(settings, "asrModel");
  }
  auto cli = platform::executable_path();
  Json report = {
      {"version", json_of(member(state, "version"))},
      {"state", json_of(member(state, "state"))},
      {"meetingRecording", json_of(member(state, "meetingRecording"))},
      {"activeMeetingId", json_of(member(state, "activeMeetingId"))},
      {"error", json_of(member(state, "error"))},
      {"dictationModel", json_of(member(settings, "asrModel"))},
      {"meetingModel", json_of(meeting_model)},
      {"meetingSpeakerLabels", json_of(member(settings, "meetingSpeakerLabels"))},
      {"notesModel", json_of(member(settings, "notesModel"))},
      {"cli", cli ? Json(std::move(cli).value()) : Json(nullptr)},
  };
  return print_json(report);
}

Status settings_get(const CliOptions& options, const std::string* key) {
  TRY(const JsonTape tape, get_state(options));
  const auto settings = member(tape.root(), "settings");
  return print_member(key ? member(settings, *key) : settings);
}

Status settings_set(const CliOptions& options, const Words& words) {
  TRY(const JsonTape state, get_state(options));
  const auto read = member(state.root(), "settings");
  if (!read || !read->is_object()) {
    return CliError::failed("Vellumo returned no settings.");
  }
  Json settings = read->to_json();
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
  TRY(const JsonTape saved, app_link::call_tape(options.launch(), "save_settings",
                                                Json{{"settings", std::move(settings)}}, false));
  return print_member(member(saved.root(), "settings"));
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

}  // namespace vellumo
