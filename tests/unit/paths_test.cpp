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

TEST(AbsolutePaths, WindowsRules) {
  const auto w = PathStyle::Windows;
  EXPECT_TRUE(is_absolute_path(R"(D:\media\clip.m4a)", w));
  EXPECT_TRUE(is_absolute_path("D:/media", w));
  EXPECT_TRUE(is_absolute_path(R"(\\server\share\x)", w));
  EXPECT_TRUE(is_absolute_path(R"(\\?\C:\x)", w));
  EXPECT_TRUE(is_absolute_path(R"(\\.\pipe\x)", w));
  EXPECT_FALSE(is_absolute_path("D:notes.md", w));
  EXPECT_FALSE(is_absolute_path(R"(\x)", w));
  EXPECT_FALSE(is_absolute_path("clip.m4a", w));
  EXPECT_FALSE(is_absolute_path("1:x", w));

  const std::string cwd = R"(C:\work)";
  EXPECT_EQ(resolve_against(cwd, "clip.m4a", w), R"(C:\work\clip.m4a)");
  EXPECT_EQ(resolve_against(cwd, R"(..\clip.m4a)", w), R"(C:\work\..\clip.m4a)");
  EXPECT_EQ(resolve_against(cwd, R"(.\a\.\b)", w), R"(C:\work\.\a\.\b)");
  EXPECT_EQ(resolve_against(cwd, R"(D:\media\clip.m4a)", w), R"(D:\media\clip.m4a)");
  EXPECT_EQ(resolve_against(cwd, R"(\top\x)", w), R"(C:\top\x)");
  EXPECT_EQ(resolve_against(cwd, "D:notes.md", w), "D:notes.md");
  EXPECT_EQ(resolve_against(R"(C:\)", "x", w), R"(C:\x)");
  EXPECT_EQ(resolve_against(R"(\\srv\share\dir)", R"(\x)", w), R"(\\srv\share\x)");
  EXPECT_EQ(resolve_against(R"(\\?\C:\dir)", R"(\x)", w), R"(\\?\C:\x)");
}

TEST(AbsolutePaths, PosixRules) {
  const auto p = PathStyle::Posix;
  EXPECT_TRUE(is_absolute_path("/a", p));
  EXPECT_FALSE(is_absolute_path(R"(C:\a)", p));
  EXPECT_EQ(resolve_against("/home/u", "../x", p), "/home/u/../x");
  EXPECT_EQ(resolve_against("/", "x", p), "/x");
  EXPECT_EQ(resolve_against("/home/u", "/etc/x", p), "/etc/x");
  EXPECT_EQ(resolve_against("/home/u", R"(\x)", p), R"(/home/u/\x)");
}

}  // namespace
}  // namespace vellumo
