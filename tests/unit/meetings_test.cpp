#include "cli/meetings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "cli/command_table.h"

namespace vellumo {
namespace {

// The summary of a record read as the app's reply is.
Json summary_of(const Json& record) {
  auto tape = JsonTape::parse(to_json_compact(record));
  return tape ? meeting_summary(tape->root()) : Json();
}

TEST(MeetingSummary, FifteenMembersWithCharacterCounts) {
  const Json record = {{"id", "abc"},
                       {"title", "Call"},
                       {"status", "done"},
                       {"transcript", "\xc3\xa9"},
                       {"notes", "a\xf0\x9f\x98\x80z"},
                       {"speakerCount", 2},
                       {"extra", "dropped"},
                       {"error", nullptr}};
  const Json summary = summary_of(record);
  EXPECT_EQ(summary.size(), 15u);
  EXPECT_EQ(summary["transcriptChars"], 1);
  EXPECT_EQ(summary["notesChars"], 3);
  EXPECT_EQ(summary["id"], "abc");
  EXPECT_EQ(summary["speakerCount"], 2);
  EXPECT_TRUE(summary["createdAt"].is_null());
  EXPECT_FALSE(summary.contains("extra"));
  EXPECT_FALSE(summary.contains("transcript"));

  const Json odd = summary_of(Json{{"transcript", 5}, {"notes", nullptr}});
  EXPECT_EQ(odd["transcriptChars"], 0);
  EXPECT_EQ(odd["notesChars"], 0);
  EXPECT_EQ(summary_of(Json::array()).size(), 15u);
}

std::string format_of(std::string_view path, const char* option = nullptr) {
  CliOptions options;
  if (option) {
    options.values["format"] = option;
  }
  const auto row = std::ranges::find_if(command_table(), [](const CommandRow& r) {
    return r.syntax.starts_with("meetings export ");
  });
  const std::vector<std::string> words = {"meetings", "export", "x", std::string(path)};
  auto format = export_format(Call(row->form, options, words), path);
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

}  // namespace
}  // namespace vellumo
