#include "agent_integration/agents.h"

#include <array>
#include <optional>

#include "agent_integration/agent_paths.h"
#include "agent_integration/claude_code.h"
#include "agent_integration/codex_config.h"
#include "agent_integration/json_config.h"
#include "agent_integration/marker.h"
#include "agent_integration/user_path.h"
#include "core/paths.h"
#include "core/text.h"
#include "core/utf8.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "process/run.h"

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

// Codex's folder: CODEX_HOME when set to an absolute path, else .codex in
// the home folder.
std::string codex_folder(const std::string& home) {
  const auto codex_home = files::env_path("CODEX_HOME");
  return codex_home ? *codex_home : files::join(home, ".codex");
}

struct JsonRow {
  std::string folder;  // the agent's folder: no folder, no line
  JsonTarget target;
};

std::array<JsonRow, 5> json_rows(const std::string& home) {
  const auto in = [](const std::string& folder, const char* name) {
    return files::join(folder, name);
  };
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

// The lock of one run that changes anything: held from reading the marker
// to writing it. Where no data folder can be had there is no lock, as
// there is no marker; but a lock file in the data folder that cannot be
// made, opened or locked stops the run, as a lock that stays taken does,
// and so does a data folder in which others could plant what we would
// take for our own files.
Result<std::optional<files::FileLock>, std::string> lock_run(
    const std::optional<std::string>& data_folder) {
  if (!data_folder || !files::create_own_folders(*data_folder)) {
    return std::optional<files::FileLock>();
  }
  const std::string path = files::join(*data_folder, kLockFileName);
  if (files::others_can_change(*data_folder)) {
    return "Cannot lock " + path + ": " + *data_folder + " can be changed by other users";
  }
  auto lock = files::FileLock::acquire(path, kLockPatience);
  if (!lock) {
    return "Cannot lock " + path + ": " + lock.error();
  }
  if (!*lock) {
    return "Cannot lock " + path + ": another vellumo-cli run holds it.";
  }
  return std::move(lock).value();
}

// Deletes what an interrupted run left beside the files this run may
// edit. Only under the lock, which every run that writes them holds.
void remove_leftovers(const std::optional<std::string>& data_folder) {
  if (data_folder) {
    files::remove_leftovers(files::join(*data_folder, kMarkerFileName));
  }
  if (const auto link = user_path_link()) {
    files::remove_leftovers(*link, files::Leftovers::Links);
  }
  const auto home = home_folder();
  if (!home || !files::is_directory(*home)) {
    return;
  }
  files::remove_leftovers(files::join(codex_folder(*home), "config.toml"));
  for (const JsonRow& row : json_rows(*home)) {
    files::remove_leftovers(row.target.file_path);
  }
}

// Why no entry can name the CLI, if none can: a path that is not text
// would be written as the name of another file. (The PATH link holds the
// path's bytes, so it is made all the same.)
std::optional<std::string> unwritable_cli_path(std::string_view cli_path) {
  if (is_valid_utf8(cli_path)) {
    return std::nullopt;
  }
  return "The CLI's path cannot be written as text: " + lossy_utf8(cli_path);
}

// Why a run as the superuser must change nothing: the home it would work
// in (HOME, or where the data folder lies) belongs to another user, whose
// environment it was given. What it made there would be root's, and what
// that user planted there would steer its writes.
std::optional<std::string> other_users_home(const std::optional<std::string>& data_folder) {
  for (const auto& folder : {home_folder(), data_folder}) {
    if (const auto theirs = folder ? files::other_users_folder(*folder) : std::nullopt) {
      return *theirs + " belongs to another user: run vellumo-cli as that user";
    }
  }
  return std::nullopt;
}

// The lines of one run. With `refused`, every target the run would have
// handled is "failed" with that reason instead, and nothing is touched.
std::vector<TargetResult> run_targets(Mode mode, std::string_view cli_path,
                                      const std::optional<std::string>& refused = std::nullopt) {
  const auto handle = [](const char* target, const std::optional<std::string>& reason,
                         auto&& act) -> TargetResult {
    return reason ? TargetResult{target, TargetState::Failed, *reason} : act();
  };
  std::vector<TargetResult> results;
  results.push_back(handle("PATH", refused, [&] { return update_user_path(mode, cli_path); }));
  const std::optional<std::string> no_entry = refused ? refused : unwritable_cli_path(cli_path);

  const auto home = home_folder();
  if (!home || !files::is_directory(*home)) {
    return results;
  }
  const ProgramRunner run = [&](const std::string& program, const std::vector<std::string>& args) {
    return no_entry ? process::RunOutcome(process::RunError{*no_entry})
                    : process::Run(program, args);
  };
  if (auto claude = claude_code_target(mode, cli_path, *home, run)) {
    if (no_entry && !refused) {
      claude = TargetResult{claude->target, TargetState::Failed, no_entry};
    }
    results.push_back(std::move(*claude));
  }
  const std::string codex = codex_folder(*home);
  if (files::is_directory(codex)) {
    results.push_back(handle("Codex", no_entry, [&] { return edit_codex(mode, codex, cli_path); }));
  }
  for (const JsonRow& row : json_rows(*home)) {
    if (files::is_directory(row.folder)) {
      results.push_back(handle(row.target.display_name.c_str(), no_entry,
                               [&] { return edit_json_target(mode, row.target, cli_path); }));
    }
  }
  return results;
}

// An install or removal, under the lock when there is one; the marker is
// written last.
std::vector<TargetResult> change_targets(Mode mode, std::string_view cli_path,
                                         const std::optional<std::string>& data_folder,
                                         const std::optional<files::FileLock>& lock) {
  if (lock) {
    remove_leftovers(data_folder);
  }
  std::vector<TargetResult> results = run_targets(mode, cli_path);
  if (data_folder) {
    write_marker(*data_folder, cli_path, mode == Mode::Remove);
  }
  return results;
}

}  // namespace

bool same_path(std::string_view a, std::string_view b) { return components(a) == components(b); }

std::vector<TargetResult> run_agents(Mode mode, std::string_view cli_path,
                                     const std::optional<std::string>& data_folder) {
  if (mode == Mode::Status) {
    return run_targets(mode, cli_path);
  }
  if (auto refused = other_users_home(data_folder)) {
    return run_targets(mode, cli_path, refused);
  }
  auto lock = lock_run(data_folder);
  if (!lock) {
    return run_targets(mode, cli_path, lock.error());
  }
  return change_targets(mode, cli_path, data_folder, *lock);
}

std::vector<TargetResult> ensure_integration(std::string_view cli_path,
                                             const std::optional<std::string>& data_folder) {
  if (runs_from_build_output(cli_path) || !files::is_regular_file(std::string(cli_path))) {
    return {};
  }
  if (auto refused = other_users_home(data_folder)) {
    return run_targets(Mode::Install, cli_path, refused);
  }
  auto lock = lock_run(data_folder);
  if (!lock) {
    return run_targets(Mode::Install, cli_path, lock.error());
  }
  if (const auto marker = data_folder ? read_marker(*data_folder) : std::nullopt) {
    if (marker->removed || same_path(marker->cli, cli_path)) {
      return {};
    }
  }
  return change_targets(Mode::Install, cli_path, data_folder, *lock);
}

}  // namespace vellumo::agents
