#pragma once

// The CLI's commands, one row for each form of a command: where the usage
// text lists it and what it says beside it. The usage text is rendered from
// the rows, under its fixed head.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vellumo {

/// A heading of the usage text, with the note beside it.
struct UsageSection {
  std::string_view title;
  std::string_view note = {};
};

/// How a row appears in the usage text.
enum class Shown : std::uint8_t {
  Column,      ///< a line whose column text starts in its 34th character
  WideColumn,  ///< a line whose column text starts in its 46th character
};

struct CommandRow {
  /// The section that lists the row; nullptr for a form the texts do not
  /// show.
  const UsageSection* section;
  /// The command words, then the arguments and options, in the notation of
  /// the usage text: "meetings labels <id> on|off [--confirm]".
  std::string_view syntax;
  /// The usage text's words beside the syntax; a line feed continues them
  /// on a line of their own, in the same column.
  std::string_view column = {};
  Shown shown = Shown::Column;
};

/// Every row, in the order of the usage text.
std::span<const CommandRow> command_table();

/// The usage text for people: the fixed head, then each section's heading
/// and lines; each line ends in a line feed.
std::string usage_text();

}  // namespace vellumo
