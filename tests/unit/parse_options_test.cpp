#include "cli/parse_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumo {
namespace {

using Words = std::vector<std::string>;

CommandLine parse(const Words& args) {
  auto line = parse_command_line(args);
  EXPECT_TRUE(line) << line.error().message;
  return line ? std::move(line).value() : CommandLine{};
}

TEST(ParseCommandLine, FlagsAnywhereAndHelpVersionFirst) {
  auto line = parse({"status", "--no-launch", "--detach", "--yes", "--cleaned"});
  EXPECT_EQ(line.words, Words{"status"});
  EXPECT_TRUE(line.options.no_launch && line.options.detach && line.options.confirm &&
              line.options.cleaned);
  EXPECT_TRUE(parse({"--confirm"}).options.confirm);
  EXPECT_EQ(parse({"meetings", "--help"}).words, (Words{"help", "meetings"}));
  EXPECT_EQ(parse({"agents", "-h", "x"}).words, (Words{"help", "agents", "x"}));
  EXPECT_EQ(parse({"a", "-V"}).words, (Words{"version", "a"}));
  EXPECT_EQ(parse({"-v", "-", "--", "-x", ""}).words, (Words{"-v", "-", "--", "-x", ""}));
}

TEST(ParseCommandLine, ValueOptions) {
  auto line = parse({"--title=A=B", "x", "--source", "--detach", "--limit", "5", "--limit", "7",
                     "--model=", "--no-launch=1"});
  EXPECT_EQ(line.words, Words{"x"});
  EXPECT_EQ(line.options.values.at("title"), "A=B");
  EXPECT_EQ(line.options.values.at("source"), "--detach");
  EXPECT_FALSE(line.options.detach);
  EXPECT_EQ(line.options.values.at("limit"), "7");
  EXPECT_EQ(line.options.values.at("model"), "");
  EXPECT_EQ(line.options.values.at("no-launch"), "1");
  EXPECT_FALSE(line.options.no_launch);
  EXPECT_FALSE(line.options.values.contains("Title"));

  auto missing = parse_command_line({"meetings", "--title"});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error(), CliError::usage("--title needs a value."));
}

}  // namespace
}  // namespace vellumo
