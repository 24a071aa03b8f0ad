// The dictation family end to end: one request per subcommand, the state
// reply cut to its three members, and the checks made before any request.

#include "harness.h"

namespace vellumo::e2e {
namespace {

using Dictation = E2eTest;

Json ok(Json result) { return Json{{"reply", Json{{"ok", true}, {"result", std::move(result)}}}}; }

std::string state_reply(const std::string& error, const std::string& output,
                        const std::string& state) {
  return "{\n  \"error\": " + error + ",\n  \"outputText\": " + output +
         ",\n  \"state\": " + state + "\n}\n";
}

TEST_F(Dictation, EachSubcommandSendsOneRequest) {
  Json s = scenario();
  Json& r = s["replies"];
  r["start_dictation"] = Json::array({
      ok(Json{{"state", "recording"},
              {"error", nullptr},
              {"outputText", nullptr},
              {"session", Json{{"id", 3}}},
              {"extra", 1}}),
      Json{{"reply", Json{{"ok", false}, {"error", "No microphone."}}}},
  });
  r["stop_dictation"] = Json::array({
      ok(Json{{"state", "idle"}, {"outputText", "Hallo Welt\n"}}),
      ok("stopped"),
      ok(Json{{"state", Json{{"phase", "done"}}}, {"error", "Mic lost."}, {"outputText", {1, 2}}}),
  });
  r["cancel_dictation"] = ok(Json{{"state", "cancelled"}, {"error", nullptr}, {"outputText", ""}});
  r["list_dictations"] = ok(Json::array({Json{{"text", "one"}}, Json{{"text", "two"}}}));
  r["copy_last_dictation"] = ok(Json{{"copied", true}, {"text", "two"}});
  start_app(s);

  const std::string history =
      "[\n  {\n    \"text\": \"one\"\n  },\n  {\n    \"text\": \"two\"\n  }\n]\n";
  const std::string copied = "{\n  \"copied\": true,\n  \"text\": \"two\"\n}\n";
  struct Case {
    std::vector<std::string> words;
    std::string request;
    std::string out;  // empty: the run fails, see below
  };
  const std::vector<Case> cases = {
      {{"dictation", "start"},
       request_line("start_dictation"),
       state_reply("null", "null", "\"recording\"")},
      {{"dictation", "start", "--detach", "--title", "ignored"},
       request_line("start_dictation", "{}", true),
       ""},
      {{"dictation", "stop"},
       request_line("stop_dictation"),
       state_reply("null", "\"Hallo Welt\\n\"", "\"idle\"")},
      {{"dictation", "stop"}, request_line("stop_dictation"), state_reply("null", "null", "null")},
      {{"dictation", "stop", "--detach"},
       request_line("stop_dictation", "{}", true),
       state_reply("\"Mic lost.\"", "[\n    1,\n    2\n  ]", "{\n    \"phase\": \"done\"\n  }")},
      {{"--detach", "dictation", "cancel"},
       request_line("cancel_dictation", "{}", true),
       state_reply("null", "\"\"", "\"cancelled\"")},
      {{"dictation", "history"}, request_line("list_dictations", R"({"limit":20})"), history},
      {{"dictation", "history", "--limit", "+5"},
       request_line("list_dictations", R"({"limit":5})"),
       history},
      {{"dictation", "history", "--limit=0", "--detach"},
       request_line("list_dictations", R"({"limit":0})", true),
       history},
      {{"dictation", "history", "--limit", "5", "--limit", "007"},
       request_line("list_dictations", R"({"limit":7})"),
       history},
      {{"dictation", "history", "--limit", "18446744073709551615"},
       request_line("list_dictations", R"({"limit":18446744073709551615})"),
       history},
      {{"dictation", "copy-last"}, request_line("copy_last_dictation"), copied},
      {{"dictation", "copy-last", "--detach"},
       request_line("copy_last_dictation", "{}", true),
       copied},
  };
  std::size_t sent = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[1] + " ... " + c.words.back());
    const RunResult run = cli(c.words);
    if (c.out.empty()) {
      expect_error(run, 1, "No microphone.");
    } else {
      expect_output(run, c.out);
    }
    const auto lines = requests();
    ASSERT_EQ(lines.size(), ++sent);
    EXPECT_EQ(lines.back(), c.request);
  }
}

TEST_F(Dictation, UsageErrorsNeedNoApp) {
  Json s = scenario();
  s["replies"]["list_dictations"] = ok(Json::array());
  install_app(s);
  const std::string use = "Use `dictation start|stop|cancel|history|copy-last`.";
  for (const auto& words : std::vector<std::vector<std::string>>{{"dictation"},
                                                                 {"dictation", "Start"},
                                                                 {"dictation", "history", "5"},
                                                                 {"dictation", "start", "stop"},
                                                                 {"dictation", "copy_last"},
                                                                 {"dictation", ""}}) {
    SCOPED_TRACE(words.back());
    expect_error(cli(words), 2, use);
  }
  for (const char* limit : {"5x", "-1", "", "+", "-", "1.5", "18446744073709551616", " 5"}) {
    SCOPED_TRACE(limit);
    expect_error(cli({"dictation", "history", "--limit", limit}), 2, "--limit must be a number.");
  }
  EXPECT_TRUE(starts().empty());
  EXPECT_TRUE(requests().empty());

  // The control: the same command with a good limit launches the app beside.
  expect_output(cli({"dictation", "history", "--limit", "3"}), "[]\n");
  EXPECT_EQ(starts(), std::vector<Json>{Json::array({"--startup"})});
  EXPECT_EQ(requests(),
            (std::vector<std::string>{request_line("ping"),
                                      request_line("list_dictations", R"({"limit":3})")}));
}

}  // namespace
}  // namespace vellumo::e2e
