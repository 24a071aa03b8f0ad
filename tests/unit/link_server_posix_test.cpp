#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/link_server.h"
#include "support/scratch_folder.h"

namespace vellumo::platform {
namespace {

namespace fs = std::filesystem;

class LinkServerPosix : public ::testing::Test {
 protected:
  test::ScratchFolder scratch_;
  const fs::path top_ = scratch_.path();
};

TEST_F(LinkServerPosix, FolderIsCreatedPrivateAndSocketRemovedAfter) {
  const fs::path path = top_ / "run" / "Vellumo-cli-x";
  {
    auto server = LinkServer::listen(path.string());
    ASSERT_TRUE(server) << server.error();
    struct stat info {};
    ASSERT_EQ(::stat((top_ / "run").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
}

TEST_F(LinkServerPosix, StaleSocketIsReplacedOtherFilesAndOpenFoldersAreNot) {
  // A socket file whose server died without removing it.
  const fs::path stale = top_ / "Vellumo-cli-stale";
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", stale.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
  {
    auto server = LinkServer::listen(stale.string());
    ASSERT_TRUE(server) << server.error();
    auto client = open_link(stale.string());
    EXPECT_TRUE(client) << client.error().text;
  }

  const fs::path plain = top_ / "Vellumo-cli-plain";
  std::ofstream(plain) << "keep me";
  auto refused = LinkServer::listen(plain.string());
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().find("not a socket"), std::string::npos) << refused.error();
  EXPECT_TRUE(fs::is_regular_file(plain));

  const fs::path shared = top_ / "shared";
  fs::create_directory(shared);
  ::chmod(shared.c_str(), 0777);
  auto unsafe = LinkServer::listen((shared / "Vellumo-cli-x").string());
  EXPECT_FALSE(unsafe);

  const std::string too_long = (top_ / std::string(120, 'a')).string();
  auto long_path = LinkServer::listen(too_long);
  ASSERT_FALSE(long_path);
  EXPECT_NE(long_path.error().find("too long"), std::string::npos);
}

}  // namespace
}  // namespace vellumo::platform
