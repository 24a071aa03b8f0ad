#pragma once

// The end-to-end harness: runs the real CLI, natively or as the Windows
// executable under Wine, against the fake app or the stand-in app, each test
// in a folder and environment of its own.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/json.h"
#include "support/files.h"
#include "support/json_text.h"
#include "support/scratch_folder.h"

namespace vellumo::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::file_bytes;
using test::put_file;
using test::to_json_pretty;

/// What the tests run: the native executables, or the Windows ones under
/// Wine. Chosen once by main.
struct Target {
  bool wine = false;
  fs::path cli;          ///< the CLI executable of the build
  fs::path fake_app;     ///< the fake app executable of the build
  fs::path standin;      ///< the stand-in app executable of the build
  fs::path fake_claude;  ///< the stand-in for Claude Code's `claude`
  /// The registry helper of the Windows build (Wine only).
  fs::path user_environment;
  fs::path wine64;
  std::vector<std::string> wine_env;  ///< NAME=value settings for Wine

  std::string exe_suffix() const { return wine ? ".exe" : ""; }
  /// `path` as the programs under test see it: unchanged natively, the
  /// Z:\ form of the Unix path under Wine.
  std::string path_text(const fs::path& path) const;
};

const Target& target();
void set_target(Target target);

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
  std::chrono::duration<double> took{};
  bool timed_out = false;
  /// The process ended but its output pipes stayed open: something it
  /// started holds them.
  bool output_held_open = false;
  /// How long after the process ended both output pipes reached end-of-file.
  std::chrono::duration<double> eof_after_exit{};
  /// The process's peak resident memory in KiB (under Wine: Wine's process).
  long peak_kib = 0;
};

/// The n-th line of `text` (1-based), without its line feed.
std::string line_of(std::string_view text, std::size_t n);
std::size_t count_lines(std::string_view text);

/// Each test: a fresh folder holding a copy of the CLI (alone, unless the
/// test installs the app beside it), home and data folders, the link's
/// runtime folder, and a user name of its own.
class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const fs::path& dir() const { return dir_; }
  /// The CLI copy the tests run.
  const fs::path& cli_path() const { return cli_path_; }
  /// The CLI's own path as it reports it (the guide, `status`).
  std::string cli_path_text() const;
  /// The USERNAME of the programs started from now on (unset: nullopt);
  /// each test starts with one of its own.
  void set_username(std::optional<std::string> name) { username_ = std::move(name); }
  /// The link path for a user tag, worked out here independently of the
  /// programs under test.
  std::string link_path_for(const std::string& tag) const;

  /// Where a program's standard output goes.
  enum class Output {
    Pipe,        ///< a pipe the harness reads into RunResult::out
    Full,        ///< /dev/full: every write fails, the disk being full
    ReadOnly,    ///< a file opened for reading only: every write fails
    ClosedPipe,  ///< a pipe whose reader has gone
  };
  struct RunOptions {
    std::optional<std::string> stdin_text;
    std::chrono::seconds timeout = 60s;
    /// The CLI's current folder; the test driver's own when unset.
    std::optional<fs::path> working_dir;
    Output output = Output::Pipe;
    /// Sends the program SIGINT (as Ctrl+C at a terminal would) once this
    /// file exists.
    std::optional<fs::path> interrupt_when{};
  };
  RunResult cli(const std::vector<std::string>& words, const RunOptions& options);
  RunResult cli(const std::vector<std::string>& words) { return cli(words, RunOptions{}); }
  /// Runs another program of the build the way cli() runs the CLI: a copy
  /// of the CLI elsewhere, or a helper.
  RunResult run(const fs::path& program, const std::vector<std::string>& words,
                const RunOptions& options);
  RunResult run(const fs::path& program, const std::vector<std::string>& words) {
    return run(program, words, RunOptions{});
  }

  /// Gives the programs started from now on this value of an environment
  /// variable in place of the harness's own, or (nullopt) leaves it unset.
  /// The value is passed as it is: use path_text for paths.
  void set_env(const std::string& name, std::optional<std::string> value);
  /// The folders the programs search for commands, in order. Natively that
  /// is PATH, joined with `:`. Wine builds PATH from its registry and puts
  /// WINEPATH in front; so there the entries, joined with `;`, go there.
  void set_path_entries(const std::vector<std::string>& entries);

  /// A scenario with the test's log, stop and marker files filled in; the
  /// caller adds replies and behaviour.
  Json scenario() const;

  /// Starts the fake app with `scenario` and waits until it serves the link
  /// (or has ended, for scenarios that never serve it; or runs, for those
  /// that serve it only once a file appears).
  void start_app(const Json& scenario);
  /// Puts the fake app beside the CLI copy as `name` (the suffix .exe is
  /// added under Wine) with `scenario` as its scenario.json, so that the
  /// CLI can launch it.
  void install_app(const Json& scenario, const std::string& name = "Vellumo");
  /// Puts the stand-in app beside the CLI copy as Vellumo (Vellumo.exe
  /// under Wine), so that the CLI launches it.
  void install_standin();

  /// Every request line the fake apps received, in order, byte for byte.
  std::vector<std::string> requests() const;
  /// The commands of those requests.
  std::vector<std::string> commands() const;
  /// The arguments of every start of a fake app.
  std::vector<Json> starts() const;
  /// How many fake apps are running now.
  std::size_t running_apps() const;

  /// The request line the CLI sends for `command`.
  static std::string request_line(std::string_view command, std::string_view args = "{}",
                                  bool detach = false);

  /// Checks a failed run: nothing on standard output, the error line (and
  /// the usage hint for exit code 2) on standard error.
  static void expect_error(const RunResult& run, int exit_code, const std::string& message);
  /// Same, for a message whose end depends on the system: `prefix` and
  /// `suffix` around the varying part.
  static void expect_error_around(const RunResult& run, int exit_code, const std::string& prefix,
                                  const std::string& suffix);
  /// Checks a successful run that printed `out`.
  static void expect_output(const RunResult& run, const std::string& out);

 private:
  RunResult run_once(const fs::path& program, const std::vector<std::string>& words,
                     const RunOptions& options);
  std::vector<std::string> environment() const;
  std::vector<std::string> command(const fs::path& program,
                                   const std::vector<std::string>& words) const;

  test::ScratchFolder scratch_{"ve2e-"};
  fs::path dir_;
  fs::path cli_path_;
  std::optional<std::string> username_;
  std::vector<std::pair<std::string, std::optional<std::string>>> env_overrides_;
  std::vector<int> app_pids_;
};

}  // namespace vellumo::e2e
