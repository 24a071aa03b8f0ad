#include "agent_integration/codex_config.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "agent_integration/toml_check.h"
#include "agent_integration/toml_lines.h"
#include "core/text.h"

namespace vellumo::agents {
namespace {

constexpr std::string_view kHeader = "[mcp_servers.vellumo]";
constexpr std::string_view kNotATable =
    "`mcp_servers.vellumo` is not a table of its own, left alone";
constexpr std::string_view kServersArray = "`mcp_servers` is an array of tables, left alone";
constexpr std::string_view kUnfinished = "the file ends inside an unfinished value, left alone";

// ------------------------------------------------------------ keys

using Key = TomlKey;

bool is_server(const Key& key) {
  return key.size() == 2 && key[0] == "mcp_servers" && key[1] == "vellumo";
}

// A table inside the server's, such as `mcp_servers.vellumo.env`.
bool is_inside_server(const Key& key) {
  return key.size() > 2 && key[0] == "mcp_servers" && key[1] == "vellumo";
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
  std::vector<TomlLine> info;
  std::vector<Table> server;  ///< the server's tables, in order
  std::vector<Table> inside;  ///< tables inside the server's (`[mcp_servers.vellumo.env]`)
  bool not_a_table = false;
  bool servers_array = false;  ///< `[[mcp_servers]]`
  bool ends_open = false;      ///< the text ends inside a value

  explicit Layout(std::string_view text);

  // The block's command line (the first line of it outside values that
  // begins with `command`), or npos.
  std::size_t command(const Table& table) const;
  bool mentions(const Table& table) const;
};

Layout::Layout(std::string_view text) : lines(split_lines(text)) {
  info = read_toml_lines(lines, &ends_open);
  // The entries that the table of the moment holds go under this key
  // prefix; none when they cannot be ours (an array of tables, an
  // unreadable header).
  std::optional<Key> prefix = Key{};
  std::vector<std::size_t> headers;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const TomlLine& line = info[n];
    if (line.kind == TomlLineKind::Entry && prefix) {
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
    if (line.kind != TomlLineKind::Header && line.kind != TomlLineKind::ArrayHeader) {
      continue;
    }
    headers.push_back(n);
    const Table table{n, lines.size()};
    const bool array = line.kind == TomlLineKind::ArrayHeader;
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

TargetState decide_codex(Mode mode, const CodexFacts& facts) {
  if (facts.not_a_table || facts.servers_array) {
    return TargetState::Skipped;
  }
  const bool own = facts.mentions || (mode == Mode::Remove && facts.later_mentions);
  return decide_entry(mode, {.absent = !facts.header, .equal = facts.points, .own = own});
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
  // A block added to a text that leaves a value open would be read as part
  // of that value, not as the server's table, and added again by every
  // install: in every mode the file is left alone, so that status, install
  // and remove agree.
  if (!facts.header && layout.ends_open) {
    return {TargetState::Skipped, std::nullopt, std::string(kUnfinished)};
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

TargetResult edit_codex(Mode mode, std::string_view name, const std::string& config_path,
                        std::string_view cli_path) {
  const std::string cli = lossy_utf8(cli_path);
  return edit_target(name, config_path, "", [&](std::string_view text) {
    CodexPlan plan = plan_codex_edit(mode, text, cli);
    std::optional<std::string> detail;
    if (!plan.reason.empty()) {
      detail = config_path + ": " + plan.reason;
    }
    return EditPlan{plan.state, std::move(detail), std::move(plan.new_text)};
  });
}

}  // namespace vellumo::agents
