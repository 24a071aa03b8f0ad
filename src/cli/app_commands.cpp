#include "cli/app_commands.h"

#include <optional>
#include <string_view>

#include "app_link/app_link.h"
#include "cli/output.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

// The member `key` of `parent`; nullopt when `parent` is absent, no object
// or has no such member.
std::optional<JsonNode> member(const std::optional<JsonNode>& parent, std::string_view key) {
  return parent ? parent->find(key) : std::nullopt;
}

Status print_member(const std::optional<JsonNode>& value) {
  return value ? print_json(*value) : print_json(Json(nullptr));
}

// The app's state stays as read: the commands take from it only the members
// they show.
Result<JsonTape> get_state(const CliOptions& options) {
  return app_link::call_tape(options.launch(), "get_state", Json::object(), Detach::No);
}

Status print_settings(const Call& call, const std::string* key) {
  TRY(const JsonTape tape, get_state(call.options()));
  const auto settings = member(tape.root(), "settings");
  return print_member(key ? member(settings, *key) : settings);
}

}  // namespace

Status status(const Call& call) {
  TRY(const JsonTape tape, get_state(call.options()));
  const JsonNode state = tape.root();
  Json report =
      pick_members(state, {"version", "state", "meetingRecording", "activeMeetingId", "error"});
  Json models = pick_members(member(state, "settings"),
                             {"asrModel", "meetingAsrModel", "meetingSpeakerLabels", "notesModel"});
  // The meeting model is the dictation model unless one is chosen.
  const Json& meeting_model = models["meetingAsrModel"];
  const bool chosen =
      meeting_model.is_string() && !meeting_model.get_ref<const std::string&>().empty();
  report["meetingModel"] = chosen ? meeting_model : models["asrModel"];
  report["dictationModel"] = std::move(models["asrModel"]);
  report["meetingSpeakerLabels"] = std::move(models["meetingSpeakerLabels"]);
  report["notesModel"] = std::move(models["notesModel"]);
  auto cli = platform::executable_path();
  report["cli"] = cli ? Json(std::move(cli).value()) : Json(nullptr);
  return print_json(report);
}

Status settings_get(const Call& call) { return print_settings(call, call.optional_arg("[key]")); }

Status settings(const Call& call) { return print_settings(call, nullptr); }

Status settings_set(const Call& call) {
  TRY(const JsonTape state, get_state(call.options()));
  const auto read = member(state.root(), "settings");
  if (!read || !read->is_object()) {
    return CliError::failed("Vellumo returned no settings.");
  }
  Json settings = read->to_json();
  for (const std::string& pair : call.args("key=value")) {
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
  TRY(const JsonTape saved,
      app_link::call_tape(call.options().launch(), "save_settings",
                          Json{{"settings", std::move(settings)}}, Detach::No));
  return print_member(member(saved.root(), "settings"));
}

Status invoke(const Call& call) {
  Json args = Json::object();
  if (const std::string* given = call.optional_arg("[json]")) {
    auto parsed = parse_json(*given);
    if (!parsed) {
      return CliError::usage("Arguments must be a JSON object: " + parsed.error());
    }
    args = std::move(parsed).value();
  }
  return send_and_print(call.options(), call.arg("<command>"), std::move(args));
}

}  // namespace vellumo
