// The fixed texts and the usage errors: printed without any app, and
// without contacting one that is there.

#include "harness.h"
#include "version.h"

namespace vellumo::e2e {
namespace {

using Texts = E2eTest;

TEST_F(Texts, PrintedWithoutAnyAppBesideOrServing) {
  const RunResult usage = cli({});
  EXPECT_EQ(usage.exit_code, 0) << usage.err;
  EXPECT_EQ(usage.err, "");
  EXPECT_EQ(count_lines(usage.out), 57u);
  EXPECT_EQ(usage.out.back(), '\n');
  EXPECT_EQ(usage.out.find_first_of("\r\t"), std::string::npos);
  EXPECT_EQ(line_of(usage.out, 1),
            "vellumo-cli " VELLUMO_VERSION ": control Vellumo from a terminal, script or agent.");
  EXPECT_EQ(line_of(usage.out, 3), "Usage: vellumo-cli <command> [options]");
  EXPECT_EQ(line_of(usage.out, 57), "  version");
  // Descriptions start in the 34th character, six meetings lines in the
  // 46th; continuation lines are indented by 33 spaces.
  EXPECT_EQ(line_of(usage.out, 10),
            "  status" + std::string(25, ' ') + "Version, state and selected models");
  EXPECT_EQ(line_of(usage.out, 33).substr(45), "New meeting from recordings in order");
  EXPECT_EQ(line_of(usage.out, 54),
            std::string(33, ' ') + "Claude Code, Codex, Gemini, Cursor, Windsurf,");
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"help"}, {"--help"}, {"-h"}, {"--no-launch", "help"}}) {
    SCOPED_TRACE(words.front());
    expect_output(cli(words), usage.out);
  }

  const RunResult guide = cli({"guide"});
  EXPECT_EQ(guide.exit_code, 0) << guide.err;
  EXPECT_EQ(guide.err, "");
  EXPECT_EQ(count_lines(guide.out), 40u);
  EXPECT_EQ(guide.out.back(), '\n');
  EXPECT_EQ(line_of(guide.out, 1), "# Using Vellumo from an agent");
  EXPECT_EQ(line_of(guide.out, 5), "");
  EXPECT_EQ(line_of(guide.out, 6), "CLI: " + cli_path_text());
  EXPECT_EQ(line_of(guide.out, 7), "");
  EXPECT_EQ(line_of(guide.out, 40),
            "- Recording uses the microphone and system audio; start one only when asked.");
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"agents"}, {"help", "agents"}, {"agents", "--help"}}) {
    SCOPED_TRACE(words.front() + " " + words.back());
    expect_output(cli(words), guide.out);
  }

  for (const char* word : {"version", "--version", "-V"}) {
    SCOPED_TRACE(word);
    expect_output(cli({word}), "vellumo-cli " VELLUMO_VERSION " (protocol 1)\n");
  }
  EXPECT_TRUE(starts().empty());
}

TEST_F(Texts, UsageErrorsNeverReachTheApp) {
  start_app(scenario());
  expect_error(cli({"-v"}), 2, "Unknown command: -v");
  expect_error(cli({"status", "now"}), 2, "Unknown command: status now");
  expect_error(cli({"ai", "foo"}), 2, "Unknown command: ai foo");
  expect_error(cli({"commands", "all"}), 2, "Unknown command: commands all");
  expect_error(cli({"help", "foo"}), 2, "Unknown command: help foo");
  expect_error(cli({"meetings", "--help"}), 2, "Unknown command: help meetings");
  expect_error(cli({"invoke", "a", "b", "c"}), 2, "Unknown command: invoke a b c");
  expect_error(cli({"", "ping"}), 2, "Unknown command:  ping");
  expect_error(cli({"status", "--title"}), 2, "--title needs a value.");
  expect_error(cli({"agents", "status", "now"}), 2, "Use `agents status|install|remove`.");
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"settings", "list"}, {"settings", "set"}, {"settings", "get", "a", "b"}}) {
    SCOPED_TRACE(words.back());
    expect_error(cli(words), 2, "Use `settings get [key]` or `settings set key=value ...`.");
  }
  expect_error_around(cli({"invoke", "ping", "{"}), 2, "Arguments must be a JSON object: ", "");
  expect_error_around(cli({"invoke", "ping", "{} x"}), 2, "Arguments must be a JSON object: ", "");
  EXPECT_EQ(requests(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vellumo::e2e
