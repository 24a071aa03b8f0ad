// Claude Code through its own `claude` command, played by the stand-in:
// what each mode runs and reports for each answer of the look-up, where
// `claude` is found, and a `claude` that never answers.

#include <sstream>
#include <thread>

#include "agents_support.h"

namespace vellumo::e2e {
namespace {

using AgentsClaudeCode = AgentsTest;
using Calls = std::vector<std::vector<std::string>>;

std::optional<ReportLine> claude_line(std::string state,
                                      std::optional<std::string> detail = std::nullopt) {
  return ReportLine{"Claude Code", std::move(state), std::move(detail)};
}

// The Claude Code line of `run` and the exit code that goes with it.
void expect_claude_line(const RunResult& run, const std::optional<ReportLine>& expected) {
  EXPECT_EQ(report_line(run, "Claude Code"), expected);
  if (expected && expected->state == "failed") {
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "error: Some targets could not be updated; see `detail`.\n");
  } else {
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(AgentsClaudeCode, EachAnswerOfTheLookUpInEachMode) {
  const fs::path claude = put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  const fs::path server = claude_state() / "server";
  const std::string self = text(cli_path());
  const Calls get = {lookup_args()};

  // Runs `mode` and checks the line and every command line `claude` got.
  const auto check = [&](const std::string& mode, const std::optional<ReportLine>& expected,
                         const Calls& calls, const fs::path& program = {}) {
    SCOPED_TRACE(mode + " expecting " + (expected ? expected->state : "no line"));
    const std::size_t before = claude_calls().size();
    expect_claude_line(run(program.empty() ? cli_path() : program, {"agents", mode}), expected);
    EXPECT_EQ(claude_args(before), calls);
  };

  // No server of that name: the look-up exits with 1.
  check("status", claude_line("absent"), get);
  check("remove", claude_line("absent"), get);
  check("install", claude_line("added"), {lookup_args(), add_args()});
  EXPECT_EQ(file_bytes(server), self);

  // This CLI's server.
  check("status", claude_line("present"), get);
  check("install", claude_line("present"), get);
  check("remove", claude_line("removed"), {lookup_args(), remove_args()});
  EXPECT_FALSE(fs::exists(server));

  // A server of this program at another place.
  const std::string old = target().wine ? R"(C:\Old\vellumo-cli.exe)" : "/old/place/vellumo-cli";
  put_file(server, old);
  check("status", claude_line("skipped"), get);
  check("install", claude_line("updated"), {lookup_args(), remove_args(), add_args()});
  EXPECT_EQ(file_bytes(server), self);
  // Only the add is judged: a failed remove before it does not show...
  put_file(server, old);
  put_file(claude_state() / "fail-remove", "cannot remove it now\n");
  put_file(claude_state() / "add-replaces", "");
  check("install", claude_line("updated"), {lookup_args(), remove_args(), add_args()});
  EXPECT_EQ(file_bytes(server), self);
  // ...unless the add fails because of it.
  fs::remove(claude_state() / "add-replaces");
  put_file(server, old);
  check("install", claude_line("failed", "MCP server vellumo already exists in user config"),
        {lookup_args(), remove_args(), add_args()});
  EXPECT_EQ(file_bytes(server), old);
  fs::remove(claude_state() / "fail-remove");
  check("remove", claude_line("removed"), {lookup_args(), remove_args()});
  EXPECT_FALSE(fs::exists(server));

  // Someone else's server under our name.
  put_file(server, "node /srv/other.js");
  check("status", claude_line("skipped"), get);
  check("install", claude_line("skipped", "Another server is already named vellumo."), get);
  check("remove", claude_line("absent"), get);
  EXPECT_EQ(file_bytes(server), "node /srv/other.js");
  fs::remove(server);

  // A failed add: its output, trimmed of Unicode white space, cut to 300
  // characters (not bytes).
  const std::string e_acute = "\xC3\xA9";
  std::string long_text;
  for (int i = 0; i < 250; ++i) {
    long_text += e_acute;
  }
  long_text += std::string(250, 'x');
  put_file(claude_state() / "fail-add", "\xE2\x80\x83 \t" + long_text + "\n\xC2\xA0");
  std::string cut;
  for (int i = 0; i < 250; ++i) {
    cut += e_acute;
  }
  cut += std::string(50, 'x');
  check("install", claude_line("failed", cut), {lookup_args(), add_args()});
  fs::remove(claude_state() / "fail-add");

  // A failed remove.
  put_file(server, self);
  put_file(claude_state() / "fail-remove", "\n  Cannot remove: config locked\r\n\r\n");
  check("remove", claude_line("failed", "Cannot remove: config locked"),
        {lookup_args(), remove_args()});
  fs::remove(claude_state() / "fail-remove");

  // A CLI whose path does not say "vellumo-cli": its server is present,
  // but not one that remove would recognise as this program's.
  const fs::path plain = copy_cli("tools/agentcli");
  put_file(server, text(plain));
  check("status", claude_line("present"), get, plain);
  check("remove", claude_line("absent"), get, plain);
  EXPECT_EQ(file_bytes(server), text(plain));

  if (target().wine) {
    // Through the command interpreter, the arguments arrive just the same.
    fs::remove(server);
    put_claude_script(dir() / "scripts");
    set_path_entries({text(dir() / "scripts")});
    check("install", claude_line("added"), {lookup_args(), add_args()});
    EXPECT_EQ(file_bytes(server), self);
    check("remove", claude_line("removed"), {lookup_args(), remove_args()});
    EXPECT_EQ(claude_calls().back().at("via"), text(dir() / "scripts" / "claude.cmd"));
    set_path_entries({text(dir() / "bin")});
  }

  // A `claude` that cannot be started: the runner's message, in every
  // mode, and nothing else is run.
  put_file(claude, "not a program\n");
  const std::string cannot_run =
      "Cannot run " + text(claude) + ": " +
      (target().wine ? "Bad EXE format for %1. (os error 193)" : "Exec format error (os error 8)");
  for (const char* mode : {"status", "install", "remove"}) {
    check(mode, claude_line("failed", cannot_run), {});
  }
}

TEST_F(AgentsClaudeCode, WhereClaudeIsFound) {
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  const auto via = [&](const std::vector<std::string>& path, RunOptions options = {}) {
    set_path_entries(path);
    const std::size_t before = claude_calls().size();
    const RunResult run = cli({"agents", "status"}, options);
    expect_claude_line(run, claude_line("absent"));
    const auto calls = claude_calls();
    EXPECT_EQ(calls.size(), before + 1);
    return calls.size() == before + 1 ? calls.back().at("via").get<std::string>() : "";
  };

  if (!machine_has_claude()) {
    // Nowhere: no line, unless the home folder holds a .claude.json file.
    set_path_entries({text(dir() / "path")});
    expect_claude_line(cli({"agents", "status"}), std::nullopt);
    put_file(home() / ".claude.json", "{}");
    for (const char* mode : {"status", "install", "remove"}) {
      SCOPED_TRACE(mode);
      expect_claude_line(cli({"agents", mode}),
                         claude_line("skipped", "The claude command was not found."));
    }
  }

  // Found in the home folder under the fragment ".local/bin", kept as
  // written, when no PATH folder has it.
  put_claude_program(home() / ".local" / "bin");
  const std::string local_bin =
      in(home_text(), {".local/bin", target().wine ? "claude.exe" : "claude"});
  EXPECT_EQ(via({text(dir() / "path")}), local_bin);
  if (!target().wine) {
    // Without PATH, the home-based folders are searched (Wine always
    // makes a PATH).
    set_env("PATH", std::nullopt);
    const std::size_t before = claude_calls().size();
    expect_claude_line(cli({"agents", "status"}), claude_line("absent"));
    ASSERT_EQ(claude_calls().size(), before + 1);
    EXPECT_EQ(claude_calls().back().at("via"), local_bin);
  }

  // An empty entry is the current folder: the name alone is run there.
  put_claude_program(dir() / "here");
  RunOptions here;
  here.working_dir = dir() / "here";
  EXPECT_EQ(via({"", text(dir() / "path")}, here), "claude" + target().exe_suffix());

  if (target().wine) {
    // claude.exe before claude.cmd in one folder...
    const fs::path both = put_claude_program(dir() / "both");
    put_claude_script(dir() / "both");
    EXPECT_EQ(via({text(dir() / "both")}), text(both));
    // ...but the folders come first: an earlier claude.cmd wins over a
    // later claude.exe. A folder named claude.exe is no program.
    fs::create_directories(dir() / "script" / "claude.exe");
    const fs::path script = put_claude_script(dir() / "script");
    EXPECT_EQ(via({text(dir() / "script"), text(dir() / "both")}), text(script));
    // A quoted entry may hold a `;`.
    const fs::path odd = put_claude_program(dir() / "semi;colon");
    std::string quoted(1, '"');
    quoted += text(odd.parent_path());
    quoted += '"';
    EXPECT_EQ(via({text(dir() / "path"), quoted, text(dir() / "both")}), text(odd));
  } else {
    // Only an executable regular file named claude counts.
    put_file(dir() / "plain" / "claude", "#!/bin/sh\nexit 0\n");
    fs::create_directories(dir() / "folder" / "claude");
    const fs::path program = put_claude_program(dir() / "bin");
    EXPECT_EQ(via({text(dir() / "plain"), text(dir() / "folder"), text(dir() / "bin")}),
              text(program));
    // The first `claude` found decides: one in a folder that others may
    // write is not run, nor is a later one in its place.
    const fs::path open = put_claude_program(dir() / "open");
    fs::permissions(open.parent_path(), fs::perms::all);
    set_path_entries({text(open.parent_path()), text(dir() / "bin")});
    const std::size_t before = claude_calls().size();
    expect_claude_line(
        cli({"agents", "status"}),
        claude_line("skipped", text(open) + ": can be changed by other users, not run"));
    EXPECT_EQ(claude_calls().size(), before);
  }
}

// Whether process `pid` is gone (or dead, waiting only to be reaped).
bool gone(const std::string& pid) {
  const std::string stat = file_bytes("/proc/" + pid + "/stat");
  if (stat.empty()) {
    return true;
  }
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() &&
         (stat[close + 2] == 'Z' || stat[close + 2] == 'X');
}

TEST_F(AgentsClaudeCode, LookUpThatNeverAnswers) {
  if (target().wine) {
    GTEST_SKIP() << "one 45-second run is enough: the native one; the runner's time limit under "
                    "Wine has tests of its own";
  }
  const fs::path claude = put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  put_file(claude_state() / "hang-get", "");

  RunOptions options;
  options.timeout = 90s;
  const RunResult run = cli({"agents", "install"}, options);
  expect_claude_line(run, claude_line("failed", text(claude) + " did not finish in time."));
  EXPECT_GE(run.took, 44s);
  EXPECT_LT(run.took, 60s);
  EXPECT_EQ(claude_args(), Calls{lookup_args()}) << "nothing may run after the look-up";

  // The stand-in and the child it started are both gone.
  std::istringstream pids(file_bytes(claude_state() / "pids"));
  std::vector<std::string> numbers;
  for (std::string pid; std::getline(pids, pid);) {
    numbers.push_back(pid);
  }
  EXPECT_EQ(numbers.size(), 2u);
  for (const std::string& pid : numbers) {
    for (int i = 0; i < 100 && !gone(pid); ++i) {
      std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(gone(pid)) << "process " << pid << " of the stand-in is still running";
  }
}

// A run interrupted by Ctrl+C (under Wine, a SIGINT) ends with the
// system's interrupted status, which no script takes for a success.
TEST_F(AgentsClaudeCode, InterruptedRunIsNoSuccess) {
  if (!target().wine) {
    GTEST_SKIP() << "natively SIGINT's default action ends the run";
  }
  put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  put_file(claude_state() / "hang-get", "");

  RunOptions options;
  options.interrupt_when = claude_state() / "pids";  // the look-up is under way
  const RunResult run = cli({"agents", "install"}, options);
  EXPECT_EQ(run.exit_code, 0x3A);  // STATUS_CONTROL_C_EXIT's low byte, as Wine passes it on
}

}  // namespace
}  // namespace vellumo::e2e
