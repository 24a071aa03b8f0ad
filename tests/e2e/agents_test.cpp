// The agents command end to end: every target at once, installed twice,
// reported, removed; agents that are not there; targets that fail or are
// left alone; and `ensure` with its marker.

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "agent_integration/codex_config.h"
#include "agents_support.h"

namespace vellumo::e2e {
namespace {

using AgentsCommand = AgentsTest;
using AgentsEnsure = AgentsTest;

std::string plain_entry(const std::string& cli) {
  return R"({"args":["mcp"],"command":)" + json_string(cli) + "}";
}

// The stamps of `paths` after setting their times far back.
std::map<fs::path, std::optional<FileStamp>> aged_stamps(const std::vector<fs::path>& paths) {
  std::map<fs::path, std::optional<FileStamp>> stamps;
  for (const fs::path& path : paths) {
    make_old(path);
    stamps[path] = stamp(path);
  }
  return stamps;
}

void expect_unwritten(const std::map<fs::path, std::optional<FileStamp>>& stamps) {
  for (const auto& [path, before] : stamps) {
    EXPECT_EQ(stamp(path), before) << path << " was written";
  }
}

std::map<fs::path, std::string> contents(const std::vector<fs::path>& paths) {
  std::map<fs::path, std::string> bytes;
  for (const fs::path& path : paths) {
    bytes[path] = file_bytes(path);
  }
  return bytes;
}

// No temporary sibling is left anywhere below `folder`.
void expect_no_temporary_files(const fs::path& folder) {
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    EXPECT_NE(entry.path().extension(), ".vellumo-tmp") << entry.path();
  }
}

TEST_F(AgentsCommand, InstallTwiceThenStatusRemoveAndUninstall) {
  make_agent_folders();
  put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});
  const std::string self = text(cli_path());
  const fs::path opencode_file = opencode_folder() / "opencode.jsonc";
  const std::string opencode_detail = in(home_text(), {".config", "opencode", "opencode.jsonc"});

  // Someone else's servers, formatted as the editor formats them, so that
  // taking our entry out again gives back the very bytes.
  const std::string gemini_before = R"({
  "theme": "dark",
  "mcpServers": {
    "other": {
      "command": "node",
      "args": ["x.js"]
    }
  }
}
)";
  put_file(gemini_file(), gemini_before);
  // Ours, from an older location, with line breaks of its own.
  put_file(cursor_file(),
           "{\r\n  \"mcpServers\": {\r\n    \"vellumo\": {\"command\": "
           "\"D:\\\\Old\\\\VELLUMO-CLI.EXE\", \"args\": [\"mcp\"], \"env\": {}}\r\n  }\r\n}\r\n");
  const std::string someone_else =
      R"({"mcpServers": {"vellumo": {"command": "node", "args": ["srv.js"]}}})";
  put_file(claude_desktop_file(), someone_else);
  put_file(opencode_file, R"({"theme": "x"})");
  put_file(codex_file(), "model = \"o3\"\n\n\n");

  const std::vector<fs::path> files = {gemini_file(),         cursor_file(), windsurf_file(),
                                       claude_desktop_file(), opencode_file, codex_file()};
  // Every target in `state`, the server of Claude Desktop being someone
  // else's throughout.
  const auto every = [&](const std::string& state, std::vector<ReportLine> changed = {}) {
    changed.push_back({"Claude Desktop", "skipped", claude_desktop_detail()});
    changed.push_back({"opencode", state, opencode_detail});
    return report(state, kEveryTarget, changed);
  };

  expect_report(cli({"agents", "status"}),
                every("absent", {{"Cursor", "skipped", cursor_detail()}}));
  EXPECT_FALSE(fs::exists(marker())) << "status wrote the marker";
  EXPECT_FALSE(fs::exists(windsurf_file()));
  EXPECT_EQ(claude_args(), std::vector<std::vector<std::string>>{lookup_args()});

  const RunResult first = cli({"agents", "install"});
  EXPECT_EQ(first.exit_code, 0) << first.err;
  // The exact shape of a report, once, written out.
  EXPECT_EQ(line_of(first.out, 1), "[");
  EXPECT_EQ(line_of(first.out, 2), "  {");
  EXPECT_EQ(line_of(first.out, 3),
            "    \"detail\": " + json_string(path_line("added").detail.value()) + ",");
  EXPECT_EQ(line_of(first.out, 4), "    \"state\": \"added\",");
  EXPECT_EQ(line_of(first.out, 5), "    \"target\": \"PATH\"");
  EXPECT_EQ(line_of(first.out, 6), "  },");
  EXPECT_EQ(line_of(first.out, 7), "  {");
  EXPECT_EQ(line_of(first.out, 8), "    \"state\": \"added\",");
  EXPECT_EQ(line_of(first.out, 9), "    \"target\": \"Claude Code\"");
  expect_report(first, every("added", {{"Cursor", "updated", cursor_detail()}}));
  EXPECT_EQ(file_bytes(gemini_file()), R"({
  "theme": "dark",
  "mcpServers": {
    "other": {
      "command": "node",
      "args": ["x.js"]
    },
    "vellumo": )" + plain_entry(self) + R"(
  }
}
)");
  EXPECT_EQ(file_bytes(cursor_file()), "{\r\n  \"mcpServers\": {\r\n    \"vellumo\": " +
                                           plain_entry(self) + "\r\n  }\r\n}\r\n");
  EXPECT_EQ(file_bytes(windsurf_file()),
            "{\n  \"mcpServers\": {\n    \"vellumo\": " + plain_entry(self) + "\n  }\n}\n");
  EXPECT_EQ(file_bytes(claude_desktop_file()), someone_else);
  EXPECT_EQ(file_bytes(opencode_file),
            "{\n  \"theme\": \"x\",\n  \"mcp\": {\n    \"vellumo\": "
            "{\"command\":[" +
                json_string(self) + ",\"mcp\"],\"enabled\":true,\"type\":\"local\"}\n  }\n}\n");
  EXPECT_FALSE(fs::exists(opencode_folder() / "opencode.json"));
  EXPECT_EQ(file_bytes(codex_file()), "model = \"o3\"\n\n" + agents::codex_block(self));
  EXPECT_EQ(file_bytes(marker()), marker_text(self, false));
  EXPECT_EQ(claude_args(1), (std::vector<std::vector<std::string>>{lookup_args(), add_args()}));
  const fs::path link = home() / ".local" / "bin" / "vellumo-cli";
  if (target().wine) {
    const UserPathValue value = user_path();
    EXPECT_EQ(value.type, 2u);
    EXPECT_EQ(value.text(), text(cli_path().parent_path()));
  } else {
    EXPECT_EQ(fs::read_symlink(link), cli_path());
  }
  expect_no_temporary_files(dir());

  // The second install finds everything in place and writes nothing but
  // the marker.
  std::vector<fs::path> written = files;
  if (!target().wine) {
    written.push_back(link);
  }
  const auto before = aged_stamps(written);
  make_old(marker());
  const auto old_marker = stamp(marker());
  // Stored without its NUL, the value shows any write (see set_user_path_raw).
  const std::string path_bytes = utf16_bytes(text(cli_path().parent_path()));
  if (target().wine) {
    set_user_path_raw(2, path_bytes);
  }
  const std::uint64_t key_written = target().wine ? user_path().key_written : 0;
  const std::size_t calls = claude_calls().size();
  const std::vector<ReportLine> installed = every("present");
  expect_report(cli({"agents", "install"}), installed);
  expect_unwritten(before);
  EXPECT_NE(stamp(marker()), old_marker) << "the marker was not rewritten";
  EXPECT_EQ(file_bytes(marker()), marker_text(self, false));
  if (target().wine) {
    const UserPathValue value = user_path();
    EXPECT_EQ(value.key_written, key_written) << "the user PATH was written";
    EXPECT_EQ(value.data, path_bytes) << "the user PATH was written";
  }
  EXPECT_EQ(claude_args(calls), std::vector<std::vector<std::string>>{lookup_args()});

  make_old(marker());
  const auto aged_marker = stamp(marker());
  expect_report(cli({"agents", "status"}), installed);
  EXPECT_EQ(stamp(marker()), aged_marker) << "status touched the marker";
  expect_unwritten(before);

  const std::vector<ReportLine> removed = every("removed");
  const std::size_t before_remove = claude_calls().size();
  expect_report(cli({"agents", "remove"}), removed);
  EXPECT_EQ(claude_args(before_remove),
            (std::vector<std::vector<std::string>>{lookup_args(), remove_args()}));
  EXPECT_EQ(file_bytes(gemini_file()), gemini_before);
  EXPECT_EQ(file_bytes(cursor_file()), "{}\r\n");
  EXPECT_EQ(file_bytes(windsurf_file()), "{}\n");
  EXPECT_EQ(file_bytes(claude_desktop_file()), someone_else);
  EXPECT_EQ(file_bytes(opencode_file), "{\n  \"theme\": \"x\"\n}\n");
  EXPECT_EQ(file_bytes(codex_file()), "model = \"o3\"\n");
  EXPECT_EQ(file_bytes(marker()), marker_text(self, true));
  if (target().wine) {
    const UserPathValue value = user_path();
    EXPECT_TRUE(value.exists);
    EXPECT_EQ(value.text(), "");
  } else {
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_directory(link.parent_path()));
  }
  const auto after_remove = contents(files);

  expect_report(cli({"agents", "status"}), every("absent"));

  // uninstall is remove under another name, marker included.
  expect_report(cli({"agents", "install"}), every("added"));
  EXPECT_EQ(file_bytes(marker()), marker_text(self, false));
  expect_report(cli({"agents", "uninstall"}), removed);
  EXPECT_EQ(contents(files), after_remove);
  EXPECT_EQ(file_bytes(marker()), marker_text(self, true));
  expect_no_temporary_files(dir());
}

TEST_F(AgentsCommand, CliInAFolderWithAnOddName) {
  // Non-ASCII letters, spaces and characters that JSON, TOML and the
  // command interpreter treat specially. A Windows name can hold no `"`
  // and no `\`; and no `%` here, which Wine's cmd.exe (unlike Windows')
  // expands again in the text a script's %* stands for.
  const fs::path odd =
      copy_cli(target().wine ? "Pr\xC3\xB6gr\xC3\xA4mme/it's \xE2\x9C\x93 & (co) ^!/vellumo-cli"
                             : "Pr\xC3\xB6gr\xC3\xA4mme/it's \"odd\" \\ \xE2\x9C\x93/vellumo-cli");
  const std::string self = text(odd);
  fs::create_directories(home() / ".gemini");
  // Through the command interpreter under Wine.
  if (target().wine) {
    put_claude_script(dir() / "bin");
  } else {
    put_claude_program(dir() / "bin");
  }
  set_path_entries({text(dir() / "bin")});
  fs::remove(dir() / "appdata");

  expect_report(run(odd, {"agents", "install"}),
                report("added", kGeminiOnlyTargets, {path_line("added", odd)}));
  EXPECT_EQ(file_bytes(gemini_file()),
            "{\n  \"mcpServers\": {\n    \"vellumo\": " + plain_entry(self) + "\n  }\n}\n");
  EXPECT_EQ(file_bytes(codex_file()), agents::codex_block(self));
  EXPECT_EQ(file_bytes(marker()), marker_text(self, false));
  EXPECT_EQ(file_bytes(claude_state() / "server"), self);
  EXPECT_EQ(claude_args(), (std::vector<std::vector<std::string>>{lookup_args(), add_args(odd)}));
  if (target().wine) {
    EXPECT_EQ(user_path().text(), text(odd.parent_path()));
    set_user_path_raw(2, utf16_bytes(text(odd.parent_path())));  // see set_user_path_raw
  } else {
    EXPECT_EQ(fs::read_symlink(home() / ".local" / "bin" / "vellumo-cli"), odd);
  }

  // Every text read back matches the one written: nothing to do.
  const auto before = aged_stamps({gemini_file(), codex_file()});
  const std::string path_data = target().wine ? user_path().data : "";
  expect_report(run(odd, {"agents", "install"}),
                report("present", kGeminiOnlyTargets, {path_line("present", odd)}));
  expect_unwritten(before);
  if (target().wine) {
    EXPECT_EQ(user_path().data, path_data) << "the user PATH was written";
  }

  expect_report(run(odd, {"agents", "remove"}),
                report("removed", kGeminiOnlyTargets, {path_line("removed", odd)}));
  EXPECT_FALSE(fs::exists(claude_state() / "server"));
  EXPECT_EQ(file_bytes(gemini_file()), "{}\n");
  EXPECT_EQ(file_bytes(codex_file()), "\n");
  EXPECT_EQ(file_bytes(marker()), marker_text(self, true));
}

TEST_F(AgentsCommand, CliPathThatIsNotText) {
  if (target().wine) {
    GTEST_SKIP() << "a Windows name is UTF-16 text: a lone byte cannot stand in it";
  }
  const fs::path odd = copy_cli("not-text\xFF/vellumo-cli");
  const std::string shown = "The CLI's path cannot be written as text: " +
                            (dir() / "not-text\xEF\xBF\xBD" / "vellumo-cli").string();
  fs::create_directories(home() / ".gemini");
  put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});
  fs::remove(dir() / "appdata");
  // Only the PATH link, which holds the path's bytes, is made.
  for (const auto& [word, path_state] :
       {std::pair{"install", "added"}, {"status", "present"}, {"remove", "removed"}}) {
    std::vector<ReportLine> expected = {path_line(path_state, odd)};
    for (const char* target : {"Claude Code", "Codex", "Gemini CLI"}) {
      expected.push_back({target, "failed", shown});
    }
    expect_failed_report(run(odd, {"agents", word}), expected);
    if (std::string(word) == "install") {
      EXPECT_EQ(fs::read_symlink(home() / ".local" / "bin" / "vellumo-cli"), odd);
    }
  }
  EXPECT_FALSE(fs::exists(gemini_file()));
  EXPECT_FALSE(fs::exists(codex_file()));
  EXPECT_FALSE(fs::exists(marker()));
  EXPECT_TRUE(claude_calls().empty());
}

TEST_F(AgentsCommand, AgentsThatAreNotThereAndNoHomeFolder) {
  if (machine_has_claude()) {
    GTEST_SKIP() << "this machine has a claude command in a folder that is always searched";
  }
  // Folders near the agents' but not theirs; CODEX_HOME wins over ~/.codex;
  // a .claude.json that is no file does not make Claude Code installed.
  fs::create_directories(home() / ".codex");
  fs::create_directories(home() / ".codeium");
  fs::create_directories(home() / ".config");
  fs::create_directories(home() / ".claude.json");
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  fs::remove(dir() / "appdata");
  // Words compare exactly; one word only.
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"agents", "Install"}, {"agents", "foo"}, {"agents", "ensure", "now"}}) {
    SCOPED_TRACE(words[1]);
    expect_error(cli(words), 2, "Use `agents status|install|remove`.");
  }
  expect_report(cli({"agents", "status"}), {path_line("absent")});
  EXPECT_FALSE(fs::exists(marker()));
  expect_report(cli({"agents", "install"}), {path_line("added")});
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), false));
  expect_report(cli({"agents", "remove"}), {path_line("removed")});
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), true));
  EXPECT_FALSE(fs::exists(home() / ".codex" / "config.toml"));
  EXPECT_FALSE(fs::exists(dir() / "no-codex"));

  // Without a home folder only the PATH line is left, even with every
  // agent's folder and `claude` at hand.
  make_agent_folders();
  fs::remove(home() / ".claude.json");
  put_file(home() / ".claude.json", "{}");
  put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});
  set_env("CODEX_HOME", text(dir() / "codex"));
  const char* home_variable = target().wine ? "USERPROFILE" : "HOME";
  for (const std::optional<std::string>& value :
       {std::optional<std::string>(text(dir() / "no-home")), std::optional<std::string>()}) {
    SCOPED_TRACE(value ? "a home folder that does not exist" : "no home folder variable");
    set_env(home_variable, value);
    if (target().wine) {
      expect_report(cli({"agents", "status"}), {path_line("absent")});
    } else {
      // The link lives in the home folder: without one there is none.
      expect_report(cli({"agents", "status"}), {{"PATH", "absent", {}}});
    }
  }
  fs::remove(marker());
  if (target().wine) {
    expect_report(cli({"agents", "install"}), {path_line("added")});
  } else {
    expect_failed_report(cli({"agents", "install"}),
                         {{"PATH", "failed", "Cannot find the home folder (HOME)."}});
  }
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), false));
  EXPECT_TRUE(claude_calls().empty());
  EXPECT_FALSE(fs::exists(gemini_file()));
  EXPECT_FALSE(fs::exists(codex_file()));
}

// The data folder is never taken relative to the current folder: an empty
// or relative variable is passed over, and with none at all nothing is kept
// (and the stand-in app does not start).
TEST_F(AgentsCommand, DataFolderOnlyWhereAbsolute) {
  if (target().wine) {
    GTEST_SKIP() << "Wine gives every program a LOCALAPPDATA of its own";
  }
  const fs::path work = dir() / "work";
  fs::create_directories(work);
  set_env("LOCALAPPDATA", "");
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  set_env("XDG_DATA_HOME", "data");
  expect_report(cli({"agents", "install"}, {.working_dir = work}), {path_line("added")});
  EXPECT_EQ(file_bytes(home() / ".local/share/Vellumo/agent-integration.json"),
            marker_text(text(cli_path()), false));

  // A data folder that cannot be made: no lock and no marker, but the run
  // goes on.
  put_file(dir() / "data-file", "x");
  set_env("XDG_DATA_HOME", text(dir() / "data-file"));
  fs::remove_all(home() / ".local/share");
  expect_report(cli({"agents", "install"}, {.working_dir = work}), {path_line("present")});
  EXPECT_EQ(file_bytes(dir() / "data-file"), "x");

  set_env("XDG_DATA_HOME", "data");
  set_env("HOME", "home");
  const RunResult ensure = cli({"agents", "ensure"}, {.working_dir = work});
  expect_failed_report(ensure, {{"PATH", "failed", "Cannot find the home folder (HOME)."}});
  const RunResult standin = run(target().standin, {"--startup"}, {.working_dir = work});
  EXPECT_EQ(standin.exit_code, 1);
  EXPECT_NE(standin.err.find("Cannot find the data folder"), std::string::npos) << standin.err;
  EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(AgentsCommand, ClaudeDesktopWithoutAppData) {
  set_env("APPDATA", std::nullopt);
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  const auto claude_desktop = [&](const std::string& detail) {
    return std::vector<ReportLine>{path_line("absent"), {"Claude Desktop", "absent", detail}};
  };
  if (target().wine) {
    // The home folder's roaming data, the fragment kept as written.
    fs::create_directories(home() / "AppData" / "Roaming" / "Claude");
    expect_report(cli({"agents", "status"}),
                  claude_desktop(in(home_text(),
                                    {"AppData/Roaming", "Claude", "claude_desktop_config.json"})));
    return;
  }
  // XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
  fs::create_directories(dir() / "config" / "Claude");
  fs::create_directories(home() / ".config" / "Claude");
  set_env("XDG_CONFIG_HOME", (dir() / "config").string());
  expect_report(
      cli({"agents", "status"}),
      claude_desktop((dir() / "config" / "Claude" / "claude_desktop_config.json").string()));
  const std::string home_config =
      (home() / ".config" / "Claude" / "claude_desktop_config.json").string();
  for (const std::optional<std::string>& value :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("config")}) {
    SCOPED_TRACE(value ? "XDG_CONFIG_HOME=" + *value : "no XDG_CONFIG_HOME");
    set_env("XDG_CONFIG_HOME", value);
    expect_report(cli({"agents", "status"}), claude_desktop(home_config));
  }
}

// The text of the system error for reading a folder as a file.
std::string folder_read_error() {
  return target().wine ? "Access denied. (os error 5)" : "Is a directory (os error 21)";
}

TEST_F(AgentsCommand, TargetsThatFailOrAreLeftAlone) {
  if (machine_has_claude()) {
    GTEST_SKIP() << "this machine has a claude command in a folder that is always searched";
  }
  make_agent_folders();
  const fs::path opencode_file = opencode_folder() / "opencode.json";
  // Cannot be read: a folder in the place of the file.
  fs::create_directories(cursor_file());
  fs::create_directories(codex_file());
  // Something at the old fixed temporary name is no obstacle, and stays.
  put_file(gemini_file(), "{}\n");
  fs::create_directories(home() / ".gemini" / "settings.vellumo-tmp");
  // Not strict JSON, or the server list is no object: never written.
  put_file(windsurf_file(), "{\n  // mine\n  \"mcpServers\": {},\n}\n");
  put_file(claude_desktop_file(), R"({"mcpServers": ["vellumo"]})");
  put_file(opencode_file, "\xEF\xBB\xBF{}");
  const std::vector<fs::path> untouched = {windsurf_file(), claude_desktop_file(), opencode_file};
  const auto bytes = contents(untouched);
  const auto stamps = aged_stamps(untouched);

  const ReportLine windsurf = {"Windsurf", "skipped",
                               windsurf_detail() + ": not plain JSON, left alone"};
  const ReportLine claude_desktop = {"Claude Desktop", "skipped",
                                     claude_desktop_detail() + ": `mcpServers` is not an object"};
  const ReportLine opencode = {"opencode", "skipped",
                               opencode_detail() + ": not plain JSON, left alone"};
  const ReportLine codex = {"Codex", "failed", folder_read_error()};
  const ReportLine cursor = {"Cursor", "failed", folder_read_error()};
  // No `claude`; PATH and Gemini CLI in `state`, the rest as above.
  const auto left_alone = [&](const std::string& state) {
    std::vector<std::string> targets = kEveryTarget;
    std::erase(targets, "Claude Code");
    return report(state, targets, {codex, cursor, windsurf, claude_desktop, opencode});
  };

  expect_failed_report(cli({"agents", "status"}), left_alone("absent"));
  EXPECT_FALSE(fs::exists(marker()));

  const RunResult install = cli({"agents", "install"});
  expect_failed_report(install, left_alone("added"));
  // Failures or not, the run is remembered.
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), false));

  expect_failed_report(cli({"agents", "remove"}), left_alone("removed"));
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), true));
  EXPECT_EQ(contents(untouched), bytes);
  expect_unwritten(stamps);
  EXPECT_TRUE(fs::is_empty(home() / ".gemini" / "settings.vellumo-tmp"));

  // A file that is not UTF-8 is a failure, not a file to skip.
  put_file(claude_desktop_file(), "{\"a\": \"\xFF\"}");
  fs::remove_all(cursor_file());
  fs::remove_all(codex_file());
  fs::remove_all(home() / ".gemini");
  fs::remove_all(home() / ".codeium");
  fs::remove_all(opencode_folder());
  expect_failed_report(cli({"agents", "install"}),
                       {path_line("added"),
                        {"Codex", "added", codex_detail()},
                        {"Cursor", "added", cursor_detail()},
                        {"Claude Desktop", "failed", "stream did not contain valid UTF-8"}});
  EXPECT_EQ(file_bytes(claude_desktop_file()), "{\"a\": \"\xFF\"}");
}

TEST_F(AgentsEnsure, OncePerLocationUnlessRemoved) {
  fs::create_directories(home() / ".gemini");
  put_claude_program(dir() / "bin");
  set_path_entries({text(dir() / "bin")});

  // From a build output folder: nothing at all, not even a marker.
  for (const char* folder : {"src/app/target/debug", "target/release"}) {
    SCOPED_TRACE(folder);
    const fs::path copy = copy_cli(fs::path(folder) / "vellumo-cli");
    expect_report(run(copy, {"agents", "ensure"}), {});
  }
  EXPECT_FALSE(fs::exists(marker()));
  EXPECT_FALSE(fs::exists(gemini_file()));
  EXPECT_FALSE(fs::exists(codex_file()));
  EXPECT_TRUE(claude_calls().empty());
  if (target().wine) {
    EXPECT_FALSE(user_path().exists);
  } else {
    EXPECT_FALSE(fs::exists(fs::symlink_status(home() / ".local")));
  }

  // No marker: an install.
  const std::string self = text(cli_path());
  expect_report(cli({"agents", "ensure"}), report("added", kGeminiOnlyTargets));
  EXPECT_EQ(file_bytes(marker()), marker_text(self, false));
  const std::vector<ReportLine> present = report("present", kGeminiOnlyTargets);

  // The marker names this CLI: nothing to do, the marker left as it is.
  // Separator style and doubled separators do not matter; letter case does.
  const std::string sep = target().wine ? "\\" : "/";
  std::string slashed = self;
  std::string doubled;
  for (char c : self) {
    doubled += c;
    if (std::string(1, c) == sep) {
      doubled += c;
    }
  }
  if (target().wine) {
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
  } else {
    slashed = "/" + self;
  }
  for (const std::string& named : {self, slashed, doubled}) {
    SCOPED_TRACE("marker naming " + named);
    put_file(marker(), "{\"cli\": " + json_string(named) + ", \"removed\": false}");
    make_old(marker());
    const auto aged = stamp(marker());
    const std::size_t calls = claude_calls().size();
    expect_report(cli({"agents", "ensure"}), {});
    EXPECT_EQ(stamp(marker()), aged);
    EXPECT_EQ(claude_calls().size(), calls);
  }
  std::string other_case = self;
  other_case.back() = static_cast<char>(std::toupper(static_cast<unsigned char>(self.back())));
  for (const std::string& marker_content :
       {"{\"cli\": " + json_string(other_case) + ", \"removed\": false}",
        std::string("[") + json_string(self) + ", false" /* not JSON */,
        "{\"cli\": " + json_string(self) + ", \"removed\": false, \"removed\": true}"}) {
    SCOPED_TRACE("marker " + marker_content);
    put_file(marker(), marker_content);
    expect_report(cli({"agents", "ensure"}), present);
    EXPECT_EQ(file_bytes(marker()), marker_text(self, false));
  }
  // The array form is a marker too.
  put_file(marker(), "[" + json_string(self) + ", false]");
  expect_report(cli({"agents", "ensure"}), {});

  // Removed: ensure does not put it back, until an explicit install.
  expect_report(cli({"agents", "remove"}), report("removed", kGeminiOnlyTargets));
  const auto removed_files = contents({gemini_file(), codex_file(), marker()});
  expect_report(cli({"agents", "ensure"}), {});
  EXPECT_EQ(contents({gemini_file(), codex_file(), marker()}), removed_files);
  EXPECT_EQ(file_bytes(marker()), marker_text(self, true));
  EXPECT_EQ(claude_calls().back().at("args"), Json(remove_args()));
  expect_report(cli({"agents", "install"}), report("added", kGeminiOnlyTargets));
  expect_report(cli({"agents", "ensure"}), {});

  // The CLI has moved: the entries that point to the old place are
  // repaired. The old folder stays on the Windows PATH; the POSIX link is
  // repointed.
  const fs::path moved = copy_cli("moved/vellumo-cli");
  const std::size_t calls = claude_calls().size();
  expect_report(run(moved, {"agents", "ensure"}),
                report("updated", kGeminiOnlyTargets,
                       {path_line(target().wine ? "added" : "updated", moved)}));
  EXPECT_EQ(claude_args(calls),
            (std::vector<std::vector<std::string>>{lookup_args(), remove_args(), add_args(moved)}));
  EXPECT_EQ(file_bytes(marker()), marker_text(text(moved), false));
  EXPECT_EQ(file_bytes(gemini_file()),
            "{\n  \"mcpServers\": {\n    \"vellumo\": " + plain_entry(text(moved)) + "\n  }\n}\n");
  EXPECT_EQ(file_bytes(codex_file()), agents::codex_block(text(moved)));
  if (target().wine) {
    EXPECT_EQ(user_path().text(), text(cli_path().parent_path()) + ";" + text(moved.parent_path()));
  } else {
    EXPECT_EQ(fs::read_symlink(home() / ".local" / "bin" / "vellumo-cli"), moved);
  }
  expect_report(run(moved, {"agents", "ensure"}), {});

  // "release" that does not follow "target" directly is no build output.
  const fs::path nested = copy_cli("target/x/release/vellumo-cli");
  expect_report(run(nested, {"agents", "ensure"}),
                report("updated", kGeminiOnlyTargets,
                       {path_line(target().wine ? "added" : "updated", nested)}));
  EXPECT_EQ(file_bytes(marker()), marker_text(text(nested), false));
}

}  // namespace
}  // namespace vellumo::e2e
