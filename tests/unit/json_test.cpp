#include "core/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "support/json_text.h"

namespace vellumo {
namespace {

using test::to_json_pretty;

std::string dbl(double d) {
  std::string out;
  write_json_double(out, d);
  return out;
}

TEST(JsonDouble, PlainWithinTheDecimalWindow) {
  EXPECT_EQ(dbl(1.0), "1.0");
  EXPECT_EQ(dbl(0.5), "0.5");
  EXPECT_EQ(dbl(-2.25), "-2.25");
  EXPECT_EQ(dbl(0.00001), "0.00001");
  EXPECT_EQ(dbl(0.000123), "0.000123");
  EXPECT_EQ(dbl(1000000000000000.0), "1000000000000000.0");
  EXPECT_EQ(dbl(123456.789), "123456.789");
  EXPECT_EQ(dbl(0.1), "0.1");
  EXPECT_EQ(dbl(100.0), "100.0");
  EXPECT_EQ(dbl(-0.0), "-0.0");
  EXPECT_EQ(dbl(9007199254740993.0), "9007199254740992.0");
}

TEST(JsonDouble, ExponentOutsideTheWindow) {
  EXPECT_EQ(dbl(1e-6), "1e-6");
  EXPECT_EQ(dbl(1e16), "1e16");
  EXPECT_EQ(dbl(1e21), "1e21");
  EXPECT_EQ(dbl(1.5e300), "1.5e300");
  EXPECT_EQ(dbl(2.5e-10), "2.5e-10");
  EXPECT_EQ(dbl(-1.25e-7), "-1.25e-7");
  EXPECT_EQ(dbl(std::numeric_limits<double>::max()), "1.7976931348623157e308");
  EXPECT_EQ(dbl(std::numeric_limits<double>::denorm_min()), "5e-324");
  EXPECT_EQ(dbl(12345678901234567890.0), "1.2345678901234567e19");
}

TEST(JsonDouble, NeverWritesNonFiniteNumbers) {
  EXPECT_EQ(dbl(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(dbl(-std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(dbl(std::numeric_limits<double>::quiet_NaN()), "null");
}

TEST(JsonString, EscapesOnlyWhatMustBeEscaped) {
  std::string out;
  constexpr char kText[] = "a\"b\\c/d\b\f\n\r\t\x01\x1f\x7f \xc3\xa9\xe2\x82\xac";
  write_json_string(out, std::string(kText, sizeof kText - 1));
  EXPECT_EQ(out, "\"a\\\"b\\\\c/d\\b\\f\\n\\r\\t\\u0001\\u001f\x7f \xc3\xa9\xe2\x82\xac\"");
  out.clear();
  write_json_string(out, std::string("\0x", 2));
  EXPECT_EQ(out, "\"\\u0000x\"");
}

// The escaper works a word at a time through a buffer; a byte-by-byte
// statement of its rules checks it on texts of every length.
TEST(JsonString, WordAtATimeEscapingMatchesTheRules) {
  const auto by_bytes = [](std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char ch : text) {
      const auto c = static_cast<unsigned char>(ch);
      const char* named = c == '"'    ? "\\\""
                          : c == '\\' ? "\\\\"
                          : c == '\b' ? "\\b"
                          : c == '\f' ? "\\f"
                          : c == '\n' ? "\\n"
                          : c == '\r' ? "\\r"
                          : c == '\t' ? "\\t"
                                      : nullptr;
      if (named) {
        out += named;
      } else if (c < 0x20) {
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
      } else {
        out += ch;
      }
    }
    return out + "\"";
  };
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    const std::size_t size = i % 500 == 0 ? 20000 + random() % 5000 : random() % 40;
    std::string text;
    for (std::size_t k = 0; k < size; ++k) {
      const auto kind = random() % 10;
      text += kind < 6   ? static_cast<char>('a' + random() % 26)
              : kind < 9 ? static_cast<char>(random() % 256)
                         : "\"\\\n\t"[random() % 4];
    }
    std::string out;
    write_json_string(out, text);
    ASSERT_EQ(out, by_bytes(text)) << "size " << size;
  }
}

TEST(JsonWrite, PrettyLayoutSortedKeysAndEmptyContainers) {
  auto value = parse_json(
      R"({"b":[1,{"z":null,"a":true}],"a":{},"c":[],"d":-5,"e":18446744073709551615,"f":1e2})");
  ASSERT_TRUE(value) << value.error();
  EXPECT_EQ(to_json_pretty(*value),
            "{\n"
            "  \"a\": {},\n"
            "  \"b\": [\n"
            "    1,\n"
            "    {\n"
            "      \"a\": true,\n"
            "      \"z\": null\n"
            "    }\n"
            "  ],\n"
            "  \"c\": [],\n"
            "  \"d\": -5,\n"
            "  \"e\": 18446744073709551615,\n"
            "  \"f\": 100.0\n"
            "}");
  EXPECT_EQ(
      to_json_compact(*value),
      R"({"a":{},"b":[1,{"a":true,"z":null}],"c":[],"d":-5,"e":18446744073709551615,"f":100.0})");
  EXPECT_EQ(to_json_pretty(Json(std::int64_t{-9223372036854775807 - 1})), "-9223372036854775808");
  EXPECT_EQ(to_json_pretty(Json("x")), "\"x\"");
}

TEST(JsonWrite, KeysSortInByteOrder) {
  auto value = parse_json(R"({"\u00e9":1,"Z":2,"a":3,"_":4})");
  ASSERT_TRUE(value);
  EXPECT_EQ(to_json_compact(*value), "{\"Z\":2,\"_\":4,\"a\":3,\"\xc3\xa9\":1}");
}

TEST(JsonWrite, DrainReceivesEverythingInOrder) {
  Json big = Json::array();
  for (int i = 0; i < 200000; ++i) {
    big.push_back(Json("item"));
  }
  std::string drained;
  std::string out;
  int drains = 0;
  write_json_pretty(out, big, [&](std::string& buffer) {
    drained += buffer;
    buffer.clear();
    ++drains;
  });
  drained += out;
  EXPECT_GT(drains, 0);
  EXPECT_EQ(drained, to_json_pretty(big));
}

TEST(JsonParse, StrictAboutSyntaxAndPlacesErrors) {
  EXPECT_TRUE(parse_json(" \r\n\t{\"a\":1} \n"));
  auto trailing = parse_json("{} x");
  ASSERT_FALSE(trailing);
  EXPECT_NE(trailing.error().find("line 1, column 4"), std::string::npos) << trailing.error();
  EXPECT_EQ(trailing.error().find("[json.exception"), std::string::npos);
  EXPECT_FALSE(parse_json(""));
  EXPECT_FALSE(parse_json("{"));
  EXPECT_FALSE(parse_json("[1,]"));
  EXPECT_FALSE(parse_json("{'a':1}"));
  EXPECT_FALSE(parse_json("NaN"));
  EXPECT_FALSE(parse_json("1e999"));
  EXPECT_FALSE(parse_json("\"\xff\""));
  // The library takes a NUL byte for the end of the text; nothing may
  // follow the value all the same.
  auto nul = parse_json(std::string("{}\n \0x", 6));
  ASSERT_FALSE(nul);
  EXPECT_NE(nul.error().find("line 2, column 2"), std::string::npos) << nul.error();
  EXPECT_FALSE(parse_json(std::string("[1]\0", 4)));
  EXPECT_FALSE(parse_json(std::string("[1,\0]", 6)));
  auto second_line = parse_json("[1,\n  x]");
  ASSERT_FALSE(second_line);
  EXPECT_NE(second_line.error().find("line 2"), std::string::npos) << second_line.error();
}

TEST(JsonParse, RefusesDuplicateMembersAtAnyDepth) {
  auto top = parse_json(R"({"ok":true,"ok":false})");
  ASSERT_FALSE(top);
  EXPECT_EQ(top.error(), "duplicate member \"ok\"");
  EXPECT_FALSE(parse_json(R"({"a":[{"b":1,"b":1}]})"));
  EXPECT_TRUE(parse_json(R"({"a":{"b":1},"b":{"a":1}})"));
}

TEST(JsonParse, RefusesDeepNestingWithoutBuildingIt) {
  std::string ok(128, '[');
  ok += std::string(128, ']');
  EXPECT_TRUE(parse_json(ok));
  std::string deep(129, '[');
  deep += std::string(129, ']');
  auto refused = parse_json(deep);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "nesting deeper than 128 levels");
  EXPECT_FALSE(parse_json(std::string(1000000, '[')));
  std::string objects;
  for (int i = 0; i < 200; ++i) {
    objects += "{\"a\":";
  }
  EXPECT_FALSE(parse_json(objects + "1" + std::string(200, '}')));
}

TEST(JsonParse, KeepsNumberKinds) {
  auto v = parse_json(R"([0,-1,18446744073709551615,18446744073709551616,1.0,-0])");
  ASSERT_TRUE(v);
  EXPECT_TRUE((*v)[0].is_number_unsigned());
  EXPECT_TRUE((*v)[1].is_number_integer());
  EXPECT_TRUE((*v)[2].is_number_unsigned());
  EXPECT_TRUE((*v)[3].is_number_float());
  EXPECT_EQ(to_json_compact(*v), "[0,-1,18446744073709551615,1.8446744073709552e19,1.0,0]");
}

}  // namespace
}  // namespace vellumo
