#include "agent_integration/toml_lines.h"

#include <cstdint>

#include "core/text.h"
#include "core/utf8.h"

namespace vellumo::agents {
namespace {

// ------------------------------------------------------------ TOML keys

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_spaces(std::string_view s, std::size_t i) {
  while (i < s.size() && is_space(s[i])) {
    ++i;
  }
  return i;
}

bool is_control(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F; }

bool is_bare(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

// Appends `cp` as UTF-8; false for what is no Unicode scalar value.
bool append_scalar(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return false;
  }
  append_utf8(out, static_cast<char32_t>(cp));
  return true;
}

// The escape at s[i] (a backslash) of a basic string, decoded onto `out`;
// i moves past it. False for an escape TOML does not know.
bool read_escape(std::string_view s, std::size_t& i, std::string& out) {
  if (i + 1 >= s.size()) {
    return false;
  }
  const char c = s[i + 1];
  i += 2;
  switch (c) {
    case 'b':
      out += '\b';
      return true;
    case 't':
      out += '\t';
      return true;
    case 'n':
      out += '\n';
      return true;
    case 'f':
      out += '\f';
      return true;
    case 'r':
      out += '\r';
      return true;
    case '"':
      out += '"';
      return true;
    case '\\':
      out += '\\';
      return true;
    case 'u':
    case 'U': {
      const std::size_t digits = c == 'u' ? 4 : 8;
      if (i + digits > s.size()) {
        return false;
      }
      std::uint32_t cp = 0;
      for (std::size_t k = 0; k < digits; ++k) {
        const int d = hex_digit(s[i + k]);
        if (d < 0) {
          return false;
        }
        cp = (cp << 4) | static_cast<std::uint32_t>(d);
      }
      i += digits;
      return append_scalar(out, cp);
    }
    default:
      return false;
  }
}

// One key of a key path at s[i]: bare, or a one-line basic or literal
// string (escapes decoded); i moves past it.
std::optional<std::string> read_simple_key(std::string_view s, std::size_t& i) {
  std::string key;
  if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
    const char quote = s[i++];
    while (i < s.size() && s[i] != quote) {
      if (is_control(s[i])) {
        return std::nullopt;
      }
      if (quote == '"' && s[i] == '\\') {
        if (!read_escape(s, i, key)) {
          return std::nullopt;
        }
      } else {
        key += s[i++];
      }
    }
    if (i == s.size()) {
      return std::nullopt;
    }
    ++i;
    return key;
  }
  while (i < s.size() && is_bare(s[i])) {
    key += s[i++];
  }
  if (key.empty()) {
    return std::nullopt;
  }
  return key;
}

// A dotted key path at s[i], whitespace around the dots allowed; i moves
// past its last key.
std::optional<TomlKey> read_key(std::string_view s, std::size_t& i) {
  TomlKey key;
  for (;;) {
    auto simple = read_simple_key(s, i);
    if (!simple) {
      return std::nullopt;
    }
    key.push_back(std::move(*simple));
    const std::size_t dot = skip_spaces(s, i);
    if (dot == s.size() || s[dot] != '.') {
      return key;
    }
    i = skip_spaces(s, dot + 1);
  }
}

// ------------------------------------------------------------ TOML lines

// What is still open at the end of a line: a multi-line string, or
// brackets and braces of an array or inline table.
struct Open {
  char quote = 0;  ///< '"' or '\'' inside a multi-line string
  int depth = 0;
};

std::string_view triple(char quote) { return quote == '"' ? R"(""")" : "'''"; }

// Follows a value's text from s[i] to the end of the line. A
// multi-line string ends at the first run of three or more of its quotes
// that no backslash escapes (a closing run may carry up to two quotes of
// the content); a `#` outside strings starts a comment.
void scan_value(std::string_view s, std::size_t i, Open& open) {
  while (i < s.size()) {
    const char c = s[i];
    if (open.quote != 0) {
      if (open.quote == '"' && c == '\\') {
        i += 2;
      } else if (s.substr(i, 3) == triple(open.quote)) {
        while (i < s.size() && s[i] == open.quote) {
          ++i;
        }
        open.quote = 0;
      } else {
        ++i;
      }
      continue;
    }
    if (c == '#') {
      return;
    }
    if (c == '"' || c == '\'') {
      if (s.substr(i, 3) == triple(c)) {
        open.quote = c;
        i += 3;
        continue;
      }
      // A one-line string, which ends with its line at the latest.
      for (++i; i < s.size() && s[i] != c; ++i) {
        if (c == '"' && s[i] == '\\') {
          ++i;
        }
      }
      ++i;
      continue;
    }
    if (c == '[' || c == '{') {
      ++open.depth;
    } else if ((c == ']' || c == '}') && open.depth > 0) {
      --open.depth;
    }
    ++i;
  }
}

// The header at t (a line without its leading whitespace, starting with
// `[`): its key when it is well formed, a comment allowed after it.
std::optional<TomlKey> header_key(std::string_view t, bool array) {
  std::size_t i = skip_spaces(t, array ? 2 : 1);
  auto key = read_key(t, i);
  i = skip_spaces(t, i);
  const std::string_view close = array ? "]]" : "]";
  if (!key || t.substr(i, close.size()) != close) {
    return std::nullopt;
  }
  const std::string_view rest = trim_start(t.substr(i + close.size()));
  if (!rest.empty() && rest[0] != '#') {
    return std::nullopt;
  }
  return key;
}

// The index after the one-line value at s[i], which ends at a `,` or at
// the closing bracket of what holds it; s.size() when it runs on.
std::size_t skip_inline_value(std::string_view s, std::size_t i) {
  int depth = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      const std::size_t quotes = s.substr(i, 3) == triple(c) ? 3 : 1;
      for (i += quotes; i < s.size() && s.substr(i, quotes) != triple(c).substr(0, quotes); ++i) {
        if (c == '"' && s[i] == '\\') {
          ++i;
        }
      }
      i += quotes;
      continue;
    }
    if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      if (depth == 0) {
        return i;
      }
      --depth;
    } else if (c == ',' && depth == 0) {
      return i;
    }
    ++i;
  }
  return s.size();
}

}  // namespace

std::vector<TomlLine> read_toml_lines(const std::vector<std::string_view>& lines,
                                      bool* ends_inside_value) {
  std::vector<TomlLine> out;
  out.reserve(lines.size());
  Open open;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string_view s = lines[n];
    if (n == 0 && s.starts_with("\xEF\xBB\xBF")) {
      s.remove_prefix(3);
    }
    TomlLine line;
    line.top = open.quote == 0 && open.depth == 0;
    const std::string_view t = trim_start(s);
    if (!line.top) {
      scan_value(s, 0, open);
    } else if (t.starts_with('[')) {
      // Any line that starts with a bracket is taken for a header and
      // ends the table before it, even when it cannot be read.
      const bool array = t.starts_with("[[");
      line.kind = array ? TomlLineKind::ArrayHeader : TomlLineKind::Header;
      line.key = header_key(t, array);
    } else if (!t.empty() && t[0] != '#') {
      std::size_t i = 0;
      auto key = read_key(t, i);
      i = skip_spaces(t, i);
      if (key && i < t.size() && t[i] == '=') {
        line.kind = TomlLineKind::Entry;
        line.key = std::move(key);
        line.value = t.substr(i + 1);
        scan_value(t, i + 1, open);
      } else {
        scan_value(t, 0, open);
      }
    }
    out.push_back(std::move(line));
  }
  if (ends_inside_value) {
    *ends_inside_value = open.quote != 0 || open.depth != 0;
  }
  return out;
}

bool inline_table_holds(std::string_view value, std::string_view name) {
  std::size_t i = skip_spaces(value, 0);
  if (i == value.size() || value[i] != '{') {
    return false;
  }
  ++i;
  for (;;) {
    i = skip_spaces(value, i);
    const auto key = read_key(value, i);
    if (!key) {
      return false;
    }
    if (key->front() == name) {
      return true;
    }
    i = skip_spaces(value, i);
    if (i == value.size() || value[i] != '=') {
      return false;
    }
    i = skip_inline_value(value, i + 1);
    if (i == value.size() || value[i] != ',') {
      return false;
    }
    ++i;
  }
}

}  // namespace vellumo::agents
