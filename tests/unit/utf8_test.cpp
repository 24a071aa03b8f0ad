#include "core/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

namespace vellumo {
namespace {

TEST(Utf8, Validation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain ascii"));
  EXPECT_TRUE(is_valid_utf8("plain\n"));
  EXPECT_TRUE(is_valid_utf8("plain ascii text, long enough to take the fast path"));
  EXPECT_TRUE(is_valid_utf8(std::string("nul\0inside", 10)));
  EXPECT_TRUE(is_valid_utf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 and more ascii after it"));
  EXPECT_TRUE(is_valid_utf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  EXPECT_TRUE(is_valid_utf8("h\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  EXPECT_TRUE(is_valid_utf8("\xf4\x8f\xbf\xbf"));  // U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xff"));
  EXPECT_FALSE(is_valid_utf8("\x80"));  // lone continuation byte
  EXPECT_FALSE(
      is_valid_utf8("a\x80"
                    "b"));                          // lone continuation byte
  EXPECT_FALSE(is_valid_utf8("\xC3"));              // cut short
  EXPECT_FALSE(is_valid_utf8("\xE2\x9C"));          // cut short
  EXPECT_FALSE(is_valid_utf8("abcdefgh\xc3"));      // cut short
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xe0\x80\xaf"));      // overlong
  EXPECT_FALSE(is_valid_utf8("\xF0\x80\x80\xAF"));  // overlong
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xF5\x80\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xc3\x28"));          // bad continuation
}

TEST(Utf8, Utf16RoundTripAndSurrogates) {
  const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  auto wide = utf8_to_utf16(text);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(utf16_to_utf8(*wide), text);
  EXPECT_EQ(count_characters(text), 4u);  // scalar values, not UTF-16 units
  EXPECT_FALSE(utf8_to_utf16("\xff"));

  const std::u16string lone = {u'x', 0xD800, u'y', 0xDC00};
  EXPECT_FALSE(utf16_to_utf8(lone));
  EXPECT_EQ(utf16_to_utf8_lossy(lone), "x\xef\xbf\xbdy\xef\xbf\xbd");
  EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{0xD83D}), "\xef\xbf\xbd");
  // Kept, a lone surrogate is no UTF-8, and shows as one U+FFFD.
  const std::string marked = utf16_to_utf8_marked(lone);
  EXPECT_EQ(marked, "x\xed\xa0\x80y\xed\xb0\x80");
  EXPECT_FALSE(is_valid_utf8(marked));
  EXPECT_EQ(lossy_utf8(marked), utf16_to_utf8_lossy(lone));
  EXPECT_EQ(lossy_utf8("\xed\xa0"), "\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
}  // namespace vellumo
