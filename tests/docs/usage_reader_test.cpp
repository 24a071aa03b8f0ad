// The reader of the usage text and the manual's words: the real texts read
// whole, and each expectation broken in turn stops with a message naming it.

#include "docs/usage_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/command_table.h"
#include "texts/texts.h"

namespace vellumo::docs {
namespace {

std::string real_manual() {
  std::ifstream file(VELLUMO_DOCS_MANUAL);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// `text` with its one `from` replaced by `to`.
std::string edited(std::string text, std::string_view from, std::string_view to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

Result<std::string, Error> table_of(const std::string& usage, const std::string& manual) {
  TRY(Usage read, read_usage(usage));
  TRY(Manual words, read_manual(manual));
  TRY(Docs docs, combine(std::move(read), std::move(words)));
  return completion_table(docs);
}

TEST(UsageReader, ReadsTheRealTexts) {
  const auto usage = read_usage(usage_text());
  ASSERT_TRUE(usage) << usage.error().message;
  EXPECT_EQ(usage->sections.size(), 4u);
  EXPECT_EQ(usage->exit_codes.size(), 4u);
  EXPECT_EQ(usage->named_options, Strings{"--no-launch"});
  auto table = table_of(std::string(usage_text()), real_manual());
  ASSERT_TRUE(table) << table.error().message;
  EXPECT_NE(table->find("\narguments:meetings join:@ref @ref...\n"), std::string::npos) << *table;
}

TEST(UsageReader, NamesWhatABrokenTextLacks) {
  const std::string usage(usage_text());
  const std::string manual = real_manual();
  struct Case {
    std::string usage;
    std::string manual;
    std::string message;
  };
  const Case cases[] = {
      {edited(usage, "vellumo-cli " VELLUMO_VERSION ":", "vellumo " VELLUMO_VERSION ":"), manual,
       "line 1: expected `vellumo-cli " VELLUMO_VERSION ": <summary>.`"},
      {usage.substr(0, usage.size() - 1), manual, "expected it to end with a line feed"},
      {edited(usage, "Usage: ", "Use: "), manual, "line 3: expected `Usage: vellumo-cli ...`"},
      {edited(usage, "Exit codes: ", "Exit status: "), manual, "`Exit codes: 0 <meaning>, ....`"},
      {edited(usage, "codes: 0 ok", "codes: ok"), manual, "exit codes as `<number> <meaning>`"},
      {edited(usage, "(--no-launch", "(no launch"), manual, "to name an option as `(--name`"},
      {edited(usage, "\nApp\n", "\n App\n"), manual, "line 9: expected a section heading"},
      {usage + "\n", manual, "line 59: expected a section heading, found `<end of text>`"},
      {edited(usage, "\n\nDictation\n", "\nDictation\n"), manual,
       "line 19: expected a command line (two spaces, then a command)"},
      {edited(usage,
              "Dictation\n  dictation start|stop|cancel\n  dictation history [--limit N]\n"
              "  dictation copy-last\n",
              "Dictation\n"),
       manual, "expected the command lines of the section `Dictation`"},
      {edited(usage, "show <id>", "show <ref>"), manual,
       "`<ref>` is a placeholder of no known kind"},
      {edited(usage, "--limit N", "--limit X"), manual,
       "--limit takes `X`, a value of no known kind"},
      {edited(usage, "microphone, shortcuts", "microphone"), manual,
       "to name the page `shortcuts`"},
      {usage, edited(manual, "version\n    The version", "#\n    The version"),
       "the usage line `version` has no description"},
      {usage, manual + "[descriptions]\nmeetings show <id>\n    Shown.\n", "describes itself"},
      {usage, manual + "[descriptions]\nmeetings play <id>\n    Played.\n",
       "`meetings play <id>`, which is no line of the usage text"},
      {usage, edited(manual, "--no-launch\n", "--launch\n"), "names --no-launch"},
      {usage, edited(manual, "meetings\n    The meeting library\n", ""),
       "the command word `meetings` belongs to several lines"},
      {usage, manual + "[words]\nmeetings play\n    Play.\n",
       "`meetings play`, which is no command"},
      {usage, manual + "[notes]\n", "unknown section [notes]"},
  };
  for (const Case& c : cases) {
    const auto table = table_of(c.usage, c.manual);
    ASSERT_FALSE(table) << c.message;
    EXPECT_NE(table.error().message.find(c.message), std::string::npos)
        << "expected: " << c.message << "\ngot: " << table.error().message;
  }
}

}  // namespace
}  // namespace vellumo::docs
