#include "agent_integration/codex_config.h"

#include <vector>

#include "platform/files.h"
#include "core/text.h"
#include "core/utf8.h"

namespace vellumo::agents {
namespace {

constexpr std::string_view kHeader = "[mcp_servers.vellumo]";

// Where the block and its command line are; npos when missing.
struct Block {
  std::size_t header = std::string_view::npos;
  std::size_t end = 0;  ///< the first line after the block
  std::size_t command = std::string_view::npos;
};

Block find_block(const std::vector<std::string_view>& lines) {
  Block block;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (trim(lines[i]) == kHeader) {
      block.header = i;
      break;
    }
  }
  if (block.header == std::string_view::npos) {
    return block;
  }
  block.end = lines.size();
  for (std::size_t i = block.header + 1; i < lines.size(); ++i) {
    if (trim_start(lines[i]).starts_with('[')) {
      block.end = i;
      break;
    }
  }
  for (std::size_t i = block.header; i < block.end; ++i) {
    if (trim_start(lines[i]).starts_with("command")) {
      block.command = i;
      break;
    }
  }
  return block;
}

// The lines joined with line feeds, and one line feed appended ("\n" for
// no lines at all).
std::string join_lines(const std::vector<std::string_view>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      out += '\n';
    }
    out += lines[i];
  }
  out += '\n';
  return out;
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

CodexFacts codex_facts(std::string_view text, std::string_view cli_path) {
  const std::vector<std::string_view> lines = split_lines(text);
  const Block block = find_block(lines);
  CodexFacts facts;
  facts.header = block.header != std::string_view::npos;
  if (block.command != std::string_view::npos) {
    const std::string_view line = lines[block.command];
    facts.mentions = line.find("vellumo-cli") != std::string_view::npos;
    facts.points = line.find(codex_quoted_path(cli_path)) != std::string_view::npos;
  }
  return facts;
}

TargetState decide_codex(Mode mode, const CodexFacts& facts) {
  switch (mode) {
    case Mode::Status:
      if (facts.points) return TargetState::Present;
      if (!facts.header) return TargetState::Absent;
      return TargetState::Skipped;
    case Mode::Install:
      if (facts.points) return TargetState::Present;
      if (!facts.header) return TargetState::Added;
      if (facts.mentions) return TargetState::Updated;
      return TargetState::Skipped;
    case Mode::Remove:
      if (facts.mentions) return TargetState::Removed;
      if (!facts.header) return TargetState::Absent;
      return TargetState::Skipped;
  }
  return TargetState::Skipped;
}

CodexPlan plan_codex_edit(Mode mode, std::string_view text, std::string_view cli_path) {
  const TargetState state = decide_codex(mode, codex_facts(text, cli_path));
  switch (state) {
    case TargetState::Added: {
      std::string out(trim_end(text));
      if (!out.empty()) {
        out += "\n\n";
      }
      out += codex_block(cli_path);
      return {state, std::move(out)};
    }
    case TargetState::Updated: {
      // Only the block's own command line: an equal line elsewhere belongs
      // to another table (another server kept on purpose, say) and is not
      // ours to change.
      std::vector<std::string_view> lines = split_lines(text);
      const Block block = find_block(lines);
      const std::string replacement = "command = " + codex_quoted_path(cli_path);
      lines[block.command] = replacement;
      return {state, join_lines(lines)};
    }
    case TargetState::Removed: {
      const std::vector<std::string_view> lines = split_lines(text);
      const Block block = find_block(lines);
      std::size_t keep = block.header;
      while (keep > 0 && trim(lines[keep - 1]).empty()) {
        --keep;
      }
      std::vector<std::string_view> kept(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep));
      kept.insert(kept.end(), lines.begin() + static_cast<std::ptrdiff_t>(block.end), lines.end());
      return {state, join_lines(kept)};
    }
    default:
      return {state, std::nullopt};
  }
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
  return {std::string(kCodexTarget), plan.state, path};
}

}  // namespace vellumo::agents
