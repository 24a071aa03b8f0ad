#pragma once

// The strict member-list reader and renderer of the configuration editors. The grammar is
// nlohmann/json's: a text is first checked by the library (RFC 8259,
// duplicate names allowed, nesting up to kMaxJsonDepth), and only then a
// small scanner walks the checked text to cut out each member's value.

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace vellumo::agents {

/// One member of a JSON object as written in a file.
struct Member {
  std::string key;        ///< the member name, JSON escapes decoded
  std::string raw_value;  ///< the value's exact source text, no surrounding whitespace

  friend bool operator==(const Member&, const Member&) = default;
};

/// Checks that `text` is exactly one strict JSON value (RFC 8259, JSON
/// whitespace around it allowed; no comments, no byte order mark, no
/// trailing commas). Duplicate member names are allowed. The error is the
/// library's message with its line and column.
Result<void, std::string> check_json(std::string_view text);

/// Reads the members of the object that `text` holds, in document order;
/// duplicate keys each keep their place. Fails on anything that is not a
/// strict JSON object with nothing but JSON whitespace around it (an empty
/// or blank text, a byte order mark, a top level that is not an object
/// included).
Result<std::vector<Member>, std::string> read_member_list(std::string_view text);

/// Renders `members` at an indent of `indent` spaces with the line break
/// `nl`: "{}" when empty, else "{", nl, the members ((indent + 2) spaces,
/// key in JSON string form, ": ", raw value) separated by "," nl, then nl,
/// `indent` spaces and "}".
std::string render_member_list(const std::vector<Member>& members, int indent, std::string_view nl);

}  // namespace vellumo::agents
