#include "core/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumo {
namespace {

TEST(Text, LossyReplacesMaximalSubparts) {
  EXPECT_EQ(lossy_utf8("ok"), "ok");
  EXPECT_EQ(lossy_utf8("a\xFF"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(lossy_utf8("\xE2\x82"
                       "x"),
            "\xEF\xBF\xBD"
            "x");  // one for the cut sequence
  EXPECT_EQ(lossy_utf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(lossy_utf8("\xC3\xA9"), "\xC3\xA9");
}

TEST(Text, TrimUsesUnicodeWhiteSpace) {
  EXPECT_EQ(trim("  \t[x] \r\n"), "[x]");
  EXPECT_EQ(trim_start(" \xC2\xA0"
                       "a "),
            "a ");                              // no-break space
  EXPECT_EQ(trim_end(" a\xE3\x80\x80"), " a");  // ideographic space
  EXPECT_EQ(trim_end("caf\xC3\xA9  "), "caf\xC3\xA9");
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim(""), "");
  EXPECT_EQ(trim_end("x\xE2\x80\x8B"), "x\xE2\x80\x8B");  // zero-width space is not white space
}

TEST(Text, SplitLines) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(split_lines(""), Lines{});
  EXPECT_EQ(split_lines("a"), (Lines{"a"}));
  EXPECT_EQ(split_lines("a\n"), (Lines{"a"}));
  EXPECT_EQ(split_lines("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(split_lines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(split_lines("a\rb\nc"), (Lines{"a\rb", "c"}));
  EXPECT_EQ(split_lines("a\r"), (Lines{"a\r"}));  // only a carriage return before a line feed goes
  EXPECT_EQ(split_lines("\n"), (Lines{""}));
}

}  // namespace
}  // namespace vellumo
