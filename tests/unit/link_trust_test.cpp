#include "core/link_trust.h"

#include <gtest/gtest.h>

namespace vellumo {
namespace {

TEST(LinkTrust, OnlyOurUserAtOurIntegrityOrAbove) {
  const ProcessIdentity self{"S-1-5-21-1-2-3-1001", 0x2000};
  EXPECT_EQ(distrust_reason({"S-1-5-21-1-2-3-1001", 0x2000}, self), std::nullopt);
  EXPECT_EQ(distrust_reason({"S-1-5-21-1-2-3-1001", 0x3000}, self), std::nullopt);
  EXPECT_EQ(distrust_reason({"S-1-5-21-1-2-3-1002", 0x2000}, self),
            "it is served by another user (S-1-5-21-1-2-3-1002)");
  EXPECT_EQ(distrust_reason({"S-1-5-21-1-2-3-1001", 0x1000}, self),
            "it is served at a lower integrity level than ours");
  EXPECT_TRUE(distrust_reason({"S-1-5-21-1-2-3-1001", std::nullopt}, self));
  // Without integrity levels (POSIX) only the user counts.
  EXPECT_EQ(distrust_reason({"1000", std::nullopt}, {"1000", std::nullopt}), std::nullopt);
  EXPECT_EQ(distrust_reason({"0", std::nullopt}, {"1000", std::nullopt}),
            "it is served by another user (0)");
}

TEST(LinkTrust, SocketFolders) {
  const std::uint32_t me = 1000;
  EXPECT_EQ(unsafe_folder_reason({true, me, 0700}, me, false), std::nullopt);
  EXPECT_EQ(unsafe_folder_reason({true, me, 0750}, me, false), "can be used by other users");
  EXPECT_EQ(unsafe_folder_reason({true, me, 0755}, me, true), std::nullopt);
  EXPECT_EQ(unsafe_folder_reason({true, me, 0775}, me, true), "can be written by other users");
  EXPECT_EQ(unsafe_folder_reason({true, me, 01777}, me, true), "can be written by other users");
  EXPECT_EQ(unsafe_folder_reason({true, 0, 0700}, me, true), "is owned by another user (uid 0)");
  EXPECT_EQ(unsafe_folder_reason({false, me, 0700}, me, true), "is not a folder");
  // The user's own primary group may write (a user-private group), no other.
  EXPECT_EQ(unsafe_folder_reason({true, me, 0775, 100}, me, true, 100), std::nullopt);
  EXPECT_EQ(unsafe_folder_reason({true, me, 0775, 200}, me, true, 100),
            "can be written by other users");
}

// The folders and the file on the way to a program we run.
TEST(LinkTrust, WhoCouldChangeAProgram) {
  const std::uint32_t me = 1000, mine = 100;
  EXPECT_FALSE(others_could_change({false, 0, 0755, 0}, me, mine));
  EXPECT_FALSE(others_could_change({true, me, 0775, mine}, me, mine));
  EXPECT_TRUE(others_could_change({true, me, 0775, 200}, me, mine));
  EXPECT_TRUE(others_could_change({false, me, 0757, mine}, me, mine));
  EXPECT_TRUE(others_could_change({true, 4242, 0700, mine}, me, mine));
  EXPECT_TRUE(others_could_change({true, me, 0700, mine}, 0, 0));  // as root, root's only
  // Root's sticky folder (/tmp) and no other.
  EXPECT_FALSE(others_could_change({true, 0, 01777, 0}, me, mine));
  EXPECT_TRUE(others_could_change({true, me, 01777, mine}, me, mine));
}

}  // namespace
}  // namespace vellumo
