// The reader of the top members of a checked JSON object (JsonTextMembers),
// which records nothing: it finds where each key and value ends.

#include <cstddef>

#include "core/json_internal.h"
#include "core/json_tape.h"

namespace vellumo {
namespace {

using json_internal::end_of_plain;

// The scanner of JsonTextMembers runs over checked text only: it finds
// where things end, not whether they are well formed.

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

const char* skip_space(const char* p, const char* end) {
  while (p != end && is_space(*p)) {
    ++p;
  }
  return p;
}

// From an opening quotation mark to just past the closing one.
const char* skip_string(const char* p, const char* end) {
  for (p = end_of_plain(p + 1, end); *p != '"'; p = end_of_plain(p + 2, end)) {
  }
  return p + 1;
}

// From the first byte of a value to just past its last.
const char* skip_value(const char* p, const char* end) {
  if (*p == '"') {
    return skip_string(p, end);
  }
  if (*p != '{' && *p != '[') {
    while (p != end && !is_space(*p) && *p != ',' && *p != '}' && *p != ']') {
      ++p;
    }
    return p;
  }
  std::size_t depth = 0;
  for (;;) {
    switch (*p) {
      case '"':
        p = skip_string(p, end);
        continue;
      case '{':
      case '[':
        ++depth;
        break;
      case '}':
      case ']':
        if (--depth == 0) {
          return p + 1;
        }
        break;
      default:
        break;
    }
    ++p;
  }
}

}  // namespace

bool JsonTextMembers::next(std::string_view& key, std::string_view& value) {
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  // At the object's opening brace, or after a member: at a comma or the
  // closing brace.
  const char* p = skip_space(begin + at_, end);
  if (p == end || *p == '}' || (p = skip_space(p + 1, end)) == end || *p != '"') {
    at_ = text_.size();
    return false;
  }
  const char* const key_end = skip_string(p, end);
  key = std::string_view(p + 1, static_cast<std::size_t>(key_end - p) - 2);
  p = skip_space(skip_space(key_end, end) + 1, end);  // past the colon
  const char* const value_end = skip_value(p, end);
  value = std::string_view(p, static_cast<std::size_t>(value_end - p));
  at_ = static_cast<std::size_t>(value_end - begin);
  return true;
}

}  // namespace vellumo
