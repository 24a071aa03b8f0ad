// Reaching the app: a link nobody serves, a busy link, and launching the
// app from the CLI's folder.

#include <fstream>

#include "harness.h"

namespace vellumo::e2e {
namespace {

using Launch = E2eTest;

Json ok(Json result) { return Json{{"reply", Json{{"ok", true}, {"result", std::move(result)}}}}; }
Json refused() { return Json{{"reply", Json{{"ok", false}, {"error", "Unknown command: ping"}}}}; }

const std::string kPing = R"({"version":1,"command":"ping","args":{},"detach":false})"
                          "\n";

TEST_F(Launch, FromColdTheCallerGetsTheAnswerToItsOwnRequest) {
  Json s = scenario();
  s["listen_delay_ms"] = 3000;
  // A failed ping is retried like an unreachable link.
  s["replies"]["ping"] = Json::array({refused(), ok("pong")});
  s["replies"]["get_model_library"] = ok(Json{{"models", Json::array({"base"})}});
  install_app(s);

  const RunResult run = cli({"models"});
  expect_output(run, "{\n  \"models\": [\n    \"base\"\n  ]\n}\n");
  EXPECT_GE(run.took, 3s);
  EXPECT_LT(run.took, 20s);
  EXPECT_EQ(starts(), std::vector<Json>{Json::array({"--startup"})});
  EXPECT_EQ(requests(),
            (std::vector<std::string>{kPing, kPing, request_line("get_model_library")}));

  // The app runs on: the next call reaches it without another launch.
  expect_output(cli({"models"}), "{\n  \"models\": [\n    \"base\"\n  ]\n}\n");
  EXPECT_EQ(starts().size(), 1u);
  EXPECT_EQ(requests().size(), 4u);
}

TEST_F(Launch, LowerCaseAppNameAndAnErrorAfterTheLaunch) {
  Json s = scenario();
  s["replies"]["get_ai_settings"] =
      Json{{"reply", Json{{"ok", false}, {"error", "No AI provider is set."}}}};
  install_app(s, "vellumo");
  expect_error(cli({"ai"}), 1, "No AI provider is set.");
  EXPECT_EQ(starts(), std::vector<Json>{Json::array({"--startup"})});
  EXPECT_EQ(commands(), (std::vector<std::string>{"ping", "get_ai_settings"}));
}

TEST_F(Launch, CapitalisedNameIsTriedFirst) {
  if (target().wine) {
    GTEST_SKIP() << "Wine's file names ignore case: the two names are one file there";
  }
  install_app(scenario());
  std::ofstream(cli_path().parent_path() / "vellumo") << "not a program\n";
  expect_output(cli({"ping"}), "null\n");
  EXPECT_EQ(starts().size(), 1u);
}

TEST_F(Launch, CallerReadingThroughAPipeGetsEndOfFileWhileTheAppRuns) {
  Json s = scenario();
  s["replies"]["get_diagnostics"] = ok("fine");
  install_app(s);
  const RunResult run = cli({"diagnostics"});
  expect_output(run, "\"fine\"\n");
  EXPECT_FALSE(run.output_held_open);
  EXPECT_LT(run.eof_after_exit, 2s);
  EXPECT_EQ(running_apps(), 1u) << "the launched app should still be running";
}

// The link is named after the user: only ASCII letters, digits, `-`, `.`
// and `_` of USERNAME, at most 64 of them, "user" when none are left.
TEST_F(Launch, LinkNameComesFromTheUserName) {
  const std::string unique = dir().filename().string();  // letters, digits and `-`
  const std::string long_name = unique + std::string(70 - unique.size(), 'n');
  struct Case {
    std::string tag;
    std::vector<std::optional<std::string>> names;
  };
  const std::vector<Case> cases = {
      {unique + "ncdename.x_y-z",
       {unique + " \xC3\x9Cn\xC3\xAF/c\xC3\xB6"
                 "de:name.x_y-z!"}},
      {long_name.substr(0, 64), {long_name}},
      {"user", {std::nullopt, "\xC3\x84 \xC3\x96!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    Json s = scenario();
    s["link"] = link_path_for(c.tag);
    s["replies"]["ping"] = ok(c.tag);
    start_app(s);
    for (const auto& name : c.names) {
      set_username(name);
      expect_output(cli({"ping", "--no-launch"}), "\"" + c.tag + "\"\n");
    }
  }
}

TEST_F(Launch, NothingBesideTheCli) {
  const std::string folder = target().path_text(cli_path().parent_path());
  expect_error(cli({"status"}), 3,
               "Vellumo is not running, and the app was not found beside " + folder + ".");
  // A folder of that name is not the app.
  std::filesystem::create_directory(cli_path().parent_path() / ("Vellumo" + target().exe_suffix()));
  expect_error(cli({"ping"}), 3,
               "Vellumo is not running, and the app was not found beside " + folder + ".");
}

TEST_F(Launch, NoLaunchAndQuitLeaveTheAppAlone) {
  install_app(scenario());
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"--no-launch", "status"}, {"status", "--no-launch"}, {"quit"}}) {
    SCOPED_TRACE(words.front() + " " + words.back());
    expect_error_around(cli(words), 3, "Vellumo is not running (", ").");
  }
  EXPECT_TRUE(starts().empty());

  Json s = scenario();
  s["replies"]["get_state"] = ok(Json{{"state", "idle"}});
  s["replies"]["quit_app"] = ok(Json{{"quitting", true}});
  start_app(s);
  EXPECT_EQ(cli({"--no-launch", "status"}).exit_code, 0);
  EXPECT_EQ(cli({"status", "--no-launch"}).exit_code, 0);
  expect_output(cli({"quit"}), "{\n  \"quitting\": true\n}\n");
  EXPECT_EQ(commands(), (std::vector<std::string>{"get_state", "get_state", "quit_app"}));
  EXPECT_EQ(starts().size(), 1u);
}

TEST_F(Launch, BusyLinkIsRetriedForTenSeconds) {
  Json s = scenario();
  s["busy"] = true;
  start_app(s);
  const RunResult run = cli({"status", "--no-launch"});
  expect_error_around(run, 3, "Vellumo is not running (", ").");
  EXPECT_GE(run.took, 10s);
  EXPECT_LT(run.took, 25s);
}

TEST_F(Launch, AppThatEndsAtOnce) {
  Json s = scenario();
  s["exit_at_once"] = true;
  install_app(s);
  const RunResult run = cli({"status"});
  expect_error(run, 3,
               "Vellumo is running but does not accept CLI commands. Update Vellumo, or quit and "
               "reopen it, then try again.");
  EXPECT_LT(run.took, 20s);
  EXPECT_EQ(starts().size(), 1u);
}

// The launched process ends at once, another instance being there, and
// that instance answers the extra ping: the wait still goes on, and the
// request follows only a ping of a round of its own.
TEST_F(Launch, LaunchedProcessEndsAndAnotherInstanceAnswers) {
  Json launched = scenario();
  launched["exit_at_once"] = true;
  install_app(launched);
  Json other = scenario();
  // It serves the link once the launched process has started, and refuses
  // the first ping late enough for that process to have ended.
  other.erase("start_log");
  other["listen_after"] = target().path_text(dir() / "starts.log");
  Json late = refused();
  late["delay_ms"] = 1000;
  other["replies"]["ping"] = Json::array({late, ok("pong")});
  other["replies"]["get_diagnostics"] = ok("fine");
  start_app(other);

  expect_output(cli({"diagnostics"}), "\"fine\"\n");
  EXPECT_EQ(starts().size(), 1u);
  EXPECT_EQ(commands(), (std::vector<std::string>{"ping", "ping", "ping", "get_diagnostics"}));
}

TEST_F(Launch, AppThatNeverAcceptsThePing) {
  Json s = scenario();
  s["replies"]["ping"] = refused();
  s["max_lifetime_ms"] = 150000;
  install_app(s);
  const RunResult run =
      cli({"status"}, {.stdin_text = std::nullopt, .timeout = 150s, .working_dir = std::nullopt});
  expect_error(run, 3, "Vellumo did not start within 90 seconds.");
  EXPECT_GE(run.took, 90s);
  // About 180 pings on an idle machine; a loaded one (Wine under a full
  // parallel test run) gets through fewer, and finishes a little later.
  EXPECT_LT(run.took, 120s);
  const auto names = commands();
  EXPECT_GT(names.size(), 30u);
  EXPECT_EQ(names, std::vector<std::string>(names.size(), "ping"));
}

TEST_F(Launch, AppGoneAfterThePing) {
  Json s = scenario();
  s["replies"]["ping"] = Json{{"reply", Json{{"ok", true}}}, {"exit", true}};
  install_app(s);
  expect_error_around(cli({"status"}), 3, "Vellumo started but is not answering: ", "");
  EXPECT_EQ(commands(), std::vector<std::string>{"ping"});
}

TEST_F(Launch, AppThatCannotBeStarted) {
  const auto app = cli_path().parent_path() / ("Vellumo" + target().exe_suffix());
  std::ofstream(app) << "not a program\n";
  expect_error_around(cli({"status"}), 1, "Cannot start " + target().path_text(app) + ": ", "");
}

}  // namespace
}  // namespace vellumo::e2e
