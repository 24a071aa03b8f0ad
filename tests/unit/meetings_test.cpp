#include "cli/meetings.h"

#include <gtest/gtest.h>

#include "core/numbers.h"
#include "core/paths.h"

namespace vellumo {
namespace {

TEST(MeetingSummary, FifteenMembersWithCharacterCounts) {
  const Json record = {{"id", "abc"},
                       {"title", "Call"},
                       {"status", "done"},
                       {"transcript", "\xc3\xa9"},
                       {"notes", "a\xf0\x9f\x98\x80z"},
                       {"speakerCount", 2},
                       {"extra", "dropped"},
                       {"error", nullptr}};
  const Json summary = meeting_summary(record);
  EXPECT_EQ(summary.size(), 15u);
  EXPECT_EQ(summary["transcriptChars"], 1);
  EXPECT_EQ(summary["notesChars"], 3);
  EXPECT_EQ(summary["id"], "abc");
  EXPECT_EQ(summary["speakerCount"], 2);
  EXPECT_TRUE(summary["createdAt"].is_null());
  EXPECT_FALSE(summary.contains("extra"));
  EXPECT_FALSE(summary.contains("transcript"));

  const Json odd = meeting_summary(Json{{"transcript", 5}, {"notes", nullptr}});
  EXPECT_EQ(odd["transcriptChars"], 0);
  EXPECT_EQ(odd["notesChars"], 0);
  EXPECT_EQ(meeting_summary(Json::array()).size(), 15u);
}

std::string format_of(std::string_view path, const char* option = nullptr) {
  CliOptions options;
  if (option) {
    options.values["format"] = option;
  }
  auto format = export_format(options, path);
  return format ? *format : "error: " + format.error().message;
}

TEST(ExportFormat, FromOptionOrExtension) {
  EXPECT_EQ(format_of("out.HTML"), "html");
  EXPECT_EQ(format_of("out.html", "HTML"),
            "error: Unknown export format `HTML`. Use md, txt, html, pdf or wav.");
  EXPECT_EQ(format_of("out.html", "txt"), "text");
  EXPECT_EQ(format_of("call"), "markdown");
  EXPECT_EQ(format_of(".md"), "markdown");
  EXPECT_EQ(format_of("dir/.."), "markdown");
  EXPECT_EQ(format_of("call."), "error: Unknown export format ``. Use md, txt, html, pdf or wav.");
  EXPECT_EQ(format_of("notes.docx"),
            "error: Unknown export format `docx`. Use md, txt, html, pdf or wav.");
  EXPECT_EQ(format_of("a.b/c"), "markdown");
  EXPECT_EQ(format_of("x/.hidden.TXT"), "text");
  EXPECT_EQ(format_of("x/take.wav/"), "wav");
  EXPECT_EQ(format_of("a.audio"), "wav");
  EXPECT_EQ(format_of("a.htm"), "html");
  EXPECT_EQ(format_of("a.pdf"), "pdf");
  EXPECT_EQ(format_of("a.markdown"), "markdown");
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

TEST(ParseUnsigned, StrictDecimal) {
  EXPECT_EQ(parse_unsigned("0"), 0u);
  EXPECT_EQ(parse_unsigned("+30"), 30u);
  EXPECT_EQ(parse_unsigned("007"), 7u);
  EXPECT_EQ(parse_unsigned("18446744073709551615"), 18446744073709551615u);
  for (std::string_view bad :
       {"", "+", "-", "-5", "1.5", "10s", "++1", " 1", "1 ", "18446744073709551616", "0x10"}) {
    EXPECT_EQ(parse_unsigned(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace vellumo
