// What the docs are made of: the real command table, usage head and
// manual's words read whole, and each expectation broken in turn stops with
// a message naming it.

#include "docs/usage_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "agent_integration/target_table.h"
#include "cli/command_table.h"
#include "cli/usage_head.h"
#include "docs/docs_model.h"

namespace vellumo::docs {
namespace {

std::string read_text(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string real_manual() { return read_text(VELLUMO_DOCS_MANUAL); }

// `text` with its one `from` replaced by `to`.
std::string edited(std::string text, std::string_view from, std::string_view to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

using Rows = std::vector<CommandRow>;

// The command table with the one row whose syntax is `syntax` changed.
Rows edited_rows(std::string_view syntax, std::string_view CommandRow::*field,
                 std::string_view to) {
  Rows rows(command_table().begin(), command_table().end());
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const CommandRow& r) { return r.syntax == syntax; });
  EXPECT_NE(row, rows.end()) << syntax;
  if (row != rows.end()) {
    (*row).*field = to;
  }
  return rows;
}

Result<std::string, Error> table_of(const Rows& rows, const std::string& manual) {
  TRY(Usage read, read_usage(kUsageHead, rows));
  TRY(Manual words, read_manual(manual));
  TRY(Docs docs, combine(std::move(read), std::move(words)));
  return completion_table(docs);
}

TEST(UsageReader, ReadsTheRealTexts) {
  const auto usage = read_usage(kUsageHead, command_table());
  ASSERT_TRUE(usage) << usage.error().message;
  EXPECT_EQ(usage->sections.size(), 4u);
  EXPECT_EQ(usage->exit_codes.size(), 4u);
  EXPECT_EQ(usage->named_options, Strings{"--no-launch"});
  const Rows rows(command_table().begin(), command_table().end());
  auto table = table_of(rows, real_manual());
  ASSERT_TRUE(table) << table.error().message;
  EXPECT_NE(table->find("\narguments:meetings join:@ref @ref...\n"), std::string::npos) << *table;
}

TEST(UsageReader, NamesWhatABrokenTextLacks) {
  const Rows rows(command_table().begin(), command_table().end());
  const std::string manual = real_manual();
  struct Case {
    Rows rows;
    std::string manual;
    std::string message;
  };
  const Case cases[] = {
      {edited_rows("meetings show <id>", &CommandRow::syntax, "meetings show <ref>"), manual,
       "`<ref>` is a placeholder of no known kind"},
      {edited_rows("dictation history [--limit N]", &CommandRow::syntax,
                   "dictation history [--limit X]"),
       manual, "--limit takes `X`, a value of no known kind"},
      {edited_rows("open [page]", &CommandRow::column,
                   "Open a window: dictation, meetings, setup, appearance, microphone"),
       manual, "to name the page `shortcuts`"},
      {rows, edited(manual, "--no-launch\n", "--launch\n"), "names --no-launch"},
      {rows, edited(manual, "meetings\n    The meeting library\n", ""),
       "the command word `meetings` belongs to several lines"},
      {rows, manual + "[words]\nmeetings play\n    Play.\n",
       "`meetings play`, which is no command"},
      {rows, manual + "[notes]\n", "unknown section [notes]"},
  };
  for (const Case& c : cases) {
    const auto table = table_of(c.rows, c.manual);
    ASSERT_FALSE(table) << c.message;
    EXPECT_NE(table.error().message.find(c.message), std::string::npos)
        << "expected: " << c.message << "\ngot: " << table.error().message;
  }
}

// The usage text's line of the agents command and the README name the
// agents by hand: each target of the table must be among them.
TEST(AgentTargets, TheUsageAndTheReadmeNameEach) {
  const auto row =
      std::ranges::find(command_table(), "agents status|install|remove", &CommandRow::syntax);
  ASSERT_NE(row, command_table().end());
  const auto one_line = [](std::string text) {
    std::ranges::replace(text, '\n', ' ');
    return text;
  };
  const std::string column = one_line(std::string(row->column));
  const std::string readme = one_line(read_text(VELLUMO_README));
  for (const agents::Target& target : agents::targets()) {
    const auto short_name = target.short_name.empty() ? target.name : target.short_name;
    EXPECT_NE(column.find(short_name), std::string::npos) << short_name << " in: " << column;
    EXPECT_NE(readme.find(target.name), std::string::npos) << target.name << " in the README";
  }
}

}  // namespace
}  // namespace vellumo::docs
