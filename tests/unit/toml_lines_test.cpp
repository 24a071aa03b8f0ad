#include "agent_integration/toml_lines.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"

namespace vellumo::agents {
namespace {

using enum TomlLineKind;

TomlLine line_of(std::string_view text) { return read_toml_lines({text}).front(); }

TEST(TomlLines, KindsAndKeys) {
  struct Row {
    std::string_view line;
    TomlLineKind kind;
    std::optional<TomlKey> key;
  };
  const Row rows[] = {
      {"[a.b]", Header, TomlKey{"a", "b"}},
      {" \t[ a . \"b.c\" .'d' ]  # [x]", Header, TomlKey{"a", "b.c", "d"}},
      {"[\"\\u0041\\U0001F600\\b\\t\\n\\f\\r\\\"\\\\\"]", Header,
       TomlKey{"A\xF0\x9F\x98\x80\b\t\n\f\r\"\\"}},
      {"['\\u0041']", Header, TomlKey{"\\u0041"}},
      {"[[a.b]] # list", ArrayHeader, TomlKey{"a", "b"}},
      {"\xEF\xBB\xBF[a]", Header, TomlKey{"a"}},
      // Still headers, which end the table before them, but unreadable.
      {"[a] x", Header, std::nullopt},
      {"[a.]", Header, std::nullopt},
      {"[\"\\uD800\"]", Header, std::nullopt},
      {"[\"\\U00110000\"]", Header, std::nullopt},
      {"[\"\\x41\"]", Header, std::nullopt},
      {"[\"\\u004\"]", Header, std::nullopt},
      {"[\"a\x01\"]", Header, std::nullopt},
      {"[\"a]", Header, std::nullopt},
      {"[a]]", Header, std::nullopt},
      {"a.\"b\" = 1", Entry, TomlKey{"a", "b"}},
      {"a b = 1", Other, std::nullopt},
      {"= 1", Other, std::nullopt},
      {"  # [a]", Other, std::nullopt},
      {"", Other, std::nullopt},
  };
  for (const Row& row : rows) {
    const TomlLine line = line_of(row.line);
    EXPECT_TRUE(line.top) << row.line;
    EXPECT_EQ(line.kind, row.kind) << row.line;
    EXPECT_EQ(line.key, row.key) << row.line;
  }
  EXPECT_EQ(line_of("a = { b = 1 } # c").value, " { b = 1 } # c");
}

TEST(TomlLines, ValuesOverSeveralLines) {
  // A text and, for each of its lines, whether it starts outside every
  // value (T) or inside one (.).
  struct Row {
    std::string_view text;
    std::string_view tops;
  };
  const Row rows[] = {
      {"a = \"\"\"\n[x]\n\"\"\"\n[y]", "T..T"},
      {"a = '''\\\n[x]\n'''\nb = 1", "T..T"},
      {"a = \"\"\"\\\"\"\"\"\nb = 1", "TT"},
      {"a = \"\"\"x\"\"\"\"\"\nb = 1", "TT"},
      {"a = \"\"\"\nx \\\"\"\"\n\"\"\"\nb", "T..T"},
      {"a = [\n  1, # ]\n  [2]]\nb = 1", "T..T"},
      {"a = { b = [\n1] }\nc = 1", "T.T"},
      {"a = '\"\"\"'\nb = \"'''\"\n# \"\"\"\n[x]", "TTTT"},
  };
  for (const Row& row : rows) {
    std::string tops;
    for (const TomlLine& line : read_toml_lines(split_lines(row.text))) {
      tops += line.top ? 'T' : '.';
    }
    EXPECT_EQ(tops, row.tops) << row.text;
  }
}

TEST(TomlLines, InlineTables) {
  const std::pair<std::string_view, bool> rows[] = {
      {" { vellumo = {} }", true},
      {"{a = 1, \"vellumo\" . command = \"x\"}", true},
      {"{a = [\"}\", {b = 1}], 'x' = '''{,''', vellumo = 1}", true},
      {"{a = { vellumo = 1 }}", false},
      {"{a = \"vellumo = \"}", false},
      {"{vellumox = 1}", false},
      {"[vellumo]", false},
      {"{a = 1 vellumo = 1}", false},
  };
  for (const auto& [value, holds] : rows) {
    EXPECT_EQ(inline_table_holds(value, "vellumo"), holds) << value;
  }
}

}  // namespace
}  // namespace vellumo::agents
