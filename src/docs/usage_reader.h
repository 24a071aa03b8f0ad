#pragma once

// Reads the usage text, and the manual's own words kept beside the
// templates, into what the manual page and the completions are made of.
// Every expectation about either text is checked: a text that does not
// read as expected is an error naming what was expected, never an empty
// part of a page.

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

/// One command line: "  meetings show <id>   Full record as JSON".
struct UsageEntry {
  std::string syntax;       ///< the command part: "meetings show <id>"
  std::string description;  ///< empty where the line gives none
  /// The command words, level by level, each level with its alternatives:
  /// "dictation start|stop|cancel" is {{"dictation"}, {"start", "stop", "cancel"}}.
  std::vector<Strings> words;
  Strings slots;  ///< what each argument position takes, as above
  /// The options the line shows, each with what its value takes ("" for
  /// an option without a value).
  std::vector<std::pair<std::string, std::string>> options;
};

struct UsageSection {
  std::string title;  ///< "Meetings"
  std::string note;   ///< the text after the title, or ""
  std::vector<UsageEntry> entries;
};

struct Usage {
  std::string summary;   ///< "control Vellumo from a terminal, script or agent"
  std::string synopsis;  ///< "vellumo-cli <command> [options]"
  Strings description;   ///< the lines of the opening paragraph
  std::vector<std::pair<std::string, std::string>> exit_codes;  ///< "3", "Vellumo not running"
  Strings named_options;  ///< the options the opening paragraph names
  std::vector<UsageSection> sections;
};

/// The usage text as the program prints it.
Result<Usage, Error> read_usage(std::string_view text);

/// The manual's own words (the file manual.txt beside the templates).
struct Manual {
  /// A sentence for each usage line that has none, by its command part.
  std::map<std::string, std::string> descriptions;
  /// Command lines the usage text does not show, with their sentence.
  std::vector<std::pair<std::string, std::string>> commands;
  /// The options of every command: "-h, --help" and their sentence.
  std::vector<std::pair<std::string, std::string>> options;
  /// Short descriptions of command words for the completions, by the
  /// words' path: "meetings record".
  std::map<std::string, std::string> words;
};

Result<Manual, Error> read_manual(std::string_view text);

/// The usage text and the manual's words together, each checked against the
/// other: every command line has a description, every sentence of the
/// manual belongs to a line that needs it, every option the usage text
/// names is described. The manual's extra commands join the last section.
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
