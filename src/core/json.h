#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace vellumo {

/// The program's one JSON value type. Objects keep their members sorted by
/// key in ascending byte order.
using Json = nlohmann::json;

/// Deepest nesting any parsed value may have. Values nested deeper are
/// refused before they are built, so that copying, printing and freeing a
/// value never recurse further than this.
inline constexpr std::size_t kMaxJsonDepth = 128;

/// Parses exactly one JSON value (RFC 8259; whitespace around it allowed,
/// nothing else). Refuses a member that appears twice in one object and
/// nesting deeper than kMaxJsonDepth. The error is the parser's message,
/// with the line and column where it applies.
Result<Json, std::string> parse_json(std::string_view text);

/// The keys that lead from the top-level object to one member, that
/// member's own key last.
using JsonKeyPath = std::vector<std::string>;
/// Receives the key path of a member that appears twice in its object.
using JsonDoubledSink = std::function<void(const JsonKeyPath& path)>;

/// Parses as parse_json does, except that a member that appears twice in
/// one object is no fault: the later value wins, and `doubled` is told the
/// member's key path when objects alone lead to it (one inside an array is
/// kept the same way without a word). For readers that look at only a few
/// members and must not trip over the others.
Result<Json, std::string> parse_json_tolerant(std::string_view text,
                                              const JsonDoubledSink& doubled);

/// Receives a key of the top-level object.
using JsonKeySink = std::function<void(std::string&& key)>;

/// Checks `text` as parse_json reads it, without building a value and
/// without looking for duplicate members: the same messages otherwise.
/// `top_key`, when given, receives each key of a top-level object in
/// document order.
Result<void, std::string> check_json_syntax(std::string_view text, const JsonKeySink& top_key = {});

/// Called by the writers whenever their buffer has grown large, so that big
/// values leave in large blocks without being held whole in memory. It must
/// consume (clear) the buffer.
using JsonDrain = std::function<void(std::string& buffer)>;

/// Appends `value` as pretty JSON: two-space indent, "{}" and "[]" for empty
/// containers, no trailing line feed.
void write_json_pretty(std::string& out, const Json& value, const JsonDrain& drain = {});

/// Appends `value` as compact JSON, with no whitespace between tokens.
void write_json_compact(std::string& out, const Json& value, const JsonDrain& drain = {});

/// Appends `text` as a quoted JSON string: `"` and `\` escaped, \b \f \n \r
/// \t for those controls, \u00xx for the other controls, all else as is.
void write_json_string(std::string& out, std::string_view text);

/// Appends a double in the shortest form that reads back as the same value,
/// always with a fraction or an exponent: plain decimals from 1e-5 up to
/// below 1e16 ("0.00001", "1.0", "1000000000000000.0"), exponents beyond
/// ("1e-6", "1e16", "2.5e-10"). Non-finite values are written as null.
void write_json_double(std::string& out, double value);

std::string to_json_compact(const Json& value);

}  // namespace vellumo
