#include "agent_integration/agents.h"

#include <array>
#include <optional>

#include "agent_integration/agent_paths.h"
#include "agent_integration/claude_code.h"
#include "agent_integration/codex_config.h"
#include "agent_integration/files.h"
#include "agent_integration/json_config.h"
#include "agent_integration/marker.h"
#include "agent_integration/user_path.h"
#include "core/paths.h"
#include "platform/platform.h"

namespace vellumo::agents {
namespace {

// The components of `path`: a leading separator counts as one (the root),
// repeated separators as one.
std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  if (!path.empty() && is_separator(path[0], platform::kPathStyle)) {
    parts.push_back("/");
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !is_separator(path[end], platform::kPathStyle)) {
      ++end;
    }
    if (end > start) {
      parts.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return parts;
}

bool runs_from_build_output(std::string_view cli_path) {
  const auto parts = components(cli_path);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i] == "target" && (parts[i + 1] == "release" || parts[i + 1] == "debug")) {
      return true;
    }
  }
  return false;
}

// opencode reads opencode.json or, when only that exists, opencode.jsonc.
std::string opencode_file(const std::string& folder) {
  for (const char* name : {"opencode.json", "opencode.jsonc"}) {
    std::string path = files::join(folder, name);
    if (files::is_regular_file(path)) {
      return path;
    }
  }
  return files::join(folder, "opencode.json");
}

struct JsonRow {
  std::string folder;  // the agent's folder: no folder, no line
  JsonTarget target;
};

std::array<JsonRow, 5> json_rows(const std::string& home) {
  const auto in = [](const std::string& folder, const char* name) { return files::join(folder, name); };
  const std::string gemini = in(home, ".gemini");
  const std::string cursor = in(home, ".cursor");
  const std::string windsurf = in(in(home, ".codeium"), "windsurf");
  const std::string claude = claude_desktop_folder(home);
  const std::string opencode = in(in(home, ".config"), "opencode");
  return {{
      {gemini, {"Gemini CLI", in(gemini, "settings.json"), "mcpServers", EntryShape::Plain}},
      {cursor, {"Cursor", in(cursor, "mcp.json"), "mcpServers", EntryShape::Plain}},
      {windsurf, {"Windsurf", in(windsurf, "mcp_config.json"), "mcpServers", EntryShape::Plain}},
      {claude,
       {"Claude Desktop", in(claude, "claude_desktop_config.json"), "mcpServers",
        EntryShape::Plain}},
      {opencode, {"opencode", opencode_file(opencode), "mcp", EntryShape::Opencode}},
  }};
}

}  // namespace

std::string data_folder() {
  std::string base;
  if (auto local = platform::get_env("LOCALAPPDATA")) {
    base = *local;
  } else if (auto xdg = platform::get_env("XDG_DATA_HOME")) {
    base = *xdg;
  } else if (auto home = platform::get_env("HOME")) {
    base = files::join(*home, ".local/share");
  } else {
    base = ".local/share";
  }
  return files::join(base, "Vellumo");
}

bool same_path(std::string_view a, std::string_view b) { return components(a) == components(b); }

std::vector<TargetResult> run_agents(Mode mode, std::string_view cli_path,
                                     const std::string& data_folder) {
  std::vector<TargetResult> results;
  results.push_back(update_user_path(mode, cli_path));

  const auto home = home_folder();
  if (home && files::is_directory(*home)) {
    if (auto claude = claude_code_target(mode, cli_path, *home)) {
      results.push_back(std::move(*claude));
    }
    const auto codex_home = platform::get_env("CODEX_HOME");
    const std::string codex = codex_home ? *codex_home : files::join(*home, ".codex");
    if (files::is_directory(codex)) {
      results.push_back(edit_codex(mode, codex, cli_path));
    }
    for (const JsonRow& row : json_rows(*home)) {
      if (files::is_directory(row.folder)) {
        results.push_back(edit_json_target(mode, row.target, cli_path));
      }
    }
  }

  if (mode != Mode::Status) {
    write_marker(data_folder, cli_path, mode == Mode::Remove);
  }
  return results;
}

std::vector<TargetResult> ensure_integration(std::string_view cli_path,
                                             const std::string& data_folder) {
  if (runs_from_build_output(cli_path) || !files::is_regular_file(std::string(cli_path))) {
    return {};
  }
  if (const auto marker = read_marker(data_folder)) {
    if (marker->removed || same_path(marker->cli, cli_path)) {
      return {};
    }
  }
  return run_agents(Mode::Install, cli_path, data_folder);
}

}  // namespace vellumo::agents
