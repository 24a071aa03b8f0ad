#pragma once

// The CLI's commands, one row for each form of a command: where the usage
// text lists it, what it and the manual page say of it, and what runs it.
// The usage text is rendered from the rows, under its fixed head; dispatch
// runs the first row whose syntax the command words fit; the manual page
// and the completions are written from the rows at build time.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cli/call.h"
#include "cli/syntax.h"
#include "core/result.h"

namespace vellumo {

/// What runs a command: given its words and options, which fit the syntax
/// of its row, by the names the row gives them.
using CommandHandler = Status (*)(const Call& call);

/// A heading of the usage text, with the note beside it.
struct UsageSection {
  std::string_view title;
  std::string_view note = {};
};

/// How a row of a section appears in the texts.
enum class Shown : std::uint8_t {
  Column,      ///< a usage line whose column text starts in its 34th character
  WideColumn,  ///< a usage line whose column text starts in its 46th character
  ManualOnly,  ///< no usage line: only the manual page and the completions show it
};

struct CommandRow {
  constexpr CommandRow(const UsageSection* section, std::string_view syntax, CommandHandler handler,
                       std::string_view column = {}, std::string_view sentence = {},
                       Shown shown = Shown::Column)
      : section(section),
        syntax(syntax),
        form(read_syntax(syntax)),
        handler(handler),
        column(column),
        sentence(sentence),
        shown(shown) {}

  /// The section that lists the row; nullptr for a form the texts do not
  /// show (another name of a command, a family's answer to words that fit
  /// none of its rows).
  const UsageSection* section;
  /// The command words, then the arguments and options, in the notation of
  /// the usage text: "meetings labels <id> on|off [--confirm]".
  std::string_view syntax;
  /// The syntax as read, once, when the table is compiled.
  Syntax form;
  CommandHandler handler;
  /// The usage text's words beside the syntax; a line feed continues them
  /// on a line of their own, in the same column. The manual page describes
  /// the row with them, on one line.
  std::string_view column;
  /// The manual page's description of a row without column text.
  std::string_view sentence;
  Shown shown;
};

/// Every row, in the order of the usage text; the syntax of each reads, and
/// each row of a section has exactly one of a column text and a sentence
/// (checked when it is compiled).
std::span<const CommandRow> command_table();

/// The usage text for people: the fixed head (usage_head.h), then each
/// section's heading and lines; each line ends in a line feed.
std::string usage_text();

}  // namespace vellumo
