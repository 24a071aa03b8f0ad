// The agents command end to end: every target at once, installed twice,
// reported, removed; agents that are not there; targets that fail or are
// left alone; and `ensure` with its marker.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <tuple>
#include <utility>

#include "agents_support.h"

namespace vellumo::e2e {
namespace {

using AgentsCommand = AgentsTest;
using AgentsEnsure = AgentsTest;

std::string plain_entry(const std::string& cli) {
  return R"({"args":["mcp"],"command":)" + json_string(cli) + "}";
}

// Our block in Codex's config.toml for the CLI at `cli`, its path a TOML
// basic string (the test paths hold no control characters).
std::string codex_block(const std::string& cli) {
  std::string quoted = "\"";
  for (const char c : cli) {
    if (c == '\\' || c == '"') {
      quoted += '\\';
    }
    quoted += c;
  }
  return "[mcp_servers.vellumo]\n"
         "# Added by Vellumo: points agents to vellumo-cli\n"
         "command = " +
         quoted + "\"\nargs = [\"mcp\"]\n";
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

// A path's kind, stamp and, for a small file, bytes.
auto look(const fs::path& path) {
  const fs::file_type type = fs::symlink_status(path).type();
  const bool small = type == fs::file_type::regular && fs::file_size(path) < 4096;
  return std::tuple(type, stamp(path), small ? file_bytes(path) : "");
}

// What look() sees of everything below `folder`, links not followed.
std::map<fs::path, decltype(look({}))> tree(const fs::path& folder) {
  std::map<fs::path, decltype(look({}))> seen;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    seen[entry.path()] = look(entry.path());
  }
  return seen;
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
  EXPECT_EQ(file_bytes(codex_file()), "model = \"o3\"\n\n" + codex_block(self));
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
  EXPECT_EQ(file_bytes(codex_file()), codex_block(self));
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
  // A relative CODEX_HOME counts as unset, even where it names a folder.
  set_env("CODEX_HOME", "codex");
  expect_report(
      cli({"agents", "status"}, {.working_dir = dir()}),
      {path_line("absent"), {"Codex", "absent", in(home_text(), {".codex", "config.toml"})}});
  set_env("CODEX_HOME", text(dir() / "no-codex"));
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
  // A relative value is no home, even where it names a folder.
  for (const std::optional<std::string>& value :
       {std::optional<std::string>(text(dir() / "no-home")), std::optional<std::string>("home"),
        std::optional<std::string>()}) {
    SCOPED_TRACE(value ? home_variable + ("=" + *value) : "no home folder variable");
    set_env(home_variable, value);
    const RunResult status = cli({"agents", "status"}, {.working_dir = dir()});
    if (target().wine) {
      expect_report(status, {path_line("absent")});
    } else {
      // The link lives in the home folder: without one there is none.
      expect_report(status, {{"PATH", "absent", {}}});
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
  // Under any umask, even one that takes the owner's bits, the folders
  // made for the data folder are the user's alone, and so are the lock and
  // the marker, whatever the mode of the one it replaces.
  const fs::path data = home() / ".local/share/Vellumo";
  for (const mode_t umask : {0000, 0777}) {
    fs::remove_all(home() / ".local");
    const mode_t mask = ::umask(umask);
    expect_report(cli({"agents", "install"}, {.working_dir = work}), {path_line("added")});
    EXPECT_EQ(fs::status(data / "agent-integration.json").permissions(), fs::perms(0600));
    fs::permissions(data / "agent-integration.json", fs::perms(0666));
    expect_report(cli({"agents", "install"}, {.working_dir = work}), {path_line("present")});
    ::umask(mask);
    for (const fs::path& made : {home() / ".local", home() / ".local/share", data,
                                 data / "agent-integration.json", data / "agents.lock"}) {
      EXPECT_EQ(fs::status(made).permissions(), fs::perms(made.parent_path() == data ? 0600 : 0700))
          << umask << " " << made;
    }
  }
  EXPECT_EQ(file_bytes(data / "agent-integration.json"), marker_text(text(cli_path()), false));

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

  // HOME names no folder and nothing else is set: nothing is made at all.
  set_env("LOCALAPPDATA", std::nullopt);
  set_env("XDG_DATA_HOME", std::nullopt);
  set_env("HOME", text(dir() / "typo"));
  expect_failed_report(cli({"agents", "install"}),
                       {{"PATH", "failed", "Cannot find the home folder (HOME)."}});
  EXPECT_FALSE(fs::exists(dir() / "typo"));
}

// A lock that cannot be had for another reason than another run stops the
// run, and says why, before anything is made: a link planted at the lock, a
// lock or data folder left behind by a run of root's, met by another user,
// a lock that someone else could hold or swap, or a folder on the way that
// others could change.
TEST_F(AgentsCommand, LockThatCannotBeHad) {
  if (target().wine || machine_has_claude()) {
    GTEST_SKIP() << "runs the native CLI as another user; needs no claude on the machine";
  }
  fs::create_directories(home() / ".gemini");
  fs::permissions(dir(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const fs::path above = dir() / "localappdata";
  const fs::path data = above / "Vellumo";
  const fs::path lock = data / "agents.lock";
  const auto changeable = [](const fs::path& path) {
    return path.string() + " can be changed by other users";
  };
  const std::string shared = changeable(data);
  const auto give = [](const fs::path& path, uid_t user, gid_t group, int mode) {
    ASSERT_EQ(::chown(path.c_str(), user, group), 0);
    fs::permissions(path, fs::perms(mode));
  };
  // Made as root, the data folder is root's unless a case gives it away.
  const struct {
    const char* what;
    std::function<void()> make;
    bool nobody;  // run as nobody, else as root
    std::string why;
  } cases[] = {
      {"a link", [&] { fs::create_symlink(dir() / "elsewhere", lock); }, false,
       "Too many levels of symbolic links (os error 40)"},
      {"a lock of root's",
       [&] {
         put_file(lock, "");
         give(data, 65534, 65534, 0700);
       },
       true, "Permission denied (os error 13)"},
      {"a data folder of root's", [] {}, true, shared},
      {"a data folder that others can write", [&] { give(data, 0, 0, 0757); }, false, shared},
      {"a data folder that another group can write", [&] { give(data, 0, 4242, 0775); }, false,
       shared},
      {"a lock of another user's",
       [&] {
         put_file(lock, "");
         give(lock, 4242, 4242, 0666);
       },
       false, changeable(lock)},
      {"a FIFO at the lock", [&] { ::mkfifo(lock.c_str(), 0666); }, false, changeable(lock)},
      // Judged before the data folder is made in it.
      {"a folder above that others can write",
       [&] {
         fs::remove(data);
         give(above, 0, 0, 0777);
       },
       false, changeable(above)},
      {"a folder above that is a link of another user's",
       [&] {
         fs::remove_all(above);
         fs::create_directories(dir() / "theirs");
         fs::create_symlink(dir() / "theirs", above);
         ASSERT_EQ(::lchown(above.c_str(), 4242, 4242), 0);
       },
       false, changeable(above)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(above);
    fs::create_directories(data);
    c.make();
    const auto held = tree(dir());
    const RunResult run = c.nobody ? this->run("/usr/bin/setpriv",
                                               {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                cli_path().string(), "agents", "install"})
                                   : cli({"agents", "install"});
    const std::string detail = "Cannot lock " + lock.string() + ": " + c.why;
    expect_failed_report(run, {{"PATH", "failed", detail},
                               {"Codex", "failed", detail},
                               {"Gemini CLI", "failed", detail}});
    EXPECT_FALSE(fs::exists(dir() / "elsewhere"));
    EXPECT_EQ(tree(dir()), held);
    EXPECT_FALSE(fs::exists(home() / ".local"));
    EXPECT_TRUE(fs::is_empty(home() / ".gemini"));
  }
}

// Root run with another user's folder in its environment (sudo keeping
// HOME, or any variable naming a folder) changes nothing and makes nothing
// there; it still reports, and runs no program of theirs.
TEST_F(AgentsCommand, RootWithAnotherUsersHome) {
  if (target().wine || ::geteuid() != 0 || machine_has_claude()) {
    GTEST_SKIP() << "natively, as the superuser; needs no claude on the machine";
  }
  make_agent_folders();
  put_file(gemini_file(), "{}\n");
  // Claude Code seems installed but `claude` is not found: failed too.
  put_file(home() / ".claude.json", "{}");
  // Each variable in turn names a folder of theirs, the others root's own.
  const std::pair<const char*, fs::path> theirs[] = {{"HOME", home()},
                                                     {"CODEX_HOME", dir() / "codex"},
                                                     {"XDG_CONFIG_HOME", dir() / "xdg-config"},
                                                     {"APPDATA", dir() / "appdata"},
                                                     {"XDG_DATA_HOME", dir() / "xdg-data"},
                                                     {"LOCALAPPDATA", dir() / "localappdata"}};
  for (const auto& [variable, folder] : theirs) {
    SCOPED_TRACE(variable);
    fs::create_directories(folder);
    set_env(variable, folder.string());
    ASSERT_EQ(::chown(folder.c_str(), 4242, 4242), 0);
    std::vector<ReportLine> refused;
    for (const std::string& name : kEveryTarget) {
      refused.push_back(
          {name, "failed",
           folder.string() + " belongs to another user: run vellumo-cli as that user"});
    }
    const auto before = tree(dir());
    for (const char* mode : {"install", "remove", "uninstall", "ensure"}) {
      SCOPED_TRACE(mode);
      expect_failed_report(cli({"agents", mode}), refused);
      EXPECT_EQ(tree(dir()), before);
    }
    ASSERT_EQ(::chown(folder.c_str(), 0, 0), 0);
  }
  // Their `claude`, in their home, is not run.
  const fs::path claude = put_claude_program(home() / ".local" / "bin");
  ASSERT_EQ(::chown(home().c_str(), 4242, 4242), 0);
  std::vector<std::string> targets = kEveryTarget;
  std::erase(targets, "Claude Code");
  std::vector<ReportLine> status = report("absent", targets);
  status.insert(status.begin() + 1, {"Claude Code", "skipped",
                                     claude.string() + ": can be changed by other users, not run"});
  expect_report(cli({"agents", "status"}), status);
  EXPECT_TRUE(claude_calls().empty());
}

// What an interrupted run left beside the files a run edits goes, once
// the run holds the lock; only exactly that, and status leaves it.
TEST_F(AgentsCommand, LeftoversOfAnInterruptedRun) {
  const fs::path gemini = home() / ".gemini";
  const fs::path bin = home() / ".local" / "bin";
  fs::create_directories(gemini);
  fs::create_directories(bin);
  fs::create_directories(marker().parent_path());
  const std::string tmp = ".vellumo-tmp";
  struct Row {
    fs::path path;
    char kind;  // f file, d folder, l link, n a file of nobody's
    bool stays;
  };
  std::vector<Row> rows = {
      {gemini / ("settings.json.Ab3dE5gH" + tmp), 'f', false},
      {marker().string() + ".00000000" + tmp, 'f', false},
      {gemini / ("settings.json.Ab3dE5g" + tmp), 'f', true},
      {gemini / ("settings.json.Ab3dE5gH9" + tmp), 'f', true},
      {gemini / ("settings.json.Ab3-E5gH" + tmp), 'f', true},
      {gemini / ("mcp.json.Ab3dE5gH" + tmp), 'f', true},
      {gemini / ("settings.json.FOLDER01" + tmp), 'd', true},
  };
  if (!target().wine) {
    rows.push_back({gemini / ("settings.json.LINK0001" + tmp), 'l', true});
    rows.push_back({gemini / ("settings.json.NOBODY01" + tmp), 'n', true});
    rows.push_back({bin / ("vellumo-cli.Ab3dE5gH" + tmp), 'l', false});
  }
  for (const Row& row : rows) {
    if (row.kind == 'd') {
      fs::create_directories(row.path);
    } else if (row.kind == 'l') {
      fs::create_symlink(dir() / "elsewhere", row.path);
    } else {
      put_file(row.path, "x");
      ASSERT_EQ(row.kind == 'n' ? ::chown(row.path.c_str(), 65534, 65534) : 0, 0);
    }
  }
  for (const char* mode : {"status", "install"}) {
    EXPECT_EQ(cli({"agents", mode}).exit_code, 0);
    for (const Row& row : rows) {
      EXPECT_EQ(fs::exists(fs::symlink_status(row.path)), row.stays || mode[0] == 's')
          << mode << " " << row.path;
    }
  }
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

TEST_F(AgentsCommand, TargetsThatFailOrAreLeftAlone) {
  if (machine_has_claude()) {
    GTEST_SKIP() << "this machine has a claude command in a folder that is always searched";
  }
  make_agent_folders();
  const fs::path opencode_file = opencode_folder() / "opencode.json";
  // No file to read: a folder in the place of the file.
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
  const ReportLine codex = {"Codex", "skipped",
                            codex_detail() + ": not a regular file, left alone"};
  const ReportLine cursor = {"Cursor", "skipped",
                             cursor_detail() + ": not a regular file, left alone"};
  // No `claude`; PATH and Gemini CLI in `state`, the rest as above.
  const auto left_alone = [&](const std::string& state) {
    std::vector<std::string> targets = kEveryTarget;
    std::erase(targets, "Claude Code");
    return report(state, targets, {codex, cursor, windsurf, claude_desktop, opencode});
  };

  expect_report(cli({"agents", "status"}), left_alone("absent"));
  EXPECT_FALSE(fs::exists(marker()));

  expect_report(cli({"agents", "install"}), left_alone("added"));
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), false));

  expect_report(cli({"agents", "remove"}), left_alone("removed"));
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), true));
  EXPECT_EQ(contents(untouched), bytes);
  expect_unwritten(stamps);
  EXPECT_TRUE(fs::is_empty(home() / ".gemini" / "settings.vellumo-tmp"));

  // A file that is not UTF-8 is a failure, not a file to skip. Failures or
  // not, the run is remembered.
  fs::remove(marker());
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
  EXPECT_EQ(file_bytes(marker()), marker_text(text(cli_path()), false));
}

// Something at an agent's file that is no plain file, or that cannot be
// replaced without taking something away.
struct LeftAloneRow {
  const char* name;
  bool under_wine;
  void (*make)(const fs::path& path, const std::string& text);  // `text`: the usual one
  const char* reason;                                           // the detail after the file's path
  bool every_mode;  // so in status and remove too; else only a write is refused
  // Only these agents' files are made so ("" the marker alone), the other
  // agents are not there and the marker is read-only, so that ensure still
  // installs; none: every file, the marker too.
  std::vector<std::string> targets = {};
  // The marker, made so, is replaced by a file of its own by every run that
  // writes it; all else stays as it is.
  bool marker_replaced = false;
};

// Every agent's file, not the marker.
const std::vector<std::string> kAgentFiles = {"Codex",    "Gemini CLI",     "Cursor",
                                              "Windsurf", "Claude Desktop", "opencode"};

// A link at `path` to `path`-target, which holds `text`.
void put_link_to_file(const fs::path& path, const std::string& text) {
  put_file(path.string() + "-target", text);
  fs::create_symlink(path.string() + "-target", path);
}

TEST_F(AgentsCommand, FilesThatAreLeftAlone) {
  if (machine_has_claude()) {
    GTEST_SKIP() << "this machine has a claude command in a folder that is always searched";
  }
  const auto read_only = [](const fs::path& path, const std::string& text) {
    put_file(path, text);
    fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
  };
  const std::vector<LeftAloneRow> rows = {
      {"a FIFO", false,
       [](const fs::path& path, const std::string&) { ::mkfifo(path.c_str(), 0644); },
       "not a regular file", true, kAgentFiles},
      {"a link to a device", false,
       [](const fs::path& path, const std::string&) { fs::create_symlink("/dev/zero", path); },
       "not a regular file", true, kAgentFiles},
      // Planted by someone else, to steer our write (a root run's) to a
      // file of their choice.
      {"a link of another user's", false,
       [](const fs::path& path, const std::string& text) {
         put_link_to_file(path, text);
         ASSERT_EQ(::lchown(path.c_str(), 4242, 4242), 0);
       },
       "reached through a link owned by another user", true, kAgentFiles},
      // Nothing but a regular file of the user's own is a marker: what
      // else is there is replaced.
      {"a marker that is a link", false, put_link_to_file, "", true, {""}, true},
      {"a marker that is a FIFO",
       false,
       [](const fs::path& path, const std::string&) { ::mkfifo(path.c_str(), 0644); },
       "",
       true,
       {""},
       true},
      {"a file over 64 MiB", true,
       [](const fs::path& path, const std::string& text) {
         put_file(path, text);
         fs::resize_file(path, (std::uintmax_t{64} << 20) + 1);  // sparse
       },
       "larger than 64 MiB", true},
      {"a read-only file", true, read_only, "read-only", false},
      {"a file with another hard link", true,
       [](const fs::path& path, const std::string& text) {
         put_file(path, text);
         fs::create_hard_link(path, path.string() + "-link");
       },
       "has other hard links", false},
      // Text that a reader may take in more than one way, where an edit
      // would have to pick one.
      {"a doubled server list",
       true,
       [](const fs::path& path, const std::string&) {
         put_file(path, R"({"mcpServers": {}, "mcpServers": {}})");
       },
       "`mcpServers` appears more than once",
       true,
       {"Gemini CLI", "Cursor", "Windsurf", "Claude Desktop"}},
      {"a doubled server list of opencode",
       true,
       [](const fs::path& path, const std::string&) {
         put_file(path, R"({"mcp": {}, "mcp": {}})");
       },
       "`mcp` appears more than once",
       true,
       {"opencode"}},
      {"a doubled server",
       true,
       [](const fs::path& path, const std::string&) {
         const std::string entry = R"("vellumo": {"command": "/opt/old/vellumo-cli"})";
         put_file(path, "{\"" +
                            std::string(path.filename() == "opencode.json" ? "mcp" : "mcpServers") +
                            "\": {" + entry + ", " + entry + "}}");
       },
       "`vellumo` appears more than once",
       true,
       {"Gemini CLI", "Cursor", "Windsurf", "Claude Desktop", "opencode"}},
      {"an inline server table",
       true,
       [](const fs::path& path, const std::string&) {
         put_file(path, "mcp_servers = { vellumo = { command = \"/opt/old/vellumo-cli\" } }\n");
       },
       "`mcp_servers.vellumo` is not a table of its own",
       true,
       {"Codex"}},
      {"an array of server tables",
       true,
       [](const fs::path& path, const std::string&) {
         put_file(path, "[[mcp_servers]]\ncommand = \"/opt/old/vellumo-cli\"\n");
       },
       "`mcp_servers` is an array of tables",
       true,
       {"Codex"}},
      // An added block would be part of the open value: every install
      // would add one more.
      {"a Codex file that ends inside a value",
       true,
       [](const fs::path& path, const std::string& text) { put_file(path, text + "a = [1,\n"); },
       "the file ends inside an unfinished value",
       true,
       {"Codex"}},
      // Read at the limit, written past it: no later run could read it.
      {"a file of 64 MiB that install would grow",
       true,
       [](const fs::path& path, const std::string&) {
         const std::string head = "{\"pad\": \"", tail = "\"}";
         put_file(path, head + std::string((64 << 20) - head.size() - tail.size(), ' ') + tail);
       },
       "would grow past 64 MiB",
       false,
       {"Gemini CLI"}},
  };
  // Each target's file, and the marker that ensure reads (then installs).
  const std::vector<std::tuple<std::string, fs::path, std::string>> files = {
      {"Codex", codex_file(), codex_detail()},
      {"Gemini CLI", gemini_file(), gemini_detail()},
      {"Cursor", cursor_file(), cursor_detail()},
      {"Windsurf", windsurf_file(), windsurf_detail()},
      {"Claude Desktop", claude_desktop_file(), claude_desktop_detail()},
      {"opencode", opencode_folder() / "opencode.json", opencode_detail()},
      {"", marker(), ""}};
  for (const LeftAloneRow& row : rows) {
    if (target().wine && !row.under_wine) {
      continue;
    }
    SCOPED_TRACE(row.name);
    const auto chosen = [&](const std::string& name) {
      return row.targets.empty() || std::count(row.targets.begin(), row.targets.end(), name) > 0;
    };
    std::map<fs::path, decltype(look({}))> before;
    for (const auto& [name, path, detail] : files) {
      fs::remove_all(path.parent_path());
      if (name.empty() || chosen(name)) {
        fs::create_directories(path.parent_path());
        const std::string text = name == "Codex" ? "model = \"o3\"\n" : "{}\n";
        (chosen(name) ? row.make : read_only)(path, text);
        make_old(path);
      }
      before[path] = look(path);
      before[path.string() + "-target"] = look(path.string() + "-target");
    }
    for (const std::string mode : {"status", "install", "ensure", "remove"}) {
      SCOPED_TRACE(mode);
      // A read that waited on a FIFO or a device would run into the time
      // limit, which fails the run.
      const RunResult run = cli({"agents", mode}, {.timeout = target().wine ? 60s : 10s});
      EXPECT_EQ(run.exit_code, 0) << run.err;
      const bool looks_only = mode == "status" || mode == "remove";
      for (const auto& [name, path, detail] : files) {
        if (!name.empty()) {
          EXPECT_EQ(
              report_line(run, name),
              (!chosen(name) ? std::nullopt
               : looks_only && !row.every_mode
                   ? std::optional(ReportLine{name, "absent", detail})
                   : ReportLine{name, "skipped", detail + ": " + row.reason + ", left alone"}));
        }
      }
      for (const auto& [path, seen] : before) {
        if (row.marker_replaced && path == marker() && mode != "status") {
          ASSERT_EQ(fs::symlink_status(path).type(),
                    fs::file_type::regular);  // else unread: a FIFO would block
          EXPECT_EQ(file_bytes(path), marker_text(text(cli_path()), mode == "remove"));
        } else {
          EXPECT_EQ(look(path), seen) << path;
        }
      }
      expect_no_temporary_files(dir());
    }
  }
}

// Run as an ordinary user: a file of its own keeps its set-user-ID bit,
// which a write of the new text would have cleared; one whose owner or
// group it cannot give to a new file is left alone.
TEST_F(AgentsCommand, RunByAnOrdinaryUser) {
  if (target().wine || ::geteuid() != 0) {
    GTEST_SKIP() << "natively, as the superuser, to run the CLI as another user";
  }
  make_agent_folders();
  put_file(gemini_file(), "{}\n");
  put_file(cursor_file(), "{}\n");
  put_file(windsurf_file(), "{}\n");
  const fs::path claude = put_claude_program(dir() / "shared");
  set_path_entries({text(dir() / "shared")});
  ASSERT_EQ(std::system(("chown -R 54321:54321 " + dir().string()).c_str()), 0);
  // A PATH folder that another group may write: its `claude` is not run.
  ASSERT_EQ(::chown(claude.parent_path().c_str(), 54321, 4242), 0);
  fs::permissions(claude.parent_path(), fs::perms(0775));
  fs::permissions(gemini_file(), fs::perms(04755));
  ASSERT_EQ(::chown(cursor_file().c_str(), 0, 0), 0);
  fs::permissions(cursor_file(), fs::perms(0666));  // anyone may write it, yet not own it
  ASSERT_EQ(::chown(windsurf_file().c_str(), 54321, 0), 0);
  // Links that a third user planted: the Codex file, and ~/.local on the
  // way to the PATH link. Theirs are not followed.
  fs::create_directories(dir() / "theirs" / "bin");
  put_file(dir() / "theirs" / "config.toml", "");
  for (const auto& [link, to] : {std::pair{codex_file(), dir() / "theirs" / "config.toml"},
                                 std::pair{home() / ".local", dir() / "theirs"}}) {
    fs::create_symlink(to, link);
    ASSERT_EQ(::lchown(link.c_str(), 4242, 4242), 0);
  }
  const auto others = aged_stamps(
      {cursor_file(), windsurf_file(), dir() / "theirs" / "bin", dir() / "theirs" / "config.toml"});

  const RunResult install =
      run("/usr/bin/setpriv", {"--reuid=54321", "--regid=54321", "--clear-groups",
                               cli_path().string(), "agents", "install"});
  EXPECT_EQ(install.exit_code, 0) << install.err;
  EXPECT_EQ(report_line(install, "Gemini CLI"),
            (ReportLine{"Gemini CLI", "added", gemini_detail()}));
  EXPECT_EQ(fs::status(gemini_file()).permissions(), fs::perms(04755));
  for (const auto& [name, detail] :
       {std::pair{"Cursor", cursor_detail()}, std::pair{"Windsurf", windsurf_detail()}}) {
    EXPECT_EQ(
        report_line(install, name),
        (ReportLine{name, "skipped", detail + ": owned by another user or group, left alone"}));
  }
  const std::string planted = ": reached through a link owned by another user, left alone";
  EXPECT_EQ(report_line(install, "Codex"),
            (ReportLine{"Codex", "skipped", codex_detail() + planted}));
  EXPECT_EQ(report_line(install, "PATH"),
            (ReportLine{"PATH", "skipped", path_line("added").detail.value() + planted}));
  expect_unwritten(others);
  EXPECT_EQ(report_line(install, "Claude Code"),
            (ReportLine{"Claude Code", "skipped",
                        claude.string() + ": can be changed by other users, not run"}));
  EXPECT_TRUE(claude_calls().empty());
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
  // A marker that someone else made says nothing, not even "removed".
  if (!target().wine) {
    put_file(marker(), "{\"cli\": " + json_string(self) + ", \"removed\": true}");
    ASSERT_EQ(::chown(marker().c_str(), 4242, 4242), 0);
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
  EXPECT_EQ(file_bytes(codex_file()), codex_block(text(moved)));
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
