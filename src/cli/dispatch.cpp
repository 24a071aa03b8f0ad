#include "cli/dispatch.h"

#include <array>
#include <optional>
#include <string_view>

#include "app_link/app_link.h"
#include "cli/agents_command.h"
#include "cli/dictation.h"
#include "cli/meetings.h"
#include "cli/output.h"
#include "cli/parse_options.h"
#include "core/text.h"
#include "mcp/mcp_server.h"
#include "platform/platform.h"
#include "texts/texts.h"

namespace vellumo {
namespace {

using Words = std::vector<std::string>;

// Commands that send one app command with no arguments and print the
// result as it comes.
struct PlainCommand {
  std::array<std::string_view, 2> words;  // the second is empty for one word
  std::string_view app_command;
};

constexpr PlainCommand kPlainCommands[] = {
    {{"models", ""}, "get_model_library"},    {{"models", "list"}, "get_model_library"},
    {{"ai", ""}, "get_ai_settings"},          {{"ai", "settings"}, "get_ai_settings"},
    {{"vocabulary", ""}, "get_vocabulary"},   {{"vocabulary", "list"}, "get_vocabulary"},
    {{"diagnostics", ""}, "get_diagnostics"}, {{"commands", ""}, "commands"},
    {{"snapshot", ""}, "get_snapshot"},       {{"ping", ""}, "ping"},
};

bool matches(const Words& words, const PlainCommand& command) {
  const std::size_t n = command.words[1].empty() ? 1 : 2;
  return words.size() == n && words[0] == command.words[0] &&
         (n == 1 || words[1] == command.words[1]);
}

bool is(const Words& words, std::initializer_list<std::string_view> expected) {
  return words.size() == expected.size() &&
         std::equal(words.begin(), words.end(), expected.begin());
}

CliError unknown_command(const Words& words) {
  return CliError::usage("Unknown command: " + join_words(words));
}

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
  return AppLink::call_tape(options, "get_state", Json::object(), false);
}

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
  TRY(const JsonTape saved,
      AppLink::call_tape(options, "save_settings", Json{{"settings", std::move(settings)}}, false));
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

}  // namespace

Status dispatch(const Words& words, const CliOptions& options) {
  const std::size_t n = words.size();
  if (n == 0 || is(words, {"help"})) {
    return print_text(usage_text());
  }
  if (is(words, {"help", "agents"}) || is(words, {"guide"}) || is(words, {"agents"})) {
    return print_text(guide_text(cli_path_text()));
  }
  const std::string& first = words[0];
  if (first == "agents") {
    return n == 2 ? run_agents_command(words[1])
                  : CliError::usage("Use `agents status|install|remove`.");
  }
  if (is(words, {"mcp"})) {
    return run_mcp_stub();
  }
  if (is(words, {"version"})) {
    return print_text("vellumo-cli " + std::string(kVersion) + " (protocol " +
                      std::to_string(PROTOCOL_VERSION) + ")\n");
  }
  if (is(words, {"status"})) {
    return status(options);
  }
  if (is(words, {"quit"})) {
    // Quitting never starts the app just to stop it again.
    CliOptions quit_options;
    quit_options.no_launch = true;
    return send_and_print(quit_options, "quit_app", Json::object());
  }
  if (first == "open" && n <= 2) {
    return send_and_print(options, "show_page", Json{{"page", n == 2 ? words[1] : "dictation"}});
  }
  if (first == "settings") {
    if (n == 1 || is(words, {"settings", "get"})) {
      return settings_get(options, nullptr);
    }
    if (n == 3 && words[1] == "get") {
      return settings_get(options, &words[2]);
    }
    if (n >= 3 && words[1] == "set") {
      return settings_set(options, words);
    }
    return CliError::usage("Use `settings get [key]` or `settings set key=value ...`.");
  }
  for (const PlainCommand& command : kPlainCommands) {
    if (matches(words, command)) {
      return send_and_print(options, command.app_command, Json::object());
    }
  }
  if (first == "invoke" && (n == 2 || n == 3)) {
    return invoke(options, words);
  }
  if (first == "meetings" || first == "meeting") {
    return run_meetings(Words(words.begin() + 1, words.end()), options);
  }
  if (first == "dictation") {
    return run_dictation(Words(words.begin() + 1, words.end()), options);
  }
  return unknown_command(words);
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
