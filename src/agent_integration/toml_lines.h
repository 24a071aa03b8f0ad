#pragma once

// A lexer for the lines of a TOML text, enough to edit a file by its lines
// without parsing it: it tells which lines are table headers and
// `key = value` entries, reads every spelling of a key (bare, quoted with
// every escape, spaced around its dots, followed by a comment), and knows
// which lines lie inside a value that runs over several lines (a
// multi-line string, an array). It does not check the text; toml_check.h
// does that.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumo::agents {

/// A dotted key path, each key decoded: `a . "b.c".'d'` is {"a", "b.c", "d"}.
using TomlKey = std::vector<std::string>;

/// What a line holds, as far as its start tells.
enum class TomlLineKind {
  Other,        ///< blank, a comment, inside a value, or not readable
  Header,       ///< `[key]`; any line outside values that starts with `[` is one
  ArrayHeader,  ///< `[[key]]`
  Entry,        ///< `key = value`
};

/// One line of a text as the lexer reads it.
struct TomlLine {
  bool top = false;  ///< starts outside every value
  TomlLineKind kind = TomlLineKind::Other;
  std::optional<TomlKey> key;  ///< of a header or entry, when readable
  std::string_view value;      ///< an entry's text after `=`, to the end of its line

  friend bool operator==(const TomlLine&, const TomlLine&) = default;
};

/// Reads `lines`, the lines of one text in order (core/text.h's
/// split_lines); a byte order mark at the start of the first is skipped.
/// Each TomlLine's `value` points into `lines`. With `ends_inside_value`,
/// also tells whether the text ends inside a value (a multi-line string,
/// an array or inline table left open): a line added after it would be
/// part of that value.
std::vector<TomlLine> read_toml_lines(const std::vector<std::string_view>& lines,
                                      bool* ends_inside_value = nullptr);

/// Whether `value` (an entry's value text) is an inline table one of whose
/// keys begins with `name`: `{ name = {...} }`, `{ "name".command = "x" }`.
bool inline_table_holds(std::string_view value, std::string_view name);

}  // namespace vellumo::agents
