#include "core/utf8.h"
#include "process/capture.h"

#include <gtest/gtest.h>

#include <string>

namespace vellumo::process {
namespace {

TEST(Capture, Utf8Validation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain\n"));
  EXPECT_TRUE(is_valid_utf8("h\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  EXPECT_TRUE(is_valid_utf8(std::string("nul\0inside", 10)));
  EXPECT_FALSE(is_valid_utf8("\xFF"));
  EXPECT_FALSE(is_valid_utf8("\x80"));              // lone continuation byte
  EXPECT_FALSE(is_valid_utf8("\xC3"));              // cut short
  EXPECT_FALSE(is_valid_utf8("\xE2\x9C"));          // cut short
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xE0\x80\xAF"));      // overlong
  EXPECT_FALSE(is_valid_utf8("\xF0\x80\x80\xAF"));  // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xF5\x80\x80\x80"));
  EXPECT_FALSE(is_valid_utf8("\xC3\x28"));  // bad continuation
}

TEST(Capture, BufferKeepsAtMostItsLimit) {
  CaptureBuffer buffer(8);
  buffer.append("abc");
  buffer.append("defgh");
  EXPECT_FALSE(buffer.truncated());
  EXPECT_EQ(buffer.text(), "abcdefgh");
  buffer.append("i");
  buffer.append("jkl");
  EXPECT_TRUE(buffer.truncated());
  EXPECT_EQ(buffer.bytes(), "abcdefgh");

  CaptureBuffer invalid(16);
  invalid.append("ok\xFF");
  EXPECT_EQ(invalid.text(), "");
}

TEST(Capture, CharacterCutAtTheLimitIsLeftOut) {
  CaptureBuffer cut(7);
  cut.append("abcde\xE2\x9C\x93");  // the check mark is cut after its second byte
  EXPECT_TRUE(cut.truncated());
  EXPECT_EQ(cut.text(), "abcde");

  CaptureBuffer whole(8);
  whole.append("abcde\xE2\x9C\x93!");
  EXPECT_EQ(whole.text(), "abcde\xE2\x9C\x93");

  // Without truncation a cut-off character makes the text invalid.
  CaptureBuffer ended(16);
  ended.append("abcde\xE2\x9C");
  EXPECT_EQ(ended.text(), "");

  // Invalid bytes before the cut still make it empty.
  CaptureBuffer bad(7);
  bad.append(
      "\xFF"
      "bcde\xE2\x9C\x93");
  EXPECT_EQ(bad.text(), "");
}

}  // namespace
}  // namespace vellumo::process
