#include "core/paths.h"

#include <gtest/gtest.h>

namespace vellumo {
namespace {

TEST(Paths, ParentFolderWindows) {
  const auto w = PathStyle::Windows;
  EXPECT_EQ(parent_folder(R"(C:\Program Files\Vellumo\vellumo-cli.exe)", w),
            R"(C:\Program Files\Vellumo)");
  EXPECT_EQ(parent_folder(R"(C:\vellumo-cli.exe)", w), R"(C:\)");
  EXPECT_EQ(parent_folder("C:/a/b.exe", w), "C:/a");
  EXPECT_EQ(parent_folder(R"(\\server\share\dir\cli.exe)", w), R"(\\server\share\dir)");
  EXPECT_EQ(parent_folder(R"(\\server\share\cli.exe)", w), R"(\\server\share\)");
  EXPECT_EQ(parent_folder(R"(C:\a\\b.exe)", w), R"(C:\a)");
  EXPECT_EQ(parent_folder(R"(C:\)", w), std::nullopt);
  EXPECT_EQ(parent_folder("cli.exe", w), std::nullopt);
  EXPECT_EQ(parent_folder("", w), std::nullopt);
}

TEST(Paths, ParentFolderPosix) {
  const auto p = PathStyle::Posix;
  EXPECT_EQ(parent_folder("/opt/vellumo/vellumo-cli", p), "/opt/vellumo");
  EXPECT_EQ(parent_folder("/vellumo-cli", p), "/");
  EXPECT_EQ(parent_folder("/", p), std::nullopt);
  EXPECT_EQ(parent_folder(R"(/a\b)", p), "/");
}

TEST(Paths, Join) {
  EXPECT_EQ(join_path(R"(C:\)", "Vellumo.exe", PathStyle::Windows), R"(C:\Vellumo.exe)");
  EXPECT_EQ(join_path(R"(C:\x)", "Vellumo.exe", PathStyle::Windows), R"(C:\x\Vellumo.exe)");
  EXPECT_EQ(join_path("/", "Vellumo", PathStyle::Posix), "/Vellumo");
  EXPECT_EQ(join_path("/opt", "Vellumo", PathStyle::Posix), "/opt/Vellumo");
}

}  // namespace
}  // namespace vellumo
