#include "agent_integration/json_members.h"

#include "core/json.h"

namespace vellumo::agents {
namespace {

// Follows the library's parse without building anything: it refuses only
// what the library refuses, plus nesting deeper than kMaxJsonDepth, and
// keeps the keys of the top-level object in document order.
class Checker final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }

  bool start_object(std::size_t) override { return open(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    if (depth_ == 1) {
      top_keys_.push_back(std::move(name));
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    // Drop the library's "[json.exception.parse_error.101] " tag; the rest
    // names the line, the column and what was wrong.
    std::string_view text = e.what();
    if (!text.empty() && text.front() == '[') {
      if (auto end = text.find("] "); end != std::string_view::npos) {
        text.remove_prefix(end + 2);
      }
    }
    return fail(std::string(text));
  }

  std::vector<std::string>& top_keys() { return top_keys_; }
  const std::string& error() const { return error_; }

 private:
  bool open() {
    if (depth_ >= kMaxJsonDepth) {
      return fail("nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    return true;
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  std::size_t depth_ = 0;
  std::vector<std::string> top_keys_;
  std::string error_;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

Result<void, std::string> run_checker(std::string_view text, Checker& checker) {
  // The library would skip a byte order mark; strict JSON has none.
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    return std::string(
        "parse error at line 1, column 1: syntax error while parsing value - a byte order mark "
        "is not JSON");
  }
  if (!Json::sax_parse(text, &checker, nlohmann::detail::input_format_t::json, true, false)) {
    return checker.error();
  }
  return {};
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

Result<void, std::string> check_json(std::string_view text) {
  Checker checker;
  return run_checker(text, checker);
}

Result<std::vector<Member>, std::string> read_member_list(std::string_view text) {
  std::size_t i = skip_space(text, 0);
  if (i >= text.size() || text[i] != '{') {
    return std::string(i >= text.size() ? "expected an object, found the end of the text"
                                         : "expected an object");
  }
  Checker checker;
  if (auto checked = run_checker(text, checker); !checked) {
    return std::move(checked).error();
  }
  std::vector<std::string>& keys = checker.top_keys();

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
    members.push_back({std::move(keys[members.size()]), std::string(text.substr(start, i - start))});
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
