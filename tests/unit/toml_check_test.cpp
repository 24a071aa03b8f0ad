#include "agent_integration/toml_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vellumo::agents {
namespace {

TEST(TomlCheck, ParserVerdictAndInput) {
  EXPECT_EQ(toml_error("a = 1\n[b]\nc = \"\"\"\\\n \u00e9\"\"\"\n"), std::nullopt);
  EXPECT_NE(toml_error("a = \n"), std::nullopt);
  // The characters the parser cannot be asked about become others of the
  // same length that TOML takes alike.
  EXPECT_EQ(
      toml_parser_input("\u00a0\u00a1\u0499\u049a \u2c5d\u2c5e\u3000\u3057\u3058 "
                        "\ufb25\ufb26\ufefe\ufeff\U0001d11e"),
      "\u00a0\u0500\u0500\u049a \u2c5d\u4e00\u3000\u4e00\u3058 \ufb25\u4e00\u4e00\ufeff\U0001d11e");
}

}  // namespace
}  // namespace vellumo::agents
