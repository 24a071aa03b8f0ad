#include "cli/dispatch.h"

#include <array>
#include <string_view>

#include "app_link/app_link.h"
#include "cli/agents_command.h"
#include "cli/command_table.h"
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
