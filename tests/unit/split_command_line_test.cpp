#include "core/split_command_line.h"

#include <gtest/gtest.h>

namespace vellumo {
namespace {

using Words = std::vector<std::string>;

TEST(SplitWindowsCommandLine, ProgramNameIsDroppedByItsOwnRules) {
  EXPECT_EQ(split_windows_command_line(R"("C:\Program Files\v\vellumo-cli.exe" status)"),
            Words{"status"});
  EXPECT_EQ(split_windows_command_line(R"(C:\a\"b c"\cli.exe  x)"), Words{"x"});
  EXPECT_EQ(split_windows_command_line(R"(C:\dir\ x)"), Words{"x"});
  EXPECT_EQ(split_windows_command_line("cli.exe"), Words{});
  EXPECT_EQ(split_windows_command_line(""), Words{});
  EXPECT_EQ(split_windows_command_line("cli.exe \t  "), Words{});
}

TEST(SplitWindowsCommandLine, BackslashesAndQuotes) {
  // a\\\"b -> a\"b
  EXPECT_EQ(split_windows_command_line(R"(p a\\\"b)"), Words{R"(a\"b)"});
  // "a""b" -> a"b
  EXPECT_EQ(split_windows_command_line(R"(p "a""b")"), Words{R"(a"b)"});
  // A JSON object typed with escaped inner quotes arrives as plain JSON.
  EXPECT_EQ(split_windows_command_line(R"(p invoke get_meeting "{\"id\":\"x\"}")"),
            (Words{"invoke", "get_meeting", R"({"id":"x"})"}));
  EXPECT_EQ(split_windows_command_line(R"(p a\\b c\\\\"d e" f\)"),
            (Words{R"(a\\b)", R"(c\\d e)", R"(f\)"}));
  EXPECT_EQ(split_windows_command_line(R"(p \" \\" x")"), (Words{R"(")", R"(\ x)"}));
  EXPECT_EQ(split_windows_command_line(R"(p "" a "")"), (Words{"", "a", ""}));
  EXPECT_EQ(split_windows_command_line("p a\t\tb   c"), (Words{"a", "b", "c"}));
  EXPECT_EQ(split_windows_command_line(R"(p ab"c d"ef)"), Words{"abc def"});
  EXPECT_EQ(split_windows_command_line(R"(p "unterminated x)"), Words{"unterminated x"});
  EXPECT_EQ(split_windows_command_line(R"(p "a"""b)"), Words{R"(a"b)"});
  EXPECT_EQ(split_windows_command_line("p \"\xc3\xa9 \xe2\x82\xac\""),
            Words{"\xc3\xa9 \xe2\x82\xac"});
}

TEST(SplitWindowsCommandLine, KeepingTheProgramName) {
  const auto split = split_windows_command_line_with_program;
  EXPECT_EQ(split(""), Words{});
  EXPECT_EQ(split(R"("C:\Program Files\x.exe" a b)"),
            (Words{R"(C:\Program Files\x.exe)", "a", "b"}));
  // Backslashes are ordinary in the program name.
  EXPECT_EQ(split(R"(C:\a\"b c"\d.exe x)"), (Words{R"(C:\a\b c\d.exe)", "x"}));
  EXPECT_EQ(split("p  \t a\t\tb  "), (Words{"p", "a", "b"}));
  EXPECT_EQ(split(R"(p a\\\"b)"), (Words{"p", R"(a\"b)"}));
  EXPECT_EQ(split(R"(p "a""b")"), (Words{"p", R"(a"b)"}));
  EXPECT_EQ(split(R"(p "a""b c")"), (Words{"p", R"(a"b c)"}));
  EXPECT_EQ(split(R"(p "{\"k\": [1, \"v\"]}")"), (Words{"p", R"({"k": [1, "v"]})"}));
  EXPECT_EQ(split(R"(p "" a"" "")"), (Words{"p", "", "a", ""}));
  EXPECT_EQ(split(R"(p a\\b\ "c\\" d)"), (Words{"p", R"(a\\b\)", R"(c\)", "d"}));
  EXPECT_EQ(split(R"(p a"b c"d "unclosed e)"), (Words{"p", "ab cd", "unclosed e"}));
}

}  // namespace
}  // namespace vellumo
