#pragma once

// Reads the syntax of the command table's rows, in the usage text's
// notation, into what the completions are made of: the command words, what
// each argument position takes, and the options with what their values
// take. A placeholder whose kind is not known here is an error naming it:
// a new one needs its completion decided.

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/command_table.h"
#include "core/result.h"

namespace vellumo::docs {

using Strings = std::vector<std::string>;
/// What a text lacks, as a message for the build's log.
struct Error {
  std::string message;
};

/// What a position on the command line takes, for the completions:
/// kRef a meeting reference, kFile a file name, kText free text; any other
/// value is a list of words separated by `|`. A slot ending in kRepeat
/// stands for itself and every position after it.
inline constexpr std::string_view kRef = "@ref";
inline constexpr std::string_view kFile = "@file";
inline constexpr std::string_view kText = "@text";
inline constexpr std::string_view kRepeat = "...";

/// One command: "meetings show <id>", described as "Full record as JSON".
struct UsageEntry {
  std::string syntax;       ///< "meetings show <id>"
  std::string description;  ///< the row's column text on one line, or its sentence
  /// The command words, level by level, each level with its alternatives:
  /// "dictation start|stop|cancel" is {{"dictation"}, {"start", "stop", "cancel"}}.
  std::vector<Strings> words;
  Strings slots;  ///< what each argument position takes, as above
  /// The options the syntax shows, each with what its value takes ("" for
  /// an option without a value).
  std::vector<std::pair<std::string, std::string>> options;
};

struct UsageSection {
  std::string title;  ///< "Meetings"
  std::string note;   ///< the text beside the title, or ""
  std::vector<UsageEntry> entries;
};

/// One syntax read, without its description.
Result<UsageEntry, Error> read_entry(std::string_view syntax);

/// The rows that the texts show (the rows of a section), by section in the
/// table's order. The line that takes `[page]` must name every page.
Result<std::vector<UsageSection>, Error> read_commands(std::span<const CommandRow> rows);

}  // namespace vellumo::docs
