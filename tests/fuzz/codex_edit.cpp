// The Codex block editor. The input's first line picks the mode (s, i or r)
// and, after a space, the CLI path; the rest is config.toml.
//
// By lines: an added block follows the old text; an update replaces one
// command line (with the lines its value runs on to); a removal only drops
// lines. By a TOML parser: a file that parsed still parses, everything
// outside the server is what it was, and the server is gone after a
// removal and points at the CLI after an install. An edit is refused as
// one that would not parse only where no table can be added or updated.

#include <toml++/toml.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent_integration/codex_config.h"
#include "agent_integration/toml_check.h"
#include "core/text.h"
#include "core/utf8.h"
#include "fuzz_support.h"

namespace vellumo::fuzz {
namespace {

using agents::Mode;
using agents::TargetState;
using Lines = std::vector<std::string_view>;

// The lines, each followed by a line feed; nothing left is one line feed.
std::string joined(const Lines& lines) {
  std::string out;
  for (std::string_view line : lines) {
    out += line;
    out += '\n';
  }
  return out.empty() ? "\n" : out;
}

// The lines of an edited text, which ends with a line feed: the carriage
// returns they kept are theirs.
Lines lines_of(std::string_view out) {
  Lines lines;
  for (std::size_t from = 0; from < out.size();) {
    const std::size_t feed = out.find('\n', from);
    lines.push_back(out.substr(from, feed - from));
    from = feed + 1;
  }
  return lines == Lines{""} ? Lines{} : lines;
}

// `lines` with some of `before`'s taken out, the rest in their order.
bool only_drops(const Lines& before, const Lines& lines) {
  std::size_t k = 0;
  for (std::string_view line : before) {
    if (k < lines.size() && lines[k] == line) {
      ++k;
    }
  }
  return k == lines.size() && lines.size() < before.size();
}

// The parsed document without the server (and without `mcp_servers` once
// it is empty).
toml::table outside_server(toml::table doc) {
  if (toml::table* servers = doc["mcp_servers"].as_table()) {
    servers->erase("vellumo");
    if (servers->empty()) {
      doc.erase("mcp_servers");
    }
  }
  return doc;
}

// The edits that cannot be made to a file that parses: the server's table
// cannot be added (`mcp_servers` is no table that headers may extend), the
// CLI path cannot stand in a TOML string, or the command line is not the
// `command` key alone.
bool cannot_be_made(const toml::table& doc, std::string_view cli) {
  if (std::any_of(cli.begin(), cli.end(),
                  [](char c) { return (c >= 0 && c < 0x20 && c != '\t') || c == 0x7F; })) {
    return true;
  }
  const toml::node* servers = doc.get("mcp_servers");
  if (servers == nullptr) {
    return false;
  }
  if (!servers->is_table() || servers->as_table()->is_inline()) {
    return true;
  }
  const toml::table* server = servers->as_table()->get_as<toml::table>("vellumo");
  if (server == nullptr) {
    return false;
  }
  for (auto&& [key, value] : *server) {
    if (key.str().starts_with("command") && (key.str() != "command" || !value.is_string())) {
      return true;
    }
  }
  return false;
}

void check_edit(Mode mode, std::string_view text, std::string_view cli) {
  const agents::CodexPlan result = agents::plan_codex_edit(mode, text, cli);
  FUZZ_CHECK(result.state != TargetState::Failed);
  const bool writes = result.state == TargetState::Added || result.state == TargetState::Updated ||
                      result.state == TargetState::Removed;
  FUZZ_CHECK(writes == result.new_text.has_value());
  FUZZ_CHECK(mode != Mode::Status || !writes);
  FUZZ_CHECK(!writes || result.reason.empty());
  const toml::parse_result before_doc = toml::parse(agents::toml_parser_input(text));
  if (!writes) {
    if (result.reason.starts_with("the edit would not parse")) {
      FUZZ_CHECK(before_doc && cannot_be_made(before_doc.table(), cli));
    }
    return;
  }
  const std::string& out = *result.new_text;
  FUZZ_CHECK(is_valid_utf8(out));
  const Lines before = split_lines(text);
  FUZZ_CHECK(out.ends_with('\n'));
  const Lines after = lines_of(out);

  switch (result.state) {
    case TargetState::Added: {
      // The old text up to its trailing whitespace, then the block alone.
      const std::string_view kept = trim_end(text);
      FUZZ_CHECK(out.starts_with(kept));
      FUZZ_CHECK(out.substr(kept.size()) ==
                 (kept.empty() ? "" : "\n\n") + agents::codex_block(cli));
      break;
    }
    case TargetState::Updated: {
      // One line that begins with `command`, and those that run on from
      // it, become one; every line ends with a line feed now.
      const auto differs = std::mismatch(before.begin(), before.end(), after.begin(), after.end());
      FUZZ_CHECK(differs.first != before.end() && differs.second != after.end());
      const std::size_t at = static_cast<std::size_t>(differs.first - before.begin());
      FUZZ_CHECK(trim_start(before[at]).starts_with("command"));
      FUZZ_CHECK(after.size() <= before.size());
      Lines expected(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(at));
      expected.push_back(after[at]);
      expected.insert(expected.end(),
                      before.end() - static_cast<std::ptrdiff_t>(after.size() - at - 1),
                      before.end());
      FUZZ_CHECK(after[at] == "command = " + agents::codex_quoted_path(cli));
      FUZZ_CHECK(out == joined(expected));
      break;
    }
    default:
      FUZZ_CHECK(only_drops(before, after));
      break;
  }

  if (before_doc) {
    const toml::parse_result after_doc = toml::parse(agents::toml_parser_input(out));
    FUZZ_CHECK(after_doc);
    // NaN equals nothing, not even itself.
    if (text.find("nan") == std::string_view::npos) {
      FUZZ_CHECK(outside_server(before_doc.table()) == outside_server(after_doc.table()));
    }
    const toml::node_view server = after_doc.table()["mcp_servers"]["vellumo"];
    if (result.state == TargetState::Removed) {
      FUZZ_CHECK(!server);
      FUZZ_CHECK(agents::plan_codex_edit(Mode::Status, out, cli).state == TargetState::Absent);
      return;
    }
    FUZZ_CHECK(server["command"].value<std::string>() == agents::toml_parser_input(cli));
  }
  // Installed: a second look finds it present. (A block added to a text
  // that did not parse may have landed inside a value left open.)
  if (result.state == TargetState::Removed || (!before_doc && result.state == TargetState::Added)) {
    return;
  }
  FUZZ_CHECK(agents::plan_codex_edit(Mode::Status, out, cli).state == TargetState::Present);
  const agents::CodexPlan again = agents::plan_codex_edit(Mode::Install, out, cli);
  FUZZ_CHECK(again.state == TargetState::Present && !again.new_text);
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo;
  using namespace vellumo::fuzz;
  const Split input = split_first_line(as_text(data, size));
  // The editor sees only UTF-8: the file is refused otherwise, and the CLI
  // path is made valid first.
  if (input.head.empty() || !is_valid_utf8(input.rest)) {
    return 0;
  }
  const std::string cli = lossy_utf8(input.head.size() > 2 ? input.head.substr(2) : "");
  check_edit(mode_of(input.head[0]), input.rest, cli);
  return 0;
}
