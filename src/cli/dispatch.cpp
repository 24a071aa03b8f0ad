#include "cli/dispatch.h"

#include <span>

#include "cli/command_table.h"
#include "cli/meetings.h"
#include "cli/output.h"
#include "cli/parse_options.h"
#include "cli/syntax.h"
#include "core/text.h"

namespace vellumo {
namespace {

using Words = std::vector<std::string>;

// The words at each `<id>` of the row's syntax are meeting references.
Status check_references(const Syntax& syntax, const Words& words) {
  const auto given = std::span(words).subspan(syntax.word_count);
  for (std::size_t at = 0; at < given.size(); ++at) {
    if (argument_at(syntax, at).text == "<id>") {
      TRY_STATUS(check_reference(given[at]));
    }
  }
  return {};
}

}  // namespace

Status dispatch(const Words& words, const CliOptions& options) {
  Words given = words.empty() ? Words{"help"} : words;
  if (given.front() == "meeting") {
    given.front() = "meetings";  // the family's other name
  }
  for (const CommandRow& row : command_table()) {
    if (fits(row.form, given)) {
      TRY_STATUS(check_references(row.form, given));
      return row.handler(Call(row.form, options, given));
    }
  }
  return CliError::usage("Unknown command: " + join_words(words));
}

int run_cli(const std::vector<std::string>& args) {
  auto line = parse_command_line(args);
  if (!line) {
    return report_error(line.error());
  }
  const Status outcome = dispatch(line->words, line->options);
  return outcome ? 0 : report_error(outcome.error());
}

}  // namespace vellumo
