#include "agent_integration/json_members.h"

#include "core/json.h"

namespace vellumo::agents {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The core's strict check, which also refuses a byte order mark: the
// library would skip one, but strict JSON has none.
Result<void, std::string> check_strict(std::string_view text, const JsonKeySink& top_key) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    return std::string(
        "parse error at line 1, column 1: syntax error while parsing value - a byte order mark "
        "is not JSON");
  }
  return check_json_syntax(text, top_key);
}

// The scanner below runs only over text the checker accepted, so it needs
// to find where things end, not whether they are well formed.

std::size_t skip_space(std::string_view text, std::size_t i) {
  while (i < text.size() && is_json_space(text[i])) {
    ++i;
  }
  return i;
}

// `i` is at an opening quotation mark; returns the index after the closing one.
std::size_t skip_string(std::string_view text, std::size_t i) {
  ++i;
  while (i < text.size() && text[i] != '"') {
    i += text[i] == '\\' ? 2 : 1;
  }
  return i + 1;
}

// `i` is at the first character of a value; returns the index after its last.
std::size_t skip_value(std::string_view text, std::size_t i) {
  const char first = text[i];
  if (first == '"') {
    return skip_string(text, i);
  }
  if (first == '{' || first == '[') {
    std::size_t depth = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == '"') {
        i = skip_string(text, i);
        continue;
      }
      if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        if (--depth == 0) {
          return i + 1;
        }
      }
      ++i;
    }
    return i;
  }
  // A number, true, false or null.
  while (i < text.size() && !is_json_space(text[i]) && text[i] != ',' && text[i] != '}' &&
         text[i] != ']') {
    ++i;
  }
  return i;
}

}  // namespace

Result<void, std::string> check_json(std::string_view text) { return check_strict(text, {}); }

Result<std::vector<Member>, std::string> read_member_list(std::string_view text) {
  std::size_t i = skip_space(text, 0);
  if (i >= text.size() || text[i] != '{') {
    return std::string(i >= text.size() ? "expected an object, found the end of the text"
                                        : "expected an object");
  }
  std::vector<std::string> keys;
  if (auto checked = check_strict(text, [&](std::string&& key) { keys.push_back(std::move(key)); });
      !checked) {
    return std::move(checked).error();
  }

  std::vector<Member> members;
  members.reserve(keys.size());
  i = skip_space(text, i + 1);
  while (i < text.size() && text[i] == '"') {
    i = skip_space(text, skip_string(text, i));  // the key; its text comes from the checker
    i = skip_space(text, i + 1);                 // past the colon
    const std::size_t start = i;
    i = skip_value(text, i);
    if (members.size() >= keys.size()) {
      return std::string("internal error: the member scan disagrees with the parser");
    }
    members.push_back(
        {std::move(keys[members.size()]), std::string(text.substr(start, i - start))});
    i = skip_space(text, i);
    if (i < text.size() && text[i] == ',') {
      i = skip_space(text, i + 1);
    }
  }
  if (members.size() != keys.size()) {
    return std::string("internal error: the member scan disagrees with the parser");
  }
  return members;
}

std::string render_member_list(const std::vector<Member>& members, int indent,
                               std::string_view nl) {
  if (members.empty()) {
    return "{}";
  }
  const auto n = static_cast<std::size_t>(indent);
  std::string out = "{";
  out += nl;
  bool first = true;
  for (const Member& member : members) {
    if (!first) {
      out += ',';
      out += nl;
    }
    first = false;
    out.append(n + 2, ' ');
    write_json_string(out, member.key);
    out += ": ";
    out += member.raw_value;
  }
  out += nl;
  out.append(n, ' ');
  out += '}';
  return out;
}

}  // namespace vellumo::agents
