// The commands that are one request to the app: what goes on the wire, and
// how the reply is shaped and printed.

#include "harness.h"

namespace vellumo::e2e {
namespace {

using AppCommands = E2eTest;

Json ok(Json result) { return Json{{"reply", Json{{"ok", true}, {"result", std::move(result)}}}}; }

TEST_F(AppCommands, EachSendsExactlyOneRequest) {
  Json s = scenario();
  s["default"] = ok(Json{{"done", true}});
  start_app(s);

  struct Case {
    std::vector<std::string> words;
    std::string command;
    std::string args = "{}";
    bool detach = false;
  };
  const std::vector<Case> cases = {
      {{"models"}, "get_model_library"},
      {{"models", "list"}, "get_model_library"},
      {{"ai"}, "get_ai_settings"},
      {{"ai", "settings"}, "get_ai_settings"},
      {{"vocabulary"}, "get_vocabulary"},
      {{"vocabulary", "list"}, "get_vocabulary"},
      {{"diagnostics"}, "get_diagnostics"},
      {{"commands"}, "commands"},
      {{"snapshot"}, "get_snapshot"},
      {{"ping"}, "ping"},
      {{"open"}, "show_page", R"({"page":"dictation"})"},
      {{"open", "meetings"}, "show_page", R"({"page":"meetings"})"},
      {{"open", "no such page"}, "show_page", R"({"page":"no such page"})"},
      {{"quit"}, "quit_app"},
      {{"quit", "--detach"}, "quit_app"},
      {{"--detach", "models"}, "get_model_library", "{}", true},
      {{"models", "--limit", "5", "--title=A=B", "--title="}, "get_model_library"},
      {{"--no-launch", "diagnostics"}, "get_diagnostics"},
      {{"diagnostics", "--no-launch"}, "get_diagnostics"},
      {{"invoke", "get_meeting"}, "get_meeting"},
      {{"invoke", "get_meeting", R"({"id":"x"})"}, "get_meeting", R"({"id":"x"})"},
      {{"invoke", "any_thing",
        " {\"b\": [1, {\"d\": 1, \"c\": \"\\u00e9 \\\"q\\\"\"}], \"a\": {}} "},
       "any_thing",
       "{\"a\":{},\"b\":[1,{\"c\":\"\xC3\xA9 \\\"q\\\"\",\"d\":1}]}"},
      {{"invoke", "cleanup", "{}", "--detach"}, "cleanup", "{}", true},
  };
  std::size_t sent = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.front() + " ... " + c.words.back());
    expect_output(cli(c.words), "{\n  \"done\": true\n}\n");
    auto lines = requests();
    ASSERT_EQ(lines.size(), ++sent);
    EXPECT_EQ(lines.back(), request_line(c.command, c.args, c.detach));
  }
}

TEST_F(AppCommands, StatusShapesTheState) {
  Json settings = {{"asrModel", "base"},
                   {"meetingAsrModel", ""},
                   {"meetingSpeakerLabels", true},
                   {"notesModel", "gpt"},
                   {"other", 1}};
  Json full = {{"version", "1.4.2"},
               {"state", "idle"},
               {"meetingRecording", false},
               {"activeMeetingId", nullptr},
               {"error", "no mic"},
               {"settings", settings},
               {"extra", 7}};
  Json meeting_model = full;
  meeting_model["settings"]["meetingAsrModel"] = "large";
  meeting_model["activeMeetingId"] = "m-1";
  Json odd_model = full;
  odd_model["settings"]["meetingAsrModel"] = 5;
  Json s = scenario();
  s["replies"]["get_state"] = Json::array({
      ok(full),
      ok(Json{{"version", "1.4.2"}, {"state", "recording"}, {"meetingRecording", true}}),
      ok(meeting_model),
      ok(odd_model),
      ok(Json::array({1})),
  });
  start_app(s);

  // The first state's status; each later one is told by what differs.
  const Json idle = {{"activeMeetingId", nullptr},
                     {"cli", cli_path_text()},
                     {"dictationModel", "base"},
                     {"error", "no mic"},
                     {"meetingModel", "base"},
                     {"meetingRecording", false},
                     {"meetingSpeakerLabels", true},
                     {"notesModel", "gpt"},
                     {"state", "idle"},
                     {"version", "1.4.2"}};
  const auto status = [&](const Json& changes = Json::object()) {
    Json printed = idle;
    printed.update(changes);
    return to_json_pretty(printed) + "\n";
  };
  expect_output(cli({"status"}), status());
  // No settings at all: their four members are null, nothing is left out.
  expect_output(cli({"status", "--detach"}), status({{"dictationModel", nullptr},
                                                     {"error", nullptr},
                                                     {"meetingModel", nullptr},
                                                     {"meetingRecording", true},
                                                     {"meetingSpeakerLabels", nullptr},
                                                     {"notesModel", nullptr},
                                                     {"state", "recording"}}));
  expect_output(cli({"status"}), status({{"activeMeetingId", "m-1"}, {"meetingModel", "large"}}));
  // A meeting model that is not text gives way to the dictation model.
  expect_output(cli({"status"}), status());
  // A state that is not an object: every member null but the CLI's path.
  Json nothing = idle;
  for (auto member : nothing.items()) {
    member.value() = nullptr;
  }
  nothing["cli"] = cli_path_text();
  expect_output(cli({"status"}), to_json_pretty(nothing) + "\n");
  // --detach does not reach the state request.
  EXPECT_EQ(requests(), std::vector<std::string>(5,
                                                 "{\"version\":1,\"command\":\"get_state\","
                                                 "\"args\":{},\"detach\":false}\n"));
}

TEST_F(AppCommands, SettingsGetAndSet) {
  const Json settings = {{"asrModel", "base"},
                         {"language", "de"},
                         {"meetingAsrModel", ""},
                         {"meetingSpeakerLabels", false},
                         {"notesModel", "none"}};
  Json s = scenario();
  Json with_settings = ok(Json{{"settings", settings}, {"state", "idle"}});
  s["replies"]["get_state"] =
      Json::array({with_settings, with_settings, with_settings, with_settings, with_settings,
                   with_settings, with_settings, ok(Json{{"state", "idle"}})});
  s["replies"]["save_settings"] = ok(Json{{"settings", Json{{"saved", true}}}});
  start_app(s);
  const std::string get_state = request_line("get_state");

  const std::string pretty =
      "{\n  \"asrModel\": \"base\",\n  \"language\": \"de\",\n  \"meetingAsrModel\": \"\",\n"
      "  \"meetingSpeakerLabels\": false,\n  \"notesModel\": \"none\"\n}\n";
  expect_output(cli({"settings"}), pretty);
  expect_output(cli({"settings", "get"}), pretty);
  expect_output(cli({"settings", "get", "asrModel"}), "\"base\"\n");
  expect_output(cli({"settings", "get", "nope"}), "null\n");

  // Values are JSON where they parse, text otherwise; the split is at the
  // first `=`; a later pair wins; every member is sent.
  expect_output(cli({"settings", "set", "meetingSpeakerLabels=true", "notesModel=small",
                     "language==x", "asrModel=", "meetingAsrModel=\"q r\"", "notesModel=[1,2]"}),
                "{\n  \"saved\": true\n}\n");
  auto lines = requests();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
            std::vector<std::string>(5, get_state));
  EXPECT_EQ(lines[5],
            request_line("save_settings",
                         R"({"settings":{"asrModel":"","language":"=x","meetingAsrModel":"q r",)"
                         R"("meetingSpeakerLabels":true,"notesModel":[1,2]}})"));

  // A bad pair anywhere in the list: nothing is saved.
  expect_error(cli({"settings", "set", "notesModel=x", "bogus=1"}), 2,
               "Unknown setting `bogus`. Run `vellumo-cli settings get` to list them.");
  expect_error(cli({"settings", "set", "notesModel=x", "foo"}), 2, "Use key=value, not `foo`.");
  lines = requests();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[6], get_state);
  EXPECT_EQ(lines[7], get_state);

  // A state without settings.
  expect_error(cli({"settings", "set", "notesModel=x"}), 1, "Vellumo returned no settings.");
  expect_output(cli({"settings", "get"}), "null\n");
  EXPECT_EQ(commands(), (std::vector<std::string>{
                            "get_state", "get_state", "get_state", "get_state", "get_state",
                            "save_settings", "get_state", "get_state", "get_state", "get_state"}));
}

// Output that cannot be written fails the command with exit code 1: with
// the system's reason, or without a word when the reader has gone (as a
// pipeline expects). The MCP server never writes to standard error.
TEST_F(AppCommands, OutputThatCannotBeWrittenFailsTheCommand) {
  Json s = scenario();
  s["default"] = ok(Json{{"transcript", "Hello."}});
  start_app(s);
  const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
                           "\n";
  struct Case {
    std::vector<std::string> words;
    Output output;
    bool quiet;
  };
  const std::vector<Case> cases = {
      {{"help"}, Output::Full, false},
      {{"version"}, Output::ReadOnly, false},
      {{"guide"}, Output::ClosedPipe, true},
      {{"snapshot"}, Output::Full, false},
      {{"snapshot"}, Output::ClosedPipe, true},
      {{"meetings", "transcript", std::string(32, 'a')}, Output::ReadOnly, false},
      {{"mcp"}, Output::ReadOnly, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.front() + " " + std::to_string(static_cast<int>(c.output)));
    RunOptions options;
    options.output = c.output;
    options.stdin_text = ping;
    const RunResult run = cli(c.words, options);
    if (c.quiet) {
      EXPECT_EQ(run.exit_code, 1);
      EXPECT_EQ(run.err, "");
    } else {
      expect_error_around(run, 1, "Cannot write the output: ", ")");
    }
  }
}

}  // namespace
}  // namespace vellumo::e2e
