#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agent_integration/json_config.h"
#include "agent_integration/json_members.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "support/files.h"
#include "support/scratch_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace vellumo::agents {
namespace {

using test::file_bytes;
using test::put_file;
using test::ScratchFolder;

const std::string kCli = R"(C:\Tools\vellumo-cli.exe)";
const std::string kPlainEntry = R"({"args":["mcp"],"command":"C:\\Tools\\vellumo-cli.exe"})";
const std::string kOpencodeEntry =
    R"({"command":["C:\\Tools\\vellumo-cli.exe","mcp"],"enabled":true,"type":"local"})";
const std::string kPath = "/home/u/.gemini/settings.json";

EditPlan plan(Mode mode, std::string_view text, EntryShape shape = EntryShape::Plain,
              std::string_view cli = kCli) {
  return plan_json_edit(mode, text, kPath, shape == EntryShape::Plain ? "mcpServers" : "mcp", shape,
                        cli);
}

// ---------------------------------------------------------------- reading

TEST(AgentJsonMembers, RecordsKeysAndExactValueText) {
  const std::string text =
      " \r\n\t{ \"a\" :  1.50e+3 , \"b\":[ 1,\n  2 ] ,\"c\" : {\"x\" : \"}]\\\"\" } ,"
      "\"d\":\"s\\u0041\\n\",\"e\":true,\"f\":null,\"g\":-0,\"h\":false}  \n";
  auto members = read_member_list(text);
  ASSERT_TRUE(members) << members.error();
  const std::vector<Member> expected = {
      {"a", "1.50e+3"},
      {"b", "[ 1,\n  2 ]"},
      {"c", "{\"x\" : \"}]\\\"\" }"},
      {"d", "\"s\\u0041\\n\""},
      {"e", "true"},
      {"f", "null"},
      {"g", "-0"},
      {"h", "false"},
  };
  EXPECT_EQ(*members, expected);
}

TEST(AgentJsonMembers, EmptyObject) {
  auto members = read_member_list("{}");
  ASSERT_TRUE(members);
  EXPECT_TRUE(members->empty());
  members = read_member_list(" {\r\n } \n");
  ASSERT_TRUE(members);
  EXPECT_TRUE(members->empty());
}

TEST(AgentJsonMembers, KeysAreDecoded) {
  auto members =
      read_member_list(R"({"\u0041b":1,"a\/b":2,"caf\u00e9":3,"\ud83d\ude00":4,"q\"\\":5})");
  ASSERT_TRUE(members) << members.error();
  ASSERT_EQ(members->size(), 5u);
  EXPECT_EQ((*members)[0].key, "Ab");
  EXPECT_EQ((*members)[1].key, "a/b");
  EXPECT_EQ((*members)[2].key, "caf\xC3\xA9");
  EXPECT_EQ((*members)[3].key, "\xF0\x9F\x98\x80");
  EXPECT_EQ((*members)[4].key, "q\"\\");
}

TEST(AgentJsonMembers, DuplicateKeysKeepTheirPlaces) {
  auto members = read_member_list(R"({"a":1,"b":2,"a":{"x":1,"x":2}})");
  ASSERT_TRUE(members) << members.error();
  const std::vector<Member> expected = {{"a", "1"}, {"b", "2"}, {"a", R"({"x":1,"x":2})"}};
  EXPECT_EQ(*members, expected);
}

TEST(AgentJsonMembers, RefusesEverythingThatIsNotStrictJson) {
  const char* const bad[] = {
      "",
      "   \n",
      "\xEF\xBB\xBF{}",  // byte order mark
      "[]",
      "\"text\"",
      "1",
      "null",
      "{} {}",
      "{} x",
      "{\"a\":1,}",  // trailing comma
      "{\"a\":[1,]}",
      "{'a':1}",  // single quotes
      "{\"a\":'x'}",
      "// note\n{}",
      "{\"a\":1 // note\n}",
      "{/* c */}",
      "{\"a\":1}\n# x",
      "{a:1}",
      "{\"a\" 1}",
      "{\"a\":01}",
      "{\"a\":NaN}",
      "{\"a\":Infinity}",
      "{\"a\":1e400}",
      "{\"a\":\"tab\there\"}",  // raw control character in a string
      "{\"a\":\"\\x\"}",
      "{\"a\":\"\xFF\"}",  // not UTF-8
      "{\"\\ud800\":1}",   // lone surrogate
      "{\"a\":1",
      "{",
      "\x0C{}",  // form feed is not JSON whitespace
  };
  for (const char* text : bad) {
    EXPECT_FALSE(read_member_list(text)) << text;
  }
}

TEST(AgentJsonMembers, DeepNestingIsRefused) {
  std::string deep = "{\"a\":" + std::string(200, '[') + std::string(200, ']') + "}";
  EXPECT_FALSE(read_member_list(deep));
  std::string fine = "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}";
  EXPECT_TRUE(read_member_list(fine));
}

TEST(AgentJsonMembers, CheckJsonGivesLineAndColumn) {
  auto checked = check_json("{\n  \"a\": 1,\n}");
  ASSERT_FALSE(checked);
  EXPECT_NE(checked.error().find("line 3"), std::string::npos) << checked.error();
  EXPECT_TRUE(check_json(R"({"a":1,"a":2})"));
  EXPECT_FALSE(check_json("\xEF\xBB\xBF{}"));
}

// The parser stops at a NUL byte; what follows must not be lost by an edit
// that rewrites the file from its members.
TEST(AgentJsonMembers, NulByteAfterTheObjectIsRefused) {
  const std::string text("{\"a\": 1}\n\0{\"b\": 2}", 19);
  auto checked = check_json(text);
  ASSERT_FALSE(checked);
  EXPECT_EQ(checked.error(),
            "parse error at line 2, column 1: syntax error while parsing value - unexpected NUL "
            "byte; expected end of input");
  EXPECT_FALSE(read_member_list(text));
}

// -------------------------------------------------------------- rendering

TEST(AgentJsonRender, EmptyListIsBraces) {
  EXPECT_EQ(render_member_list({}, 0, "\n"), "{}");
  EXPECT_EQ(render_member_list({}, 2, "\r\n"), "{}");
}

TEST(AgentJsonRender, IndentZeroAndTwo) {
  const std::vector<Member> members = {{"a", "1"}, {"b\"\n", "{\n      \"x\": [1, 2]\n  }"}};
  EXPECT_EQ(render_member_list(members, 0, "\n"),
            "{\n  \"a\": 1,\n  \"b\\\"\\n\": {\n      \"x\": [1, 2]\n  }\n}");
  EXPECT_EQ(render_member_list(members, 2, "\n"),
            "{\n    \"a\": 1,\n    \"b\\\"\\n\": {\n      \"x\": [1, 2]\n  }\n  }");
  EXPECT_EQ(render_member_list(members, 0, "\r\n"),
            "{\r\n  \"a\": 1,\r\n  \"b\\\"\\n\": {\n      \"x\": [1, 2]\n  }\r\n}");
  EXPECT_EQ(render_member_list({{"only", "[]"}}, 2, "\r\n"), "{\r\n    \"only\": []\r\n  }");
}

TEST(AgentJsonRender, KeysInJsonStringForm) {
  const std::vector<Member> members = {{std::string("\b\f\n\r\t\x01\x1f/\xC3\xA9\x7f"), "0"}};
  EXPECT_EQ(render_member_list(members, 0, "\n"),
            "{\n  \"\\b\\f\\n\\r\\t\\u0001\\u001f/\xC3\xA9\x7f\": 0\n}");
}

// ---------------------------------------------------------- pointer entry

TEST(AgentJsonEntry, CompactPointerEntries) {
  EXPECT_EQ(pointer_entry_text(EntryShape::Plain, kCli), kPlainEntry);
  EXPECT_EQ(pointer_entry_text(EntryShape::Opencode, kCli), kOpencodeEntry);
  EXPECT_EQ(pointer_entry_text(EntryShape::Plain, "/opt/a \"b\"/vellumo-cli"),
            R"({"args":["mcp"],"command":"/opt/a \"b\"/vellumo-cli"})");
  EXPECT_EQ(pointer_entry_text(EntryShape::Opencode, "/x\ty/\xC3\xA9/vellumo-cli"),
            "{\"command\":[\"/x\\ty/\xC3\xA9/"
            "vellumo-cli\",\"mcp\"],\"enabled\":true,\"type\":\"local\"}");
}

TEST(AgentJsonEntry, NamesVellumoCli) {
  EXPECT_TRUE(names_vellumo_cli(R"(C:\Tools\vellumo-cli.exe)"));
  EXPECT_TRUE(names_vellumo_cli(R"(D:\Old\VELLUMO-CLI.EXE)"));
  EXPECT_TRUE(names_vellumo_cli("/usr/local/bin/vellumo-cli"));
  EXPECT_TRUE(names_vellumo_cli("vellumo-cli"));
  EXPECT_TRUE(names_vellumo_cli("C:/x/Vellumo-Cli.Exe"));
  EXPECT_TRUE(names_vellumo_cli("/x/vellumo-cli//"));
  EXPECT_TRUE(names_vellumo_cli(R"(C:\x\vellumo-cli\)"));
  EXPECT_FALSE(names_vellumo_cli("node"));
  EXPECT_FALSE(names_vellumo_cli(""));
  EXPECT_FALSE(names_vellumo_cli("/"));
  EXPECT_FALSE(names_vellumo_cli("/x/vellumo-cli.exe.bak"));
  EXPECT_FALSE(names_vellumo_cli("/x/vellumo-cli2"));
  EXPECT_FALSE(names_vellumo_cli("/vellumo-cli/node"));
  EXPECT_FALSE(names_vellumo_cli("vellumo-cli.cmd"));
}

EntryFacts facts_of(const std::string& servers_text, EntryShape shape = EntryShape::Plain) {
  auto servers = read_member_list(servers_text);
  EXPECT_TRUE(servers) << servers_text;
  return entry_facts(servers ? *servers : std::vector<Member>{}, shape, kCli);
}

void expect_facts(const EntryFacts& facts, bool absent, bool equal, bool own) {
  EXPECT_EQ(facts.absent, absent);
  EXPECT_EQ(facts.equal, equal);
  EXPECT_EQ(facts.own, own);
}

TEST(AgentJsonEntry, Facts) {
  expect_facts(facts_of("{}"), true, false, false);
  expect_facts(facts_of(R"({"other":{"command":"node"}})"), true, false, false);
  expect_facts(facts_of("{\"vellumo\":" + kPlainEntry + "}"), false, true, true);
  // Member order and whitespace do not matter; letter case of the path does.
  expect_facts(
      facts_of(R"({"vellumo":{ "command" : "C:\\Tools\\vellumo-cli.exe", "args":[ "mcp" ] }})"),
      false, true, true);
  expect_facts(facts_of(R"({"vellumo":{"args":["mcp"],"command":"c:\\tools\\vellumo-cli.exe"}})"),
               false, false, true);
  // An added member makes it unequal but still own.
  expect_facts(
      facts_of(R"({"vellumo":{"args":["mcp"],"command":"C:\\Tools\\vellumo-cli.exe","env":{}}})"),
      false, false, true);
  expect_facts(facts_of(R"({"vellumo":{"command":"D:\\Old\\VELLUMO-CLI.EXE"}})"), false, false,
               true);
  expect_facts(facts_of(R"({"vellumo":{"command":"node","args":["x"]}})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":{"command":["C:\\x\\vellumo-cli.exe","mcp"]}})"), false,
               false, true);
  expect_facts(facts_of(R"({"vellumo":{"command":[]}})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":{"command":[1,"vellumo-cli"]}})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":{"command":{"path":"vellumo-cli"}}})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":{"cmd":"vellumo-cli"}})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":"vellumo-cli"})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":["vellumo-cli","mcp"]})"), false, false, false);
  expect_facts(facts_of(R"({"vellumo":null})"), false, false, false);
  // The plain entry does not equal the opencode one, nor the other way round.
  expect_facts(facts_of("{\"vellumo\":" + kPlainEntry + "}", EntryShape::Opencode), false, false,
               true);
  expect_facts(facts_of("{\"vellumo\":" + kOpencodeEntry + "}", EntryShape::Opencode), false, true,
               true);
  expect_facts(
      facts_of(
          R"({"vellumo":{"command":["C:\\Tools\\vellumo-cli.exe","mcp"],"enabled":1,"type":"local"}})",
          EntryShape::Opencode),
      false, false, true);
  // The first `vellumo` decides.
  expect_facts(facts_of("{\"vellumo\":{\"command\":\"node\"},\"vellumo\":" + kPlainEntry + "}"),
               false, false, false);
}

// --------------------------------------------------------------- planning

void expect_no_write(const EditPlan& p, TargetState state) {
  EXPECT_EQ(p.state, state);
  EXPECT_FALSE(p.new_text.has_value());
  EXPECT_FALSE(p.detail.has_value());
}

TEST(AgentJsonPlan, InstallIntoMissingFile) {
  const EditPlan p = plan(Mode::Install, "{}");
  EXPECT_EQ(p.state, TargetState::Added);
  EXPECT_FALSE(p.detail);
  ASSERT_TRUE(p.new_text);
  EXPECT_EQ(*p.new_text,
            "{\n"
            "  \"mcpServers\": {\n"
            "    \"vellumo\": {\"args\":[\"mcp\"],\"command\":\"C:\\\\Tools\\\\vellumo-cli.exe\"}\n"
            "  }\n"
            "}\n");
  expect_no_write(plan(Mode::Status, *p.new_text), TargetState::Present);
  expect_no_write(plan(Mode::Install, *p.new_text), TargetState::Present);
  const EditPlan removed = plan(Mode::Remove, *p.new_text);
  EXPECT_EQ(removed.state, TargetState::Removed);
  EXPECT_EQ(removed.new_text, "{}\n");
}

TEST(AgentJsonPlan, StatusAndRemoveOfNothing) {
  expect_no_write(plan(Mode::Status, "{}"), TargetState::Absent);
  expect_no_write(plan(Mode::Remove, "{}"), TargetState::Absent);
  expect_no_write(plan(Mode::Status, "{\"mcpServers\": {}}"), TargetState::Absent);
  expect_no_write(plan(Mode::Remove, "{\"mcpServers\": {}}"), TargetState::Absent);
  expect_no_write(plan(Mode::Remove, R"({"mcpServers": {"x": 1}})"), TargetState::Absent);
}

TEST(AgentJsonPlan, InstallIntoEmptyContainer) {
  const EditPlan p = plan(Mode::Install, "{\"a\": 1, \"mcpServers\": {}, \"z\": 2}");
  EXPECT_EQ(p.state, TargetState::Added);
  EXPECT_EQ(*p.new_text, "{\n  \"a\": 1,\n  \"mcpServers\": {\n    \"vellumo\": " + kPlainEntry +
                             "\n  },\n  \"z\": 2\n}\n");
}

const char* const kSpreadLf =
    "{\n"
    "    \"theme\":   \"dark\",\n"
    "    \"mcpServers\": {\n"
    "        \"other\": {\n"
    "            \"command\": \"node\",\n"
    "            \"args\": [ \"a\",   \"b\" ]\n"
    "        }\n"
    "    },\n"
    "  \"n\" : 1\n"
    "}";

// kSpreadLf with the entry added: other servers keep their text byte for
// byte, the rest is indented anew.
const std::string kSpreadAdded =
    "{\n"
    "  \"theme\": \"dark\",\n"
    "  \"mcpServers\": {\n"
    "    \"other\": {\n"
    "            \"command\": \"node\",\n"
    "            \"args\": [ \"a\",   \"b\" ]\n"
    "        },\n"
    "    \"vellumo\": " +
    kPlainEntry +
    "\n"
    "  },\n"
    "  \"n\": 1\n"
    "}\n";

TEST(AgentJsonPlan, OtherServersKeepTheirTextByteForByte) {
  const EditPlan p = plan(Mode::Install, kSpreadLf);
  EXPECT_EQ(p.state, TargetState::Added);
  ASSERT_TRUE(p.new_text);
  EXPECT_EQ(*p.new_text, kSpreadAdded);
  // Removing it again gives the re-indented text without the entry.
  const EditPlan back = plan(Mode::Remove, *p.new_text);
  EXPECT_EQ(back.state, TargetState::Removed);
  EXPECT_EQ(*back.new_text,
            "{\n"
            "  \"theme\": \"dark\",\n"
            "  \"mcpServers\": {\n"
            "    \"other\": {\n"
            "            \"command\": \"node\",\n"
            "            \"args\": [ \"a\",   \"b\" ]\n"
            "        }\n"
            "  },\n"
            "  \"n\": 1\n"
            "}\n");
}

std::string crlf(std::string_view lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

TEST(AgentJsonPlan, CrlfFilesKeepCrlf) {
  const EditPlan p = plan(Mode::Install, crlf(kSpreadLf));
  EXPECT_EQ(p.state, TargetState::Added);
  ASSERT_TRUE(p.new_text);
  EXPECT_EQ(*p.new_text, crlf(kSpreadAdded));
  // A single pair anywhere is enough, even inside a nested value.
  const EditPlan mixed = plan(Mode::Install, "{\"a\": [1,\r\n2]}");
  EXPECT_EQ(*mixed.new_text,
            "{\r\n  \"a\": [1,\r\n2],\r\n  \"mcpServers\": {\r\n    \"vellumo\": " + kPlainEntry +
                "\r\n  }\r\n}\r\n");
  const EditPlan emptied = plan(
      Mode::Remove, crlf("{\n  \"mcpServers\": {\n    \"vellumo\": " + kPlainEntry + "\n  }\n}\n"));
  EXPECT_EQ(emptied.state, TargetState::Removed);
  EXPECT_EQ(emptied.new_text, "{}\r\n");
}

TEST(AgentJsonPlan, OwnEntryIsUpdatedInPlaceAndRemoved) {
  const std::string text =
      "{\"mcpServers\": {\"a\": 1, \"vellumo\": {\"command\": \"D:\\\\Old\\\\VELLUMO-CLI.EXE\", "
      "\"args\": [\"mcp\"]}, \"b\": 2}, \"z\": true}";
  expect_no_write(plan(Mode::Status, text), TargetState::Skipped);
  const EditPlan updated = plan(Mode::Install, text);
  EXPECT_EQ(updated.state, TargetState::Updated);
  EXPECT_EQ(*updated.new_text, "{\n  \"mcpServers\": {\n    \"a\": 1,\n    \"vellumo\": " +
                                   kPlainEntry + ",\n    \"b\": 2\n  },\n  \"z\": true\n}\n");
  const EditPlan removed = plan(Mode::Remove, text);
  EXPECT_EQ(removed.state, TargetState::Removed);
  EXPECT_EQ(*removed.new_text,
            "{\n  \"mcpServers\": {\n    \"a\": 1,\n    \"b\": 2\n  },\n  \"z\": true\n}\n");
}

TEST(AgentJsonPlan, SomeoneElsesEntryIsLeftAlone) {
  const std::string text = R"({"mcpServers":{"vellumo":{"command":"node","args":["server.js"]}}})";
  for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
    expect_no_write(plan(mode, text), TargetState::Skipped);
  }
}

TEST(AgentJsonPlan, EntryWithExtraMemberIsReplacedExactly) {
  const std::string text =
      "{\"mcpServers\":{\"vellumo\":{\"args\":[\"mcp\"],\"command\":\"C:\\\\Tools\\\\vellumo-cli."
      "exe\","
      "\"env\":{\"A\":\"1\"}}}}";
  expect_no_write(plan(Mode::Status, text), TargetState::Skipped);
  const EditPlan p = plan(Mode::Install, text);
  EXPECT_EQ(p.state, TargetState::Updated);
  EXPECT_EQ(*p.new_text, "{\n  \"mcpServers\": {\n    \"vellumo\": " + kPlainEntry + "\n  }\n}\n");
}

TEST(AgentJsonPlan, RemovingTheOnlyServerDropsTheContainer) {
  const std::string text = "{\"x\": {\"y\" :1},\"mcpServers\":{\"vellumo\":" + kPlainEntry + "}}";
  const EditPlan p = plan(Mode::Remove, text);
  EXPECT_EQ(p.state, TargetState::Removed);
  EXPECT_EQ(*p.new_text, "{\n  \"x\": {\"y\" :1}\n}\n");
}

TEST(AgentJsonPlan, NotPlainJsonIsSkippedInEveryMode) {
  const char* const texts[] = {
      "{\n  // servers\n  \"mcpServers\": {}\n}",
      "{\"mcpServers\": {\"a\": 1,},}",
      "\xEF\xBB\xBF{}",
      "",
      "  \n",
      "[]",
      "{\"mcpServers\": {}} trailing",
  };
  for (const char* text : texts) {
    for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
      const EditPlan p = plan(mode, text);
      EXPECT_EQ(p.state, TargetState::Skipped) << text;
      EXPECT_EQ(p.detail, kPath + ": not plain JSON, left alone") << text;
      EXPECT_FALSE(p.new_text) << text;
    }
  }
}

TEST(AgentJsonPlan, ContainerThatIsNotAnObject) {
  for (const char* text :
       {R"({"mcpServers": []})", R"({"mcpServers": "x"})", R"({"mcpServers": null})"}) {
    for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
      const EditPlan p = plan(mode, text);
      EXPECT_EQ(p.state, TargetState::Skipped) << text;
      EXPECT_EQ(p.detail, kPath + ": `mcpServers` is not an object") << text;
      EXPECT_FALSE(p.new_text);
    }
  }
  const EditPlan p = plan_json_edit(Mode::Install, R"({"mcp": 3})", "/c/opencode.json", "mcp",
                                    EntryShape::Opencode, kCli);
  EXPECT_EQ(p.detail, "/c/opencode.json: `mcp` is not an object");
}

TEST(AgentJsonPlan, Opencode) {
  const EditPlan added = plan(Mode::Install, "{\"$schema\": \"https://opencode.ai/config.json\"}",
                              EntryShape::Opencode);
  EXPECT_EQ(added.state, TargetState::Added);
  EXPECT_EQ(*added.new_text,
            "{\n  \"$schema\": \"https://opencode.ai/config.json\",\n  \"mcp\": {\n"
            "    \"vellumo\": " +
                kOpencodeEntry + "\n  }\n}\n");
  expect_no_write(plan(Mode::Status, *added.new_text, EntryShape::Opencode), TargetState::Present);

  const std::string old =
      R"({"mcp":{"vellumo":{"type":"local","command":["C:\\x\\vellumo-cli.exe","mcp"],"enabled":true}}})";
  expect_no_write(plan(Mode::Status, old, EntryShape::Opencode), TargetState::Skipped);
  const EditPlan updated = plan(Mode::Install, old, EntryShape::Opencode);
  EXPECT_EQ(updated.state, TargetState::Updated);
  EXPECT_EQ(*updated.new_text,
            "{\n  \"mcp\": {\n    \"vellumo\": " + kOpencodeEntry + "\n  }\n}\n");
  const EditPlan removed = plan(Mode::Remove, old, EntryShape::Opencode);
  EXPECT_EQ(removed.state, TargetState::Removed);
  EXPECT_EQ(*removed.new_text, "{}\n");
  // opencode's container is `mcp`: an mcpServers member is someone else's.
  const EditPlan other =
      plan(Mode::Install, "{\"mcpServers\": {\"vellumo\": 1}}", EntryShape::Opencode);
  EXPECT_EQ(*other.new_text,
            "{\n  \"mcpServers\": {\"vellumo\": 1},\n  \"mcp\": {\n    \"vellumo\": " +
                kOpencodeEntry + "\n  }\n}\n");
}

TEST(AgentJsonPlan, DuplicateMembers) {
  // Duplicate top-level keys other than the container stay in their places.
  const EditPlan p = plan(Mode::Install, R"({"a":1,"mcpServers":{"x":1},"a":2})");
  EXPECT_EQ(p.state, TargetState::Added);
  EXPECT_EQ(*p.new_text, "{\n  \"a\": 1,\n  \"mcpServers\": {\n    \"x\": 1,\n    \"vellumo\": " +
                             kPlainEntry + "\n  },\n  \"a\": 2\n}\n");
  // A doubled container, or a doubled `vellumo` in it, is left alone in
  // every mode, whichever copy is ours.
  const std::string own = R"({"command":"/old/vellumo-cli"})";
  const std::pair<std::string, std::string> doubled[] = {
      {R"({"mcpServers":{},"mcpServers":{"vellumo":)" + kPlainEntry + "}}", "mcpServers"},
      {R"({"mcpServers":{"vellumo":)" + own + R"(},"a":0,"mcpServers":3})", "mcpServers"},
      {R"({"mcpServers":{"vellumo":)" + own + R"(,"k":0,"vellumo":{"command":"node"}}})",
       "vellumo"},
      {R"({"mcpServers":{"vellumo":{"command":"node"},"vellumo":)" + own + "}}", "vellumo"},
      {R"({"mcpServers":{"vellumo":)" + kPlainEntry + R"(,"vellumo":)" + kPlainEntry + "}}",
       "vellumo"},
  };
  for (const auto& [text, key] : doubled) {
    for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
      const EditPlan p = plan(mode, text);
      EXPECT_EQ(p.state, TargetState::Skipped) << text;
      EXPECT_EQ(p.detail, kPath + ": `" + key + "` appears more than once, left alone") << text;
      EXPECT_FALSE(p.new_text) << text;
    }
  }
  // Duplicates nested deeper are kept as written.
  const EditPlan nested = plan(Mode::Install, R"({"o":{"d":1,"d":2}})");
  EXPECT_EQ(*nested.new_text,
            "{\n  \"o\": {\"d\":1,\"d\":2},\n  \"mcpServers\": {\n    \"vellumo\": " + kPlainEntry +
                "\n  }\n}\n");
}

TEST(AgentJsonPlan, KeysAreWrittenInJsonStringForm) {
  const EditPlan p = plan(Mode::Install, R"({"\u0041\/b": "\u0041\/b"})");
  EXPECT_EQ(*p.new_text, "{\n  \"A/b\": \"\\u0041\\/b\",\n  \"mcpServers\": {\n    \"vellumo\": " +
                             kPlainEntry + "\n  }\n}\n");
}

TEST(AgentJsonPlan, CliPathThatIsNotUnicodeIsNeverWritten) {
  const std::string bad_cli = "/opt/\xFF/vellumo-cli";
  const EditPlan p = plan(Mode::Install, "{}", EntryShape::Plain, bad_cli);
  EXPECT_EQ(p.state, TargetState::Skipped);
  ASSERT_TRUE(p.detail);
  EXPECT_EQ(p.detail->rfind(kPath + ": ", 0), 0u) << *p.detail;
  EXPECT_GT(p.detail->size(), kPath.size() + 2);
  EXPECT_FALSE(p.new_text);
  // Removing an own entry needs no pointer entry.
  const EditPlan removed =
      plan(Mode::Remove, R"({"mcpServers":{"vellumo":{"command":"/old/vellumo-cli"}}})",
           EntryShape::Plain, bad_cli);
  EXPECT_EQ(removed.state, TargetState::Removed);
}

// ------------------------------------------------------------ on the disk

JsonTarget target_in(const ScratchFolder& folder, const std::string& name = "settings.json") {
  return {"Gemini CLI", folder / name, "mcpServers", EntryShape::Plain};
}

TEST(AgentJsonTarget, InstallCreatesTheFileThenReportsPresent) {
  ScratchFolder folder;
  const JsonTarget target = target_in(folder);
  const TargetResult added = edit_json_target(Mode::Install, target, kCli);
  EXPECT_EQ(added, (TargetResult{"Gemini CLI", TargetState::Added, target.file_path}));
  EXPECT_EQ(file_bytes(target.file_path),
            "{\n  \"mcpServers\": {\n    \"vellumo\": " + kPlainEntry + "\n  }\n}\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.json"});

  EXPECT_EQ(edit_json_target(Mode::Status, target, kCli),
            (TargetResult{"Gemini CLI", TargetState::Present, target.file_path}));
  EXPECT_EQ(edit_json_target(Mode::Install, target, kCli),
            (TargetResult{"Gemini CLI", TargetState::Present, target.file_path}));
  EXPECT_EQ(edit_json_target(Mode::Remove, target, kCli),
            (TargetResult{"Gemini CLI", TargetState::Removed, target.file_path}));
  EXPECT_EQ(file_bytes(target.file_path), "{}\n");
  EXPECT_EQ(edit_json_target(Mode::Remove, target, kCli),
            (TargetResult{"Gemini CLI", TargetState::Absent, target.file_path}));
  EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.json"});
}

TEST(AgentJsonTarget, MissingFileIsNotCreatedByStatusOrRemove) {
  ScratchFolder folder;
  const JsonTarget target = target_in(folder);
  EXPECT_EQ(edit_json_target(Mode::Status, target, kCli).state, TargetState::Absent);
  EXPECT_EQ(edit_json_target(Mode::Remove, target, kCli).state, TargetState::Absent);
  EXPECT_TRUE(folder.names().empty());
}

TEST(AgentJsonTarget, NotPlainJsonIsNeverRewritten) {
  ScratchFolder folder;
  const JsonTarget target = target_in(folder, "mcp.json");
  const std::string original = "{\r\n  // mine\r\n  \"mcpServers\": {},\r\n}\r\n";
  put_file(target.file_path, original);
  for (Mode mode : {Mode::Status, Mode::Install, Mode::Remove}) {
    EXPECT_EQ(edit_json_target(mode, target, kCli),
              (TargetResult{"Gemini CLI", TargetState::Skipped,
                            target.file_path + ": not plain JSON, left alone"}));
  }
  EXPECT_EQ(file_bytes(target.file_path), original);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"mcp.json"});
}

TEST(AgentJsonTarget, InvalidUtf8Fails) {
  ScratchFolder folder;
  const JsonTarget target = target_in(folder);
  const std::string original = "{\"a\": \"\xC3\x28\"}";
  put_file(target.file_path, original);
  EXPECT_EQ(
      edit_json_target(Mode::Install, target, kCli),
      (TargetResult{"Gemini CLI", TargetState::Failed, "stream did not contain valid UTF-8"}));
  EXPECT_EQ(file_bytes(target.file_path), original);
}

TEST(AgentJsonTarget, UnreadableFileFails) {
  ScratchFolder folder;
  const JsonTarget target = target_in(folder);
#ifdef _WIN32
  put_file(target.file_path, "{}");
  const std::wstring wide(target.file_path.begin(), target.file_path.end());  // ASCII
  HANDLE lock = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
#else
  std::filesystem::create_symlink("settings.json", target.file_path);  // a loop
#endif
  const TargetResult result = edit_json_target(Mode::Status, target, kCli);
#ifdef _WIN32
  CloseHandle(lock);
#endif
  EXPECT_EQ(result.state, TargetState::Failed);
  ASSERT_TRUE(result.detail);
  EXPECT_NE(result.detail->find(" (os error "), std::string::npos) << *result.detail;
#ifndef _WIN32
  EXPECT_EQ(result.detail, platform::system_error_text(ELOOP));
#endif
}

// Writes `text` over the file at `path` and sets its modification time
// back, after a pause longer than the tick of the clock of file times (so
// that the change time moves on).
void rewrite_keeping_time(const std::string& path, const std::string& text) {
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
#ifdef _WIN32
  const HANDLE file = CreateFileW(
      test::path_of(path).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME written{};
  const bool read = GetFileTime(file, nullptr, nullptr, &written);
  put_file(path, text);
  const bool set = read && SetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  ASSERT_TRUE(set);
#else
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  put_file(path, text);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

// Another program's write between the read and the rename is not lost:
// the edit is made again from the new text, three times at most.
TEST(AgentJsonTarget, ChangeMeanwhileIsNotLost) {
  const auto other = [](const std::string& name) {
    return R"({"mcpServers": {"other": ")" + name + R"("}})";
  };
  // keep_time: their text is as long as ours and they put the modification
  // time back, so that only the change time tells.
  for (const auto& [changes, keep_time] : {std::pair{1, false}, {100, false}, {1, true}}) {
    SCOPED_TRACE(std::to_string(changes) + (keep_time ? ", same size and time" : ""));
    ScratchFolder folder;
    const JsonTarget target = target_in(folder);
    put_file(target.file_path, keep_time ? other("y") : "{}");
    int calls = 0;
    std::string theirs;
    // Captured by name: structured bindings are not, before clang 16.
    files::inject_change_before_rename(
        [&, changes = changes, keep_time = keep_time](const std::string& path) {
          if (calls++ < changes) {  // each text longer than the one before, so that it shows
            theirs = other(std::string(calls, 'x'));
            if (keep_time) {
              rewrite_keeping_time(path, theirs);
            } else {
              put_file(path, theirs);
            }
          }
        });
    const TargetResult result = edit_json_target(Mode::Install, target, kCli);
    files::inject_change_before_rename({});
    if (changes == 1) {
      EXPECT_EQ(result, (TargetResult{"Gemini CLI", TargetState::Added, target.file_path}));
      EXPECT_EQ(file_bytes(target.file_path),
                "{\n  \"mcpServers\": {\n    \"other\": \"x\",\n"
                "    \"vellumo\": " +
                    kPlainEntry + "\n  }\n}\n");
      EXPECT_EQ(calls, 2);
    } else {
      EXPECT_EQ(result, (TargetResult{"Gemini CLI", TargetState::Failed,
                                      "Cannot write " + target.file_path +
                                          ": it kept changing while being edited"}));
      EXPECT_EQ(file_bytes(target.file_path), theirs);
      EXPECT_EQ(calls, 3);
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.json"});
  }
}

TEST(AgentJsonTarget, WriteFailureReportsCannotWrite) {
  ScratchFolder folder;
  const JsonTarget target = target_in(folder);
  files::inject_replace_failure(files::ReplaceStep::Rename);
  const TargetResult result = edit_json_target(Mode::Install, target, kCli);
  files::inject_replace_failure(std::nullopt);
  EXPECT_EQ(result.state, TargetState::Failed);
  EXPECT_EQ(result.detail, "Cannot write " + target.file_path + ": injected failure");
  EXPECT_FALSE(std::filesystem::exists(target.file_path));
}

}  // namespace
}  // namespace vellumo::agents
