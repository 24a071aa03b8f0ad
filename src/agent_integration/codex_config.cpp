#include "agent_integration/codex_config.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/text.h"
#include "core/utf8.h"
#include "platform/files.h"

namespace vellumo::agents {
namespace {

constexpr std::string_view kHeader = "[mcp_servers.vellumo]";
constexpr std::string_view kNotATable =
    "`mcp_servers.vellumo` is not a table of its own, left alone";
constexpr std::string_view kServersArray = "`mcp_servers` is an array of tables, left alone";

// ------------------------------------------------------------ TOML keys

using Key = std::vector<std::string>;

bool is_server(const Key& key) {
  return key.size() == 2 && key[0] == "mcp_servers" && key[1] == "vellumo";
}

// A table inside the server's, such as `mcp_servers.vellumo.env`.
bool is_inside_server(const Key& key) {
  return key.size() > 2 && key[0] == "mcp_servers" && key[1] == "vellumo";
}

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
std::optional<Key> read_key(std::string_view s, std::size_t& i) {
  Key key;
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

enum class Kind {
  Other,        ///< blank, a comment, inside a value, or not readable
  Header,       ///< `[key]`
  ArrayHeader,  ///< `[[key]]`
  Entry,        ///< `key = value`
};

struct Line {
  bool top = false;  ///< starts outside every value
  Kind kind = Kind::Other;
  std::optional<Key> key;  ///< of a header or entry, when readable
  std::string_view value;  ///< an entry's text after `=`, to the end of the line
};

// The header at t (a line without its leading whitespace, starting with
// `[`): its key when it is well formed, a comment allowed after it.
std::optional<Key> header_key(std::string_view t, bool array) {
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

std::vector<Line> read_lines(const std::vector<std::string_view>& lines) {
  std::vector<Line> out;
  out.reserve(lines.size());
  Open open;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string_view s = lines[n];
    if (n == 0 && s.starts_with("\xEF\xBB\xBF")) {
      s.remove_prefix(3);
    }
    Line line;
    line.top = open.quote == 0 && open.depth == 0;
    const std::string_view t = trim_start(s);
    if (!line.top) {
      scan_value(s, 0, open);
    } else if (t.starts_with('[')) {
      // Any line that starts with a bracket is taken for a header and
      // ends the table before it, even when it cannot be read.
      const bool array = t.starts_with("[[");
      line.kind = array ? Kind::ArrayHeader : Kind::Header;
      line.key = header_key(t, array);
    } else if (!t.empty() && t[0] != '#') {
      std::size_t i = 0;
      auto key = read_key(t, i);
      i = skip_spaces(t, i);
      if (key && i < t.size() && t[i] == '=') {
        line.kind = Kind::Entry;
        line.key = std::move(key);
        line.value = t.substr(i + 1);
        scan_value(t, i + 1, open);
      } else {
        scan_value(t, 0, open);
      }
    }
    out.push_back(std::move(line));
  }
  return out;
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

// Whether `value` is an inline table one of whose keys starts with `name`
// (`{ vellumo = {...} }`, `{ vellumo.command = "..." }`).
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

// ------------------------------------------------------------ the server

// A table: its header line and the first line after it.
struct Table {
  std::size_t header;
  std::size_t end;
};

// The text as lines and where the server stands in it.
struct Layout {
  std::vector<std::string_view> lines;
  std::vector<Line> info;
  std::vector<Table> server;  ///< the server's tables, in order
  std::vector<Table> inside;  ///< tables inside the server's (`[mcp_servers.vellumo.env]`)
  bool not_a_table = false;
  bool servers_array = false;  ///< `[[mcp_servers]]`

  explicit Layout(std::string_view text);

  // The block's command line (the first line of it outside values that
  // begins with `command`), or npos.
  std::size_t command(const Table& table) const;
  bool mentions(const Table& table) const;
};

Layout::Layout(std::string_view text) : lines(split_lines(text)), info(read_lines(lines)) {
  // The entries that the table of the moment holds go under this key
  // prefix; none when they cannot be ours (an array of tables, an
  // unreadable header).
  std::optional<Key> prefix = Key{};
  std::vector<std::size_t> headers;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const Line& line = info[n];
    if (line.kind == Kind::Entry && prefix) {
      Key full = *prefix;
      full.insert(full.end(), line.key->begin(), line.key->end());
      // `vellumo = {...}` or `vellumo.command = ...` under `[mcp_servers]`,
      // or the like at the top level; entries of the server's own tables
      // have a longer prefix.
      if (prefix->size() < 2 && full.size() >= 2 && full[0] == "mcp_servers" &&
          full[1] == "vellumo") {
        not_a_table = true;
      }
      // `mcp_servers = { vellumo = {...} }` at the top level.
      if (full == Key{"mcp_servers"} && inline_table_holds(line.value, "vellumo")) {
        not_a_table = true;
      }
      continue;
    }
    if (line.kind != Kind::Header && line.kind != Kind::ArrayHeader) {
      continue;
    }
    headers.push_back(n);
    const Table table{n, lines.size()};
    const bool array = line.kind == Kind::ArrayHeader;
    prefix = array ? std::nullopt : line.key;
    if (!line.key) {
      continue;
    }
    if (array && *line.key == Key{"mcp_servers"}) {
      servers_array = true;
    }
    if (is_server(*line.key)) {
      // `[[mcp_servers.vellumo]]` makes the server an array of tables.
      if (array) {
        not_a_table = true;
      } else {
        server.push_back(table);
      }
    } else if (is_inside_server(*line.key)) {
      inside.push_back(table);
    }
  }
  // A table runs up to the next header of any kind.
  for (auto* tables : {&server, &inside}) {
    for (Table& table : *tables) {
      const auto next = std::upper_bound(headers.begin(), headers.end(), table.header);
      if (next != headers.end()) {
        table.end = *next;
      }
    }
  }
}

std::size_t Layout::command(const Table& table) const {
  for (std::size_t n = table.header + 1; n < table.end; ++n) {
    if (info[n].top && trim_start(lines[n]).starts_with("command")) {
      return n;
    }
  }
  return std::string_view::npos;
}

bool Layout::mentions(const Table& table) const {
  const std::size_t line = command(table);
  return line != std::string_view::npos &&
         lines[line].find("vellumo-cli") != std::string_view::npos;
}

// The lines joined with line feeds, and one line feed appended ("\n" for
// no lines at all).
std::string join_lines(const std::vector<std::string_view>& lines) {
  return join_texts(lines, "\n") + '\n';
}

CodexFacts facts_of(const Layout& layout, std::string_view cli_path) {
  CodexFacts facts;
  facts.not_a_table = layout.not_a_table;
  facts.servers_array = layout.servers_array;
  if (layout.server.empty()) {
    return facts;
  }
  facts.header = true;
  facts.mentions = layout.mentions(layout.server.front());
  if (const std::size_t line = layout.command(layout.server.front());
      line != std::string_view::npos) {
    facts.points = layout.lines[line].find(codex_quoted_path(cli_path)) != std::string_view::npos;
  }
  for (std::size_t k = 1; k < layout.server.size(); ++k) {
    facts.later_mentions = facts.later_mentions || layout.mentions(layout.server[k]);
  }
  return facts;
}

// The text with the command line of the server's first block (and the
// lines of a value that runs on past it) replaced by one line.
std::string updated_text(const Layout& layout, std::string_view cli_path) {
  const std::size_t line = layout.command(layout.server.front());
  std::size_t after = line + 1;
  while (after < layout.lines.size() && !layout.info[after].top) {
    ++after;
  }
  std::vector<std::string_view> lines = layout.lines;
  const std::string replacement = "command = " + codex_quoted_path(cli_path);
  lines[line] = replacement;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(line + 1),
              lines.begin() + static_cast<std::ptrdiff_t>(after));
  return join_lines(lines);
}

// The text without every block of the server whose command line mentions
// "vellumo-cli", and, once no block of the server is left, without the
// tables inside it; each with the blank lines right before it.
std::string removed_text(const Layout& layout) {
  std::vector<bool> drop(layout.lines.size(), false);
  auto drop_table = [&](const Table& table) {
    std::size_t from = table.header;
    while (from > 0 && trim(layout.lines[from - 1]).empty()) {
      --from;
    }
    std::fill(drop.begin() + static_cast<std::ptrdiff_t>(from),
              drop.begin() + static_cast<std::ptrdiff_t>(table.end), true);
  };
  std::size_t kept = 0;
  for (const Table& table : layout.server) {
    if (layout.mentions(table)) {
      drop_table(table);
    } else {
      ++kept;
    }
  }
  if (kept == 0) {
    for (const Table& table : layout.inside) {
      drop_table(table);
    }
  }
  std::vector<std::string_view> lines;
  for (std::size_t n = 0; n < layout.lines.size(); ++n) {
    if (!drop[n]) {
      lines.push_back(layout.lines[n]);
    }
  }
  return join_lines(lines);
}

// The parser's complaint about `text`, if any.
std::optional<std::string> toml_error(std::string_view text) {
  const toml::parse_result parsed = toml::parse(toml_parser_input(text));
  if (parsed) {
    return std::nullopt;
  }
  return std::string(parsed.error().description());
}

}  // namespace

std::string codex_quoted_path(std::string_view cli_path) {
  std::string doubled;
  for (char c : cli_path) {
    if (c == '\\') {
      doubled += '\\';
    }
    doubled += c;
  }
  std::string quoted = "\"";
  for (char c : doubled) {
    if (c == '"') {
      quoted += '\\';
    }
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string codex_block(std::string_view cli_path) {
  std::string block(kHeader);
  block += "\n# Added by Vellumo: points agents to vellumo-cli\ncommand = ";
  block += codex_quoted_path(cli_path);
  block += "\nargs = [\"mcp\"]\n";
  return block;
}

std::string toml_parser_input(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = std::min<std::size_t>(lead < 0x80   ? 1
                                                     : lead < 0xE0 ? 2
                                                     : lead < 0xF0 ? 3
                                                                   : 4,
                                                     text.size() - i);
    std::uint32_t cp = 0;
    if (length == 2) {
      cp = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
    } else if (length == 3) {
      cp = ((lead & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
    }
    if (cp >= 0xA1 && cp <= 0x499) {
      out += "\xD4\x80";  // U+0500
    } else if ((cp >= 0x2C5E && cp <= 0x3057 && cp != 0x3000) || (cp >= 0xFB26 && cp <= 0xFEFE)) {
      out += "\xE4\xB8\x80";  // U+4E00
    } else {
      out += text.substr(i, length);
    }
    i += length;
  }
  return out;
}

CodexFacts codex_facts(std::string_view text, std::string_view cli_path) {
  return facts_of(Layout(text), cli_path);
}

TargetState decide_codex(Mode mode, const CodexFacts& facts) {
  if (facts.not_a_table || facts.servers_array) {
    return TargetState::Skipped;
  }
  switch (mode) {
    case Mode::Status:
      if (facts.points) {
        return TargetState::Present;
      }
      if (!facts.header) {
        return TargetState::Absent;
      }
      return TargetState::Skipped;
    case Mode::Install:
      if (facts.points) {
        return TargetState::Present;
      }
      if (!facts.header) {
        return TargetState::Added;
      }
      if (facts.mentions) {
        return TargetState::Updated;
      }
      return TargetState::Skipped;
    case Mode::Remove:
      if (facts.mentions || facts.later_mentions) {
        return TargetState::Removed;
      }
      if (!facts.header) {
        return TargetState::Absent;
      }
      return TargetState::Skipped;
  }
  return TargetState::Skipped;
}

CodexPlan plan_codex_edit(Mode mode, std::string_view text, std::string_view cli_path) {
  const Layout layout(text);
  const CodexFacts facts = facts_of(layout, cli_path);
  if (facts.servers_array) {
    return {TargetState::Skipped, std::nullopt, std::string(kServersArray)};
  }
  if (facts.not_a_table) {
    return {TargetState::Skipped, std::nullopt, std::string(kNotATable)};
  }
  const TargetState state = decide_codex(mode, facts);
  std::string out;
  switch (state) {
    case TargetState::Added:
      out = trim_end(text);
      if (!out.empty()) {
        out += "\n\n";
      }
      out += codex_block(cli_path);
      break;
    case TargetState::Updated:
      // Only the block's own command line: an equal line elsewhere belongs
      // to another table (another server kept on purpose, say) and is not
      // ours to change.
      out = updated_text(layout, cli_path);
      break;
    case TargetState::Removed:
      out = removed_text(layout);
      break;
    default:
      return {state, std::nullopt};
  }
  // A file that parsed must parse after the edit too; one that did not is
  // edited by its lines as it always was.
  if (auto error = toml_error(out); error && !toml_error(text)) {
    return {TargetState::Skipped, std::nullopt,
            "the edit would not parse as TOML (" + *error + "), left alone"};
  }
  return {state, std::move(out)};
}

TargetResult edit_codex(Mode mode, const std::string& codex_folder, std::string_view cli_path) {
  const std::string path = files::join(codex_folder, "config.toml");
  auto failed = [&](std::string detail) {
    return TargetResult{std::string(kCodexTarget), TargetState::Failed, std::move(detail)};
  };
  auto read = files::read_whole_file(path);
  if (!read) {
    return failed(std::move(read).error());
  }
  const std::string text = read->has_value() ? std::move(**read) : std::string();
  if (!is_valid_utf8(text)) {
    return failed(std::string(kNotUtf8Text));
  }
  const std::string cli = lossy_utf8(cli_path);
  CodexPlan plan = plan_codex_edit(mode, text, cli);
  if (plan.new_text) {
    if (auto written = files::write_file_replacing(path, *plan.new_text); !written) {
      return failed(std::move(written).error());
    }
  }
  return {std::string(kCodexTarget), plan.state,
          plan.reason.empty() ? path : path + ": " + plan.reason};
}

}  // namespace vellumo::agents
