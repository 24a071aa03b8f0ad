#include <gtest/gtest.h>
#include <toml++/toml.h>

#include <functional>
#include <string>
#include <utility>

#include "agent_integration/codex_config.h"
#include "agent_integration/toml_check.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "support/files.h"
#include "support/scratch_folder.h"

namespace vellumo::agents {
namespace {

using test::file_bytes;
using test::put_file;
using test::ScratchFolder;

const std::string kCli = R"(C:\Tools\vellumo-cli.exe)";
const std::string kQ = R"("C:\\Tools\\vellumo-cli.exe")";
const std::string kBlock =
    "[mcp_servers.vellumo]\n"
    "# Added by Vellumo: points agents to vellumo-cli\n"
    "command = \"C:\\\\Tools\\\\vellumo-cli.exe\"\n"
    "args = [\"mcp\"]\n";

const std::string kOldBlock =
    "[mcp_servers.vellumo]\n"
    "# Added by Vellumo: points agents to vellumo-cli\n"
    "command = \"D:\\\\Old\\\\vellumo-cli.exe\"\n"
    "args = [\"mcp\"]\n";

void expect_no_write(const CodexPlan& p, TargetState state) {
  EXPECT_EQ(p.state, state);
  EXPECT_FALSE(p.new_text.has_value());
}

// The parser's reading of `text`'s server, "" when it does not parse, "-"
// when there is no server.
std::string server_command(std::string_view text) {
  const toml::parse_result parsed = toml::parse(toml_parser_input(text));
  if (!parsed) {
    return "";
  }
  return parsed.table()["mcp_servers"]["vellumo"]["command"].value_or(std::string("-"));
}

CodexPlan expect_write(Mode mode, std::string_view text, TargetState state,
                       std::string_view expected) {
  CodexPlan p = plan_codex_edit(mode, text, kCli);
  EXPECT_EQ(p.state, state) << text;
  EXPECT_EQ(p.new_text, std::optional<std::string>(std::string(expected))) << text;
  // What parsed before parses after, and says what the edit meant.
  if (toml::parse(toml_parser_input(text)) && p.new_text) {
    EXPECT_EQ(server_command(*p.new_text), mode == Mode::Remove ? "-" : kCli) << *p.new_text;
  }
  return p;
}

TEST(AgentCodex, QuotedPath) {
  EXPECT_EQ(codex_quoted_path(kCli), kQ);
  EXPECT_EQ(codex_quoted_path("/usr/bin/vellumo-cli"), "\"/usr/bin/vellumo-cli\"");
  // Backslashes are doubled first, then quotation marks get their backslash.
  EXPECT_EQ(codex_quoted_path(R"(/a"b\c)"), R"("/a\"b\\c")");
  EXPECT_EQ(codex_quoted_path(R"(\")"), R"("\\\"")");
  EXPECT_EQ(codex_quoted_path(""), "\"\"");
}

TEST(AgentCodex, TheFourLines) { EXPECT_EQ(codex_block(kCli), kBlock); }

// What the plans show of the facts about `text`'s first block, for a text
// whose server is a table of its own and a CLI path that mentions
// "vellumo-cli": whether there is a block (status: not absent), whether its
// command mentions the CLI (install: present or updated) and whether it
// points to it (status: present).
CodexFacts codex_facts(std::string_view text, std::string_view cli_path) {
  const CodexPlan status = plan_codex_edit(Mode::Status, text, cli_path);
  const CodexPlan install = plan_codex_edit(Mode::Install, text, cli_path);
  EXPECT_EQ(status.reason + install.reason, "") << text;
  CodexFacts facts;
  facts.header = status.state != TargetState::Absent;
  facts.points = status.state == TargetState::Present;
  facts.mentions = install.state == TargetState::Present || install.state == TargetState::Updated;
  return facts;
}

TEST(AgentCodex, Facts) {
  auto facts = codex_facts("", kCli);
  EXPECT_FALSE(facts.header);
  EXPECT_FALSE(facts.mentions);
  EXPECT_FALSE(facts.points);

  facts = codex_facts(kBlock, kCli);
  EXPECT_TRUE(facts.header && facts.mentions && facts.points);

  facts = codex_facts(kOldBlock, kCli);
  EXPECT_TRUE(facts.header && facts.mentions);
  EXPECT_FALSE(facts.points);

  // The header may carry whitespace at either end, but nothing else.
  facts = codex_facts(" \t[mcp_servers.vellumo]  \r\ncommand = " + kQ + "\r\n", kCli);
  EXPECT_TRUE(facts.header && facts.points);
  // Other spellings of the same key are in HeaderSpellings; these are not it.
  for (const char* other :
       {"[mcp_servers.vellumo] x", "[mcp_servers.vellumox]", "[mcp_servers.'vellumo ']",
        "[mcp_servers.vellumo.env]", "[mcp_servers.\"vellumo]", "[mcp_servers.vellumo]]"}) {
    EXPECT_FALSE(codex_facts(std::string(other) + "\ncommand = " + kQ + "\n", kCli).header)
        << other;
  }

  // A header without a command line in its block.
  facts = codex_facts("[mcp_servers.vellumo]\nargs = []\n[other]\ncommand = " + kQ + "\n", kCli);
  EXPECT_TRUE(facts.header);
  EXPECT_FALSE(facts.mentions || facts.points);
  // An array table ends the block too.
  facts = codex_facts("[mcp_servers.vellumo]\n[[x]]\ncommand = " + kQ + "\n", kCli);
  EXPECT_FALSE(facts.mentions || facts.points);
  // Only the first command line counts, and any line starting with
  // "command" is one.
  facts = codex_facts("[mcp_servers.vellumo]\n  commander = 1\ncommand = " + kQ + "\n", kCli);
  EXPECT_FALSE(facts.mentions || facts.points);
  facts = codex_facts("[mcp_servers.vellumo]\n\tcommand=" + kQ + " # here\n", kCli);
  EXPECT_TRUE(facts.mentions && facts.points);
  // Case-sensitive substring tests.
  facts = codex_facts("[mcp_servers.vellumo]\ncommand = \"D:\\\\VELLUMO-CLI.EXE\"\n", kCli);
  EXPECT_FALSE(facts.mentions);
  // The first header line is the one.
  facts = codex_facts(
      "[mcp_servers.vellumo]\ncommand = \"node\"\n[mcp_servers.vellumo]\ncommand = " + kQ + "\n",
      kCli);
  EXPECT_FALSE(facts.mentions || facts.points);
}

// The decision grid of every file target: what the file says of the entry,
// and the state each mode reaches. A Codex block is judged by the same grid
// through its own facts, except where an inline table, an array of tables or
// a later block of ours makes it differ.
TEST(AgentTargets, DecisionGrid) {
  using Decide = std::function<TargetState(Mode)>;
  const auto entry = [](EntryFacts facts) -> Decide {
    return [facts](Mode mode) { return decide_entry(mode, facts); };
  };
  const auto codex = [](CodexFacts facts) -> Decide {
    return [facts](Mode mode) { return decide_codex(mode, facts); };
  };
  using enum TargetState;
  const struct {
    const char* name;
    Decide decide;
    TargetState status, install, remove;
  } rows[] = {
      {"absent", entry({.absent = true}), Absent, Added, Absent},
      {"equal", entry({.equal = true, .own = true}), Present, Present, Removed},
      {"own", entry({.own = true}), Skipped, Updated, Removed},
      {"foreign", entry({}), Skipped, Skipped, Skipped},
      // Cannot come from a real entry: the order of the rules.
      {"equal, not own", entry({.equal = true}), Present, Present, Skipped},
      {"inline table", codex({.not_a_table = true}), Skipped, Skipped, Skipped},
      {"array of servers", codex({.servers_array = true}), Skipped, Skipped, Skipped},
      // A later block of ours is removed with the first, which is not
      // updated for it.
      {"later block ours", codex({.header = true, .later_mentions = true}), Skipped, Skipped,
       Removed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.decide(Mode::Status), row.status);
    EXPECT_EQ(row.decide(Mode::Install), row.install);
    EXPECT_EQ(row.decide(Mode::Remove), row.remove);
  }
}

TEST(AgentCodex, InstallIntoEmptyText) {
  expect_write(Mode::Install, "", TargetState::Added, kBlock);
  expect_write(Mode::Install, " \n\n\t\n", TargetState::Added, kBlock);
}

TEST(AgentCodex, InstallAfterTrailingBlankLines) {
  expect_write(Mode::Install, "model = \"o3\"\n\n\n", TargetState::Added,
               "model = \"o3\"\n\n" + kBlock);
  expect_write(Mode::Install, "model = \"o3\"", TargetState::Added, "model = \"o3\"\n\n" + kBlock);
}

TEST(AgentCodex, AfterInstallEverythingIsPresent) {
  const std::string text = "model = \"o3\"\n\n" + kBlock;
  expect_no_write(plan_codex_edit(Mode::Status, text, kCli), TargetState::Present);
  expect_no_write(plan_codex_edit(Mode::Install, text, kCli), TargetState::Present);
  expect_write(Mode::Remove, text, TargetState::Removed, "model = \"o3\"\n");
}

TEST(AgentCodex, BlockOfAnotherLocation) {
  const std::string text = "model = \"o3\"\n\n" + kOldBlock + "\n[history]\nsize = 1\n";
  expect_no_write(plan_codex_edit(Mode::Status, text, kCli), TargetState::Skipped);
  expect_write(Mode::Install, text, TargetState::Updated,
               "model = \"o3\"\n\n" + kBlock + "\n[history]\nsize = 1\n");
  expect_write(Mode::Remove, text, TargetState::Removed, "model = \"o3\"\n[history]\nsize = 1\n");
}

TEST(AgentCodex, BlockOfAnotherProgram) {
  const std::string text = "[mcp_servers.vellumo]\ncommand = \"node\"\nargs = [\"x.js\"]\n";
  for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
    expect_no_write(plan_codex_edit(mode, text, kCli), TargetState::Skipped);
  }
  // So is a header whose block has no command line.
  for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
    expect_no_write(plan_codex_edit(mode, "[mcp_servers.vellumo]\n", kCli), TargetState::Skipped);
  }
}

TEST(AgentCodex, NoBlock) {
  const std::string text = "[mcp_servers.other]\ncommand = \"vellumo-cli\"\n";
  expect_no_write(plan_codex_edit(Mode::Status, text, kCli), TargetState::Absent);
  expect_no_write(plan_codex_edit(Mode::Remove, text, kCli), TargetState::Absent);
  expect_write(Mode::Install, text, TargetState::Added, text + "\n" + kBlock);
}

TEST(AgentCodex, RemoveInTheMiddle) {
  const std::string text =
      "a = 1\n\n[x]\nk = 2\n \n\t\n[mcp_servers.vellumo]\n# Added by Vellumo: points agents to "
      "vellumo-cli\n"
      "command = \"/old/vellumo-cli\"\nargs = [\"mcp\"]\n\n[y]\nz = 3\n\n# end";
  expect_write(Mode::Remove, text, TargetState::Removed,
               "a = 1\n\n[x]\nk = 2\n[y]\nz = 3\n\n# end\n");
}

TEST(AgentCodex, RemoveTheWholeFile) {
  expect_write(Mode::Remove, kBlock, TargetState::Removed, "\n");
  expect_write(Mode::Remove, "\n\n" + kBlock, TargetState::Removed, "\n");
}

TEST(AgentCodex, CrlfFiles) {
  const std::string old_crlf =
      "a = 1\r\n\r\n[mcp_servers.vellumo]\r\n# Added by Vellumo: points agents to vellumo-cli\r\n"
      "command = \"/old/vellumo-cli\"\r\nargs = [\"mcp\"]\r\n[y]\r\nz = 3\r\n";
  expect_write(Mode::Install, old_crlf, TargetState::Updated,
               "a = 1\n\n[mcp_servers.vellumo]\n# Added by Vellumo: points agents to vellumo-cli\n"
               "command = " +
                   kQ + "\nargs = [\"mcp\"]\n[y]\nz = 3\n");
  expect_write(Mode::Remove, old_crlf, TargetState::Removed, "a = 1\n[y]\nz = 3\n");
  // Added keeps the text before the block as it was.
  expect_write(Mode::Install, "a = 1\r\nb = 2\r\n\r\n", TargetState::Added,
               "a = 1\r\nb = 2\n\n" + kBlock);
}

TEST(AgentCodex, UpdateChangesOnlyTheBlocksCommandLine) {
  // Equal command lines of other tables belong to someone else.
  const std::string text =
      "[mcp_servers.old]\ncommand = \"/old/vellumo-cli\"\n\n[mcp_servers.vellumo]\ncommand = "
      "\"/old/vellumo-cli\"\n"
      "[z]\ncommand = \"/old/vellumo-cli\"\n";
  expect_write(
      Mode::Install, text, TargetState::Updated,
      "[mcp_servers.old]\ncommand = \"/old/vellumo-cli\"\n\n[mcp_servers.vellumo]\ncommand = " +
          kQ + "\n[z]\ncommand = \"/old/vellumo-cli\"\n");
}

TEST(AgentCodex, UpdateKeepsTheIndentOfNothingButReplacesTheLine) {
  // The command line is replaced whole: its indent and trailing comment go.
  expect_write(Mode::Install, "[mcp_servers.vellumo]\n  command = \"/o/vellumo-cli\" # x\n",
               TargetState::Updated, "[mcp_servers.vellumo]\ncommand = " + kQ + "\n");
}

TEST(AgentCodex, HeaderSpellings) {
  // Every spelling of the server's key is its table: status and install see
  // it (no second table is appended), remove takes it out.
  for (std::string header :
       {"[mcp_servers.vellumo] # mine", "[ mcp_servers.vellumo ]", "[mcp_servers.\"vellumo\"]",
        "['mcp_servers' . 'vellumo']", "\t[ \"mcp_servers\"\t.vellumo]#",
        "[mcp_servers.\"vell\\u0075mo\"]", "[mcp_servers.\"vell\\U00000075mo\"] # \"\"\""}) {
    const std::string text =
        "a = 1\n\n" + header + "\ncommand = \"/old/vellumo-cli\"\nargs = [\"mcp\"]\n";
    expect_no_write(plan_codex_edit(Mode::Status, text, kCli), TargetState::Skipped);
    expect_write(Mode::Install, text, TargetState::Updated,
                 "a = 1\n\n" + header + "\ncommand = " + kQ + "\nargs = [\"mcp\"]\n");
    expect_write(Mode::Remove, text, TargetState::Removed, "a = 1\n");
  }
}

TEST(AgentCodex, LinesInsideValuesAreNeitherHeadersNorCommandLines) {
  const std::string inside =
      "[mcp_servers.vellumo]\n"
      "args = [\n  [\"mcp\"], # [x]\n]\n"
      "text = \"\"\"\n[mcp_servers.x] \\\"\"\"\ncommand = \"vellumo-cli\" \"\"\"\n"
      "command = \"/old/vellumo-cli\"\n";
  expect_write(Mode::Install, inside, TargetState::Updated,
               inside.substr(0, inside.rfind("command")) + "command = " + kQ + "\n");
  expect_write(Mode::Remove, "a = 1\n" + inside, TargetState::Removed, "a = 1\n");
  // A server quoted in a value is no server.
  for (std::string quoted :
       {"t = '''\n[mcp_servers.vellumo]\ncommand = \"/o/vellumo-cli\"\n'''\n",
        "t = \"\"\"\\\n[mcp_servers.vellumo]\ncommand = \"/o/vellumo-cli\"\n\"\"\"\n"}) {
    expect_no_write(plan_codex_edit(Mode::Status, quoted, kCli), TargetState::Absent);
    expect_write(Mode::Install, quoted, TargetState::Added, quoted + "\n" + kBlock);
  }
  // ...but `"""` in a one-line string or a comment opens nothing.
  for (std::string before : {"t = '\"\"\"'\n", "# \"\"\"\n", "t = \"\\\"\\\"\\\"\"\n"}) {
    expect_write(Mode::Remove, before + kOldBlock, TargetState::Removed, before);
  }
  // A command value that runs over lines is replaced whole.
  expect_write(Mode::Install,
               "[mcp_servers.vellumo]\ncommand = \"\"\"/o/vellumo-cli\n\"\"\"\nargs = []\n",
               TargetState::Updated, "[mcp_servers.vellumo]\ncommand = " + kQ + "\nargs = []\n");
}

TEST(AgentCodex, RemoveTakesTheTablesInsideTheServer) {
  const std::string text =
      "a = 1\n\n[mcp_servers.vellumo.env]\nX = \"1\"\n\n" + kOldBlock +
      "[other]\nb = 2\n\n[mcp_servers . vellumo.tools.x]\ny = 1\n[[mcp_servers.vellumo.list]]\n";
  expect_write(Mode::Remove, text, TargetState::Removed, "a = 1\n[other]\nb = 2\n");
}

TEST(AgentCodex, TwoTablesOfTheServer) {
  // Older versions could append a second table after a spelling they did
  // not know: remove takes out every one that is ours, with its tables,
  // and leaves someone else's.
  const std::string mine = "[mcp_servers.vellumo] # mine\ncommand = \"node\"\n";
  expect_write(Mode::Remove, mine + "\n" + kOldBlock, TargetState::Removed, mine);
  expect_write(Mode::Remove, kOldBlock + "[mcp_servers.vellumo.env]\n\n" + kBlock,
               TargetState::Removed, "\n");
}

TEST(AgentCodex, ServerThatIsNotATable) {
  const std::string not_a_table = "`mcp_servers.vellumo` is not a table of its own, left alone";
  const std::string array = "`mcp_servers` is an array of tables, left alone";
  const std::pair<std::string, std::string> rows[] = {
      {"[mcp_servers]\nvellumo = { command = \"/o/vellumo-cli\" }\n", not_a_table},
      {"mcp_servers.vellumo.command = \"/o/vellumo-cli\"\n", not_a_table},
      {"[mcp_servers]\n\"vellumo\" . command = \"/o/vellumo-cli\"\n", not_a_table},
      {"[[mcp_servers.vellumo]]\ncommand = \"/o/vellumo-cli\"\n", not_a_table},
      {"mcp_servers = { vellumo = { command = \"/o/vellumo-cli\" } }\n", not_a_table},
      {"mcp_servers = {a = [\"}\", {b = 1}], 'x' = '''{,''', \"vellumo\".command = \"x\"}\n",
       not_a_table},
      {"[[mcp_servers]]\nname = \"x\"\n", array},
      {"[[ mcp_servers ]] # list\n", array},
  };
  for (const auto& [text, reason] : rows) {
    for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
      for (const std::string& whole : {text, text + kBlock}) {
        const CodexPlan p = plan_codex_edit(mode, whole, kCli);
        expect_no_write(p, TargetState::Skipped);
        EXPECT_EQ(p.reason, reason) << whole;
      }
    }
  }
  // Only the server's own key counts, not one deeper in or in a string.
  for (std::string text :
       {"mcp_servers = { x = { vellumo = 1 }, y = \"vellumo = \" }\n", "[[mcp_servers.x]]\n"}) {
    EXPECT_EQ(plan_codex_edit(Mode::Status, text, kCli).state, TargetState::Absent) << text;
  }
}

TEST(AgentCodex, AnEditThatWouldNotParseIsNotMade) {
  const CodexPlan p = plan_codex_edit(Mode::Install, "mcp_servers = { x = 1 }\n", kCli);
  expect_no_write(p, TargetState::Skipped);
  EXPECT_TRUE(p.reason.starts_with("the edit would not parse as TOML (")) << p.reason;
  EXPECT_TRUE(p.reason.ends_with("), left alone")) << p.reason;
  // A text that did not parse before is edited as ever...
  expect_write(Mode::Install, "a =\n[b\n", TargetState::Added, "a =\n[b\n\n" + kBlock);
  // ...unless it ends inside a value, which would hold the block: then in
  // no mode, so that no install adds a block that status does not see.
  for (const std::string open :
       {"a = \"\"\"x\\\n", "a = [1,\n", "mcp_servers = {\n", "a = '''\n\n"}) {
    for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
      const CodexPlan p = plan_codex_edit(mode, open, kCli);
      expect_no_write(p, TargetState::Skipped);
      EXPECT_EQ(p.reason, "the file ends inside an unfinished value, left alone") << open;
    }
  }
  // A block before the open value is still ours to see.
  expect_write(Mode::Remove, "a = 1\n" + kOldBlock + "x = [\n", TargetState::Removed, "a = 1\n");
  // Characters the parser cannot be asked about are checked as others alike.
  expect_write(Mode::Install, "a = \"\"\"\\\n \u00e9\u3001\"\"\"\n", TargetState::Added,
               "a = \"\"\"\\\n \u00e9\u3001\"\"\"\n\n" + kBlock);
}

// ------------------------------------------------------------ on the disk

TEST(AgentCodexFile, InstallCreatesConfigToml) {
  ScratchFolder folder;
  const std::string path = files::join(folder.str(), "config.toml");
  EXPECT_EQ(edit_codex(Mode::Status, "Codex", path, kCli),
            (TargetResult{"Codex", TargetState::Absent, path}));
  EXPECT_TRUE(folder.names().empty());
  EXPECT_EQ(edit_codex(Mode::Install, "Codex", path, kCli),
            (TargetResult{"Codex", TargetState::Added, path}));
  EXPECT_EQ(file_bytes(path), kBlock);
  EXPECT_EQ(edit_codex(Mode::Install, "Codex", path, kCli),
            (TargetResult{"Codex", TargetState::Present, path}));
  EXPECT_EQ(edit_codex(Mode::Remove, "Codex", path, kCli),
            (TargetResult{"Codex", TargetState::Removed, path}));
  EXPECT_EQ(file_bytes(path), "\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"config.toml"});
}

TEST(AgentCodexFile, ForeignBlockKeepsItsBytes) {
  ScratchFolder folder;
  const std::string path = files::join(folder.str(), "config.toml");
  const std::string original = "[mcp_servers.vellumo]\r\ncommand = \"node\"\r\n";
  put_file(path, original);
  for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
    EXPECT_EQ(edit_codex(mode, "Codex", path, kCli),
              (TargetResult{"Codex", TargetState::Skipped, path}));
  }
  EXPECT_EQ(file_bytes(path), original);
  // A reason follows the path.
  put_file(path, "mcp_servers = []\n");
  const TargetResult result = edit_codex(Mode::Install, "Codex", path, kCli);
  ASSERT_TRUE(result.detail);
  EXPECT_TRUE(result.detail->starts_with(path + ": the edit would not parse as TOML ("))
      << *result.detail;
  put_file(path, "mcp_servers.vellumo = 1\n");
  EXPECT_EQ(edit_codex(Mode::Remove, "Codex", path, kCli).detail,
            path + ": `mcp_servers.vellumo` is not a table of its own, left alone");
  EXPECT_EQ(file_bytes(path), "mcp_servers.vellumo = 1\n");
}

TEST(AgentCodexFile, InvalidUtf8Fails) {
  ScratchFolder folder;
  const std::string path = files::join(folder.str(), "config.toml");
  put_file(path, "a = \"\xFF\"\n");
  EXPECT_EQ(edit_codex(Mode::Install, "Codex", path, kCli),
            (TargetResult{"Codex", TargetState::Failed, "stream did not contain valid UTF-8"}));
  EXPECT_EQ(file_bytes(path), "a = \"\xFF\"\n");
}

TEST(AgentCodexFile, FolderInPlaceOfTheFileIsLeftAlone) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder.path() / "config.toml");
  const std::string path = files::join(folder.str(), "config.toml");
  EXPECT_EQ(
      edit_codex(Mode::Install, "Codex", path, kCli),
      (TargetResult{"Codex", TargetState::Skipped, path + ": not a regular file, left alone"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder.path() / "config.toml"));
}

TEST(AgentCodexFile, CliPathThatIsNotUnicodeIsWrittenLossily) {
  ScratchFolder folder;
  const std::string path = files::join(folder.str(), "config.toml");
  EXPECT_EQ(edit_codex(Mode::Install, "Codex", path, "/opt/\xFF/vellumo-cli").state,
            TargetState::Added);
  EXPECT_EQ(file_bytes(path), codex_block("/opt/\xEF\xBF\xBD/vellumo-cli"));
}

}  // namespace
}  // namespace vellumo::agents
