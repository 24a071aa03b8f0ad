#pragma once

// What the end-to-end tests of the agents command share: the agents'
// folders in the test's home, the expected report, the stand-in `claude`,
// file stamps, and (under Wine) the user PATH in the prefix's registry,
// which every test of this family saves first and puts back at its end.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"

namespace vellumo::e2e {

/// One line of an agents report.
struct ReportLine {
  std::string target;
  std::string state;
  std::optional<std::string> detail;
  friend bool operator==(const ReportLine&, const ReportLine&) = default;
};
void PrintTo(const ReportLine& line, std::ostream* out);

/// Every target, in the order of the report.
extern const std::vector<std::string> kEveryTarget;
/// The targets of a home that holds only Gemini CLI's folder, `claude` at
/// hand (Codex's folder is CODEX_HOME, which is always there).
extern const std::vector<std::string> kGeminiOnlyTargets;

/// The line of `target` in the report `run` printed; nullopt when there is
/// none (or no report).
std::optional<ReportLine> report_line(const RunResult& run, std::string_view target);

/// The report as the CLI prints it.
std::string report_text(const std::vector<ReportLine>& lines);

/// The JSON string form of `text`.
std::string json_string(std::string_view text);

/// A file's identity and time of last change, to tell whether it was
/// written (a replacement has a new inode; a write in place a new time).
struct FileStamp {
  std::uint64_t inode = 0;
  std::int64_t modified_ns = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
/// The stamp of `path` itself (a link is not followed); nullopt when there
/// is nothing.
std::optional<FileStamp> stamp(const fs::path& path);
/// Sets the time of last change of `path` a long way back, so that any
/// write after it shows.
void make_old(const fs::path& path);

/// `text` as UTF-16LE bytes, with no NUL added.
std::string utf16_bytes(const std::string& text);

/// The user PATH value in the registry, as the helper reads it.
struct UserPathValue {
  bool exists = false;
  unsigned type = 0;              ///< 1 REG_SZ, 2 REG_EXPAND_SZ
  std::string data;               ///< the raw bytes
  std::uint64_t key_written = 0;  ///< the key's time of last change
  /// The data as UTF-8 text, without the final NUL; the test fails when
  /// the data does not end with exactly one NUL.
  std::string text() const;
};

class AgentsTest : public E2eTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// `path` as the CLI sees it.
  static std::string text(const fs::path& path) { return target().path_text(path); }
  /// `base` joined with `parts` the way the CLI joins them (`\` under
  /// Wine, `/` natively); a part is kept as written.
  static std::string in(const std::string& base, std::initializer_list<std::string_view> parts);

  fs::path home() const { return dir() / "home"; }
  /// USERPROFILE / HOME as the CLI sees it.
  std::string home_text() const { return text(home()); }
  fs::path marker() const { return dir() / "localappdata" / "Vellumo" / "agent-integration.json"; }
  /// The marker text the CLI writes.
  static std::string marker_text(const std::string& cli, bool removed);

  /// The folders of every agent configured through a file, and their
  /// files (Codex's folder is CODEX_HOME, which exists from the start).
  void make_agent_folders();
  fs::path gemini_file() const { return home() / ".gemini" / "settings.json"; }
  fs::path cursor_file() const { return home() / ".cursor" / "mcp.json"; }
  fs::path windsurf_file() const { return home() / ".codeium" / "windsurf" / "mcp_config.json"; }
  fs::path claude_desktop_file() const {
    return dir() / "appdata" / "Claude" / "claude_desktop_config.json";
  }
  fs::path opencode_folder() const { return home() / ".config" / "opencode"; }
  fs::path codex_file() const { return dir() / "codex" / "config.toml"; }
  /// The details the CLI gives for those files.
  std::string gemini_detail() const { return in(home_text(), {".gemini", "settings.json"}); }
  std::string cursor_detail() const { return in(home_text(), {".cursor", "mcp.json"}); }
  std::string windsurf_detail() const {
    return in(home_text(), {".codeium", "windsurf", "mcp_config.json"});
  }
  std::string claude_desktop_detail() const {
    return in(text(dir() / "appdata"), {"Claude", "claude_desktop_config.json"});
  }
  std::string codex_detail() const { return in(text(dir() / "codex"), {"config.toml"}); }
  std::string opencode_detail() const {
    return in(home_text(), {".config", "opencode", "opencode.json"});
  }

  /// The PATH line for a CLI at `cli` (default: the test's CLI): under
  /// Wine the CLI folder, natively the ~/.local/bin link.
  ReportLine path_line(const std::string& state, const fs::path& cli = {}) const;
  /// The report lines of `targets` (in the report's order), each in
  /// `state` with the detail given above (PATH's for the test's CLI); a
  /// line of `changed` takes the place of its target's.
  std::vector<ReportLine> report(const std::string& state, const std::vector<std::string>& targets,
                                 const std::vector<ReportLine>& changed = {}) const;
  /// A successful run that printed `lines`.
  static void expect_report(const RunResult& run, const std::vector<ReportLine>& lines);
  /// A run with a failed target: the whole report, then the error.
  static void expect_failed_report(const RunResult& run, const std::vector<ReportLine>& lines);

  /// A copy of the CLI at `relative` inside the test folder (the suffix
  /// .exe added under Wine).
  fs::path copy_cli(const fs::path& relative);

  // The stand-in `claude`; its state folder is dir()/claude.
  fs::path claude_state() const { return dir() / "claude"; }
  /// Puts the stand-in into `folder` under the name `claude` natively,
  /// `claude.exe` under Wine; returns its path.
  fs::path put_claude_program(const fs::path& folder);
  /// Puts a `claude.cmd` into `folder` that runs the stand-in (Wine only).
  fs::path put_claude_script(const fs::path& folder);
  /// Every run of the stand-in so far: its arguments and how it was run.
  std::vector<Json> claude_calls() const;
  /// The argument lists of those runs from the `from`-th on.
  std::vector<std::vector<std::string>> claude_args(std::size_t from = 0) const;
  /// The three command lines the CLI gives `claude`.
  static std::vector<std::string> lookup_args() { return {"mcp", "get", "vellumo"}; }
  std::vector<std::string> add_args(const fs::path& cli = {}) const;
  static std::vector<std::string> remove_args() {
    return {"mcp", "remove", "--scope", "user", "vellumo"};
  }

  /// Whether a `claude` the test did not put there could be found: the
  /// fixed folders at the root are searched whatever the environment says.
  static bool machine_has_claude();

  // The user PATH in the registry (Wine only).
  UserPathValue user_path();
  /// Sets the value to `text` with its NUL.
  void set_user_path(unsigned type, const std::string& text);
  /// Sets the value's bytes as they are. Wine skips a write of the bytes
  /// a value has already, without a trace; a value stored without its NUL
  /// shows any write of the CLI, which always adds one.
  void set_user_path_raw(unsigned type, const std::string& bytes);
  void delete_user_path();

 private:
  UserPathValue saved_user_path_;
  bool user_path_saved_ = false;
};

}  // namespace vellumo::e2e
