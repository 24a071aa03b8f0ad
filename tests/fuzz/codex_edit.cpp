// The Codex block editor. The input's first line picks the mode (s, i or r)
// and, after a space, the CLI path; the rest is config.toml.
//
// Lines outside the block keep their text; after an install the block is
// there exactly once and points at the CLI; after a removal it is gone.

#include <algorithm>
#include <string>
#include <vector>

#include "agent_integration/codex_config.h"
#include "core/text.h"
#include "core/utf8.h"
#include "fuzz_support.h"

namespace vellumo::fuzz {
namespace {

using agents::Mode;
using agents::TargetState;
using Lines = std::vector<std::string_view>;

constexpr std::string_view kHeader = "[mcp_servers.vellumo]";

bool is_header(std::string_view line) { return trim(line) == kHeader; }

std::size_t headers(const Lines& lines) {
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), is_header));
}

// The first block: its header line and the line after it.
struct Block {
  std::size_t header;
  std::size_t end;
};

Block first_block(const Lines& lines) {
  Block block{lines.size(), lines.size()};
  const auto header = std::find_if(lines.begin(), lines.end(), is_header);
  if (header == lines.end()) {
    return block;
  }
  block.header = static_cast<std::size_t>(header - lines.begin());
  const auto end = std::find_if(header + 1, lines.end(), [](std::string_view line) {
    return trim_start(line).starts_with('[');
  });
  block.end = static_cast<std::size_t>(end - lines.begin());
  return block;
}

Lines slice(const Lines& lines, std::size_t from, std::size_t to) {
  return Lines(lines.begin() + static_cast<std::ptrdiff_t>(from),
               lines.begin() + static_cast<std::ptrdiff_t>(to));
}

// The lines, each followed by a line feed; nothing left is one line feed.
std::string joined(const Lines& lines) {
  std::string out;
  for (std::string_view line : lines) {
    out += line;
    out += '\n';
  }
  return out.empty() ? "\n" : out;
}

void check_edit(Mode mode, std::string_view text, std::string_view cli) {
  const agents::CodexPlan result = agents::plan_codex_edit(mode, text, cli);
  FUZZ_CHECK(result.state != TargetState::Failed);
  const bool writes = result.state == TargetState::Added || result.state == TargetState::Updated ||
                      result.state == TargetState::Removed;
  FUZZ_CHECK(writes == result.new_text.has_value());
  FUZZ_CHECK(mode != Mode::Status || !writes);
  if (!writes) {
    return;
  }
  const std::string& out = *result.new_text;
  FUZZ_CHECK(is_valid_utf8(out));
  const Lines before = split_lines(text);
  const Block old_block = first_block(before);

  switch (result.state) {
    case TargetState::Added: {
      // The old text up to its trailing whitespace, then the block alone.
      FUZZ_CHECK(headers(before) == 0);
      const std::string_view kept = trim_end(text);
      FUZZ_CHECK(out.starts_with(kept));
      const std::string block = agents::codex_block(cli);
      FUZZ_CHECK(out.substr(kept.size()) == (kept.empty() ? "" : "\n\n") + block);
      break;
    }
    case TargetState::Updated: {
      // Only the block's command line (its first line that begins with
      // `command`) changes; every line ends with a line feed now.
      auto line =
          std::find_if(before.begin() + static_cast<std::ptrdiff_t>(old_block.header),
                       before.begin() + static_cast<std::ptrdiff_t>(old_block.end),
                       [](std::string_view l) { return trim_start(l).starts_with("command"); });
      FUZZ_CHECK(line != before.begin() + static_cast<std::ptrdiff_t>(old_block.end));
      Lines expected = before;
      const std::string replaced = "command = " + agents::codex_quoted_path(cli);
      expected[static_cast<std::size_t>(line - before.begin())] = replaced;
      FUZZ_CHECK(out == joined(expected));
      break;
    }
    case TargetState::Removed: {
      // The lines before the block (less the blank ones right before it)
      // and the lines after it, unchanged.
      std::size_t keep = old_block.header;
      while (keep > 0 && trim(before[keep - 1]).empty()) {
        --keep;
      }
      Lines expected = slice(before, 0, keep);
      const Lines tail = slice(before, old_block.end, before.size());
      expected.insert(expected.end(), tail.begin(), tail.end());
      FUZZ_CHECK(out == joined(expected));
      FUZZ_CHECK(headers(split_lines(out)) + 1 == headers(before));
      break;
    }
    default:
      break;
  }

  if (result.state == TargetState::Removed) {
    if (headers(before) == 1) {
      FUZZ_CHECK(agents::plan_codex_edit(Mode::Status, out, cli).state == TargetState::Absent);
    }
    return;
  }
  // Installed: the block is there once (for an added one), and a second
  // install finds it present.
  if (result.state == TargetState::Added) {
    FUZZ_CHECK(headers(split_lines(out)) == 1);
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
