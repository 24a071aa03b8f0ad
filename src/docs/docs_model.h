#pragma once

// What the manual page and the completions are made of: the parts of the
// usage text's fixed head, the command table's rows that the texts show,
// and the manual's own words kept beside the templates (manual.txt), each
// checked against the others. A text that does not read as expected is an
// error naming what was expected, never an empty part of a page.

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/command_table.h"
#include "cli/usage_head.h"
#include "core/result.h"
#include "docs/usage_reader.h"

namespace vellumo::docs {

struct Usage {
  std::string summary;   ///< "control Vellumo from a terminal, script or agent"
  std::string synopsis;  ///< "vellumo-cli <command> [options]"
  Strings description;   ///< the lines of the opening paragraph
  std::vector<std::pair<std::string, std::string>> exit_codes;  ///< "3", "Vellumo not running"
  Strings named_options;  ///< the options the opening paragraph names
  std::vector<UsageSection> sections;
};

/// The usage text's head and the command rows.
Result<Usage, Error> read_usage(const UsageHead& head, std::span<const CommandRow> rows);

/// The manual's own words (the file manual.txt beside the templates): what
/// no row of the command table says.
struct Manual {
  /// The options of every command: "-h, --help" and their sentence.
  std::vector<std::pair<std::string, std::string>> options;
  /// Short descriptions of command words for the completions, by the
  /// words' path: "meetings record".
  std::map<std::string, std::string> words;
};

Result<Manual, Error> read_manual(std::string_view text);

/// The usage and the manual's words together: every option the usage
/// text's head names is described.
struct Docs {
  Usage usage;
  Manual manual;
};

Result<Docs, Error> combine(Usage usage, Manual manual);

/// The word tables of the completions, one record a line:
///   globals::<options of every command>
///   commands:<path>:<the words that may follow it>
///   options:<path>:<its options>
///   value:<option>:<what its value takes>
///   arguments:<path>:<the slots of its arguments>
///   describe:<path>:<short description of its last word>
/// A path is command words joined by spaces; the program's own is "".
Result<std::string, Error> completion_table(const Docs& docs);

}  // namespace vellumo::docs
