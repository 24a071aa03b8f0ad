// The CLI's command table against the stand-in app's: every row run, each
// way its words, alternatives and option values allow, reads only the
// arguments and options its syntax names, and sends only commands that are
// rows of the stand-in's table, with arguments its rules take; and every
// row of the stand-in's table is sent so.

#include "cli/command_table.h"

#include <map>
#include <set>

#include "cli/syntax.h"
#include "core/text.h"
#include "harness.h"
#include "standin_app/app.h"
#include "standin_app/commands.h"

namespace vellumo::e2e {
namespace {

using CommandTable = E2eTest;
using Variants = std::vector<std::vector<std::string>>;

// Each of `variants` followed by each of `choices`.
Variants times(const Variants& variants, const std::vector<std::string>& choices) {
  Variants longer;
  for (const auto& words : variants) {
    for (const std::string& choice : choices) {
      longer.push_back(words);
      longer.back().push_back(choice);
    }
  }
  return longer;
}

// The alternatives of `text` ("a|b"), each filled in where `fill` has it.
std::vector<std::string> choices(std::string_view text,
                                 const std::map<std::string_view, std::string>& fill) {
  std::vector<std::string> all;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t bar = std::min(text.find('|', at), text.size());
    const std::string_view choice = text.substr(at, bar - at);
    all.push_back(fill.contains(choice) ? fill.at(choice) : std::string(choice));
    at = bar + 1;
  }
  return all;
}

TEST_F(CommandTable, TheCliReachesEveryRowOfTheStandinsTable) {
  constexpr std::string_view kId = "0123456789abcdef0123456789abcdef";
  const Json record = {
      {"id", kId}, {"title", "T"}, {"status", "done"}, {"transcript", "x"}, {"notes", "y"}};
  Json s = scenario();
  s["default"] = Json{{"reply", Json{{"ok", true}, {"result", Json::object()}}}};
  const auto reply = [](Json result) {
    return Json{{"reply", Json{{"ok", true}, {"result", std::move(result)}}}};
  };
  s["replies"]["list_meetings"] = reply(Json::array({Json{{"id", kId}}}));
  s["replies"]["get_meeting"] = reply(record);
  s["replies"]["get_state"] = reply(Json{{"settings", Json{{"language", "en"}}}});
  start_app(s);
  put_file(dir() / "notes.md", "Notes.");

  // The words that must be real for a command to reach the app; the others
  // go as they are, brackets dropped.
  const std::map<std::string_view, std::string> fill = {
      {"<id>", "latest"},
      {"<file>", target().path_text(dir() / "talk.wav")},
      {"<path>", target().path_text(dir() / "out" / "x")},
      {"F", target().path_text(dir() / "notes.md")},
      {"N", "3"},
      {"S", "0"},
      {"key=value", "language=de"},
      {"<command>", "ping"},
      {"json", "{}"}};
  // The agents commands that change the machine's user environment.
  const std::set<std::vector<std::string>> left_out = {{"agents", "install"}, {"agents", "ensure"}};
  set_path_entries({target().path_text(dir())});
  Variants runs;
  for (const CommandRow& row : command_table()) {
    const Syntax& syntax = row.form;
    Variants variants = {{}};
    for (std::string_view level : syntax.words()) {
      variants = times(variants, choices(level, fill));
    }
    for (const SyntaxArgument& argument : syntax.arguments()) {
      const std::string_view text = argument.text;
      variants = times(variants,
                       choices(argument.optional ? text.substr(1, text.size() - 2) : text, fill));
    }
    for (const SyntaxOption& option : syntax.options()) {
      if (option.excludes_previous) {
        continue;
      }
      variants = times(variants, {std::string(option.name)});
      if (!option.value.empty()) {
        variants = times(variants, choices(option.value, fill));
      }
    }
    for (auto& words : variants) {
      if (!left_out.contains(
              {words.begin(), words.begin() + std::min<std::size_t>(2, words.size())})) {
        runs.push_back(std::move(words));
      }
    }
  }
  RunOptions no_input;
  no_input.stdin_text = "";
  for (auto words : runs) {
    words.push_back("--no-launch");
    const RunResult run = cli(words, no_input);
    EXPECT_EQ(run.err.find("internal error"), std::string::npos) << join_words(words) << "\n"
                                                                 << run.err;
  }

  std::set<std::string> reached;
  for (const std::string& line : requests()) {
    const auto request = standin::parse_request(line);
    ASSERT_TRUE(request) << line;
    const standin::CommandSpec* row = standin::App::find_command(request->command);
    ASSERT_TRUE(row) << request->command;
    EXPECT_TRUE(standin::check_args(*row, request->args)) << line;
    reached.insert(request->command);
  }
  std::set<std::string> rows;
  for (const standin::CommandSpec& row : standin::App::command_table()) {
    rows.emplace(row.name);
  }
  EXPECT_EQ(reached, rows);
}

}  // namespace
}  // namespace vellumo::e2e
