#include "process/capture.h"

#include <gtest/gtest.h>

#include <string>

namespace vellumo::process {
namespace {

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
