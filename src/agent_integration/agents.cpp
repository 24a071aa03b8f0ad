#include "agent_integration/agents.h"

#include <algorithm>
#include <optional>

#include "agent_integration/agent_paths.h"
#include "agent_integration/claude_code.h"
#include "agent_integration/codex_config.h"
#include "agent_integration/json_config.h"
#include "agent_integration/marker.h"
#include "agent_integration/target_table.h"
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

// The home folder, when it is an existing folder: every target but PATH
// lives in it.
std::optional<std::string> existing_home() {
  auto home = home_folder();
  if (!home || !files::is_directory(*home)) {
    return std::nullopt;
  }
  return home;
}

}  // namespace

// ------------------------------------------------------------ the targets

struct Run {
  Mode mode;
  std::string_view cli_path;
  std::optional<std::string> refused;   // why nothing may be touched
  std::optional<std::string> no_entry;  // why no entry may name the CLI (the refusal included)
  std::optional<std::string> home;      // existing_home()
};

namespace {

// Where a target keeps what a run writes: the file, and for an agent
// configured through that file, the agent's folder (no folder, no line).
struct Place {
  std::string file;
  std::string folder = {};
};

// The place of the target's file in the home folder `home`.
std::optional<Place> place_of(const Target& target, const std::string& home) {
  const ConfigFile& file = target.file;
  if (file.name.empty()) {
    return std::nullopt;
  }
  std::optional<std::string> folder = file.moved ? file.moved(home) : std::nullopt;
  if (!folder) {
    folder = home;
    for (std::size_t start = 0; start < file.folder.size();) {
      const std::size_t end = std::min(file.folder.find('/', start), file.folder.size());
      folder = files::join(*folder, file.folder.substr(start, end - start));
      start = end + 1;
    }
  }
  std::string path = files::join(*folder, file.name);
  if (!file.other_name.empty() && !files::is_regular_file(path)) {
    std::string other = files::join(*folder, file.other_name);
    if (files::is_regular_file(other)) {
      path = std::move(other);
    }
  }
  return Place{std::move(path), std::move(*folder)};
}

TargetResult failed(const Target& target, const std::string& reason) {
  return {std::string(target.name), TargetState::Failed, reason};
}

// PATH: the link holds the CLI path's bytes, so a path that is not text
// does not stop it.
std::optional<TargetResult> path_line(const Target& target, const Run& run) {
  return run.refused ? failed(target, *run.refused)
                     : update_user_path(run.mode, target.name, run.cli_path);
}

// Claude Code: with no entry to write, the `claude` it finds runs nothing.
std::optional<TargetResult> claude_code_line(const Target& target, const Run& run) {
  if (!run.home) {
    return std::nullopt;
  }
  const ProgramRunner runner = [&](const std::string& program,
                                   const std::vector<std::string>& args) {
    return run.no_entry ? process::RunOutcome(process::RunError{*run.no_entry})
                        : process::Run(program, args);
  };
  // Whatever it would have said (a `claude` that is not found included),
  // a run that may write nothing fails the line with the reason.
  auto line = claude_code_target(run.mode, target.name, run.cli_path, *run.home, runner);
  if (line && run.no_entry) {
    line = failed(target, *run.no_entry);
  }
  return line;
}

using FileEditor = TargetResult (*)(Mode mode, const Target& target, const std::string& file,
                                    std::string_view cli_path);

// An agent configured through the file of its place, which `edit` edits.
template <FileEditor edit>
std::optional<TargetResult> file_line(const Target& target, const Run& run) {
  const auto place = run.home ? place_of(target, *run.home) : std::nullopt;
  if (!place || !files::is_directory(place->folder)) {
    return std::nullopt;
  }
  return run.no_entry ? failed(target, *run.no_entry)
                      : edit(run.mode, target, place->file, run.cli_path);
}

TargetResult edit_toml(Mode mode, const Target& target, const std::string& file,
                       std::string_view cli_path) {
  return edit_codex(mode, target.name, file, cli_path);
}

TargetResult edit_json(Mode mode, const Target& target, const std::string& file,
                       std::string_view cli_path) {
  return edit_json_target(
      mode, {std::string(target.name), file, std::string(target.container), target.shape},
      cli_path);
}

// Codex's folder, when CODEX_HOME names one by an absolute path.
std::optional<std::string> codex_home(const std::string& /*home*/) {
  return files::env_path("CODEX_HOME");
}

// Claude Desktop's folder is the system's own choice (and APPDATA's):
// the row's folder is where the manual says it is.
std::optional<std::string> claude_desktop(const std::string& home) {
  return claude_desktop_folder(home);
}

constexpr LineMaker kJsonLine = file_line<edit_json>;

// Every target, in the order of the report.
constexpr Target kTargets[] = {
    {.name = "PATH", .line = path_line, .link = user_path_link},
    {.name = "Claude Code", .line = claude_code_line},
    {.name = "Codex",
     .line = file_line<edit_toml>,
     .file = {.folder = ".codex", .name = "config.toml", .moved = codex_home}},
    {.name = "Gemini CLI",
     .short_name = "Gemini",
     .line = kJsonLine,
     .file = {.folder = ".gemini", .name = "settings.json"},
     .container = "mcpServers"},
    {.name = "Cursor",
     .line = kJsonLine,
     .file = {.folder = ".cursor", .name = "mcp.json"},
     .container = "mcpServers"},
    {.name = "Windsurf",
     .line = kJsonLine,
     .file = {.folder = ".codeium/windsurf", .name = "mcp_config.json"},
     .container = "mcpServers"},
    {.name = "Claude Desktop",
     .line = kJsonLine,
     .file = {.folder = ".config/Claude",
              .name = "claude_desktop_config.json",
              .moved = claude_desktop},
     .container = "mcpServers"},
    {.name = "opencode",
     .line = kJsonLine,
     .file = {.folder = ".config/opencode",
              .name = "opencode.json",
              .other_name = "opencode.jsonc"},
     .container = "mcp",
     .shape = EntryShape::Opencode},
};

// What a run that changes anything holds from reading the marker to
// writing it: the data folder, open, and the lock in it.
struct Held {
  files::Folder data;
  files::FileLock lock;
};

// Takes the data folder and the lock of a run. Where no data folder can be
// had there is no lock, as there is no marker; but a data folder in which
// others could plant what we would take for our own files, or a lock file
// in it that cannot be made, opened or locked, stops the run, as a lock
// that stays taken does.
Result<std::optional<Held>, std::string> lock_run(const std::optional<std::string>& data_folder) {
  if (!data_folder) {
    return std::optional<Held>();
  }
  const std::string path = files::join(*data_folder, kLockFileName);
  const auto refused = [&](const files::OwnError& error) {
    return "Cannot lock " + path + ": " +
           (error.changeable ? *error.changeable + " can be changed by other users" : error.text);
  };
  auto data = files::open_own_folder(*data_folder);
  if (!data && data.error().changeable) {
    return refused(data.error());
  }
  if (!data) {
    return std::optional<Held>();
  }
  auto lock = files::FileLock::acquire(*data, std::string(kLockFileName), kLockPatience);
  if (!lock) {
    return refused(lock.error());
  }
  if (!*lock) {
    return "Cannot lock " + path + ": another vellumo-cli run holds it.";
  }
  return std::optional<Held>(Held{std::move(data).value(), std::move(**lock)});
}

// Deletes what an interrupted run left beside the files this run may
// edit. Only under the lock, which every run that writes them holds.
void remove_leftovers(const Held& held) {
  files::remove_own_leftovers(held.data, std::string(kMarkerFileName));
  const auto home = existing_home();
  if (!home) {
    return;
  }
  for (const Target& target : kTargets) {
    if (const auto link = target.link ? target.link() : std::nullopt) {
      files::remove_leftovers(*link, files::Leftovers::Links);
    } else if (const auto place = place_of(target, *home)) {
      files::remove_leftovers(place->file, files::Leftovers::Files);
    }
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

// Why a run as the superuser must change nothing: a folder it would work
// in (named by any variable the targets or the data folder are found
// through, or where the data folder lies) belongs to another user, whose
// environment it was given. What it made there would be root's, and what
// that user planted there would steer its writes.
std::optional<std::string> other_users_home(const std::optional<std::string>& data_folder) {
  std::vector<std::optional<std::string>> folders;
  for (const char* name :
       {"HOME", "CODEX_HOME", "XDG_CONFIG_HOME", "APPDATA", "XDG_DATA_HOME", "LOCALAPPDATA"}) {
    folders.push_back(files::env_path(name));
  }
  folders.push_back(data_folder);
  for (const auto& folder : folders) {
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
  const Run run{mode, cli_path, refused, refused ? refused : unwritable_cli_path(cli_path),
                existing_home()};
  std::vector<TargetResult> results;
  for (const Target& target : kTargets) {
    if (auto line = target.line(target, run)) {
      results.push_back(std::move(*line));
    }
  }
  return results;
}

// An install or removal, under the lock when there is one; the marker is
// written last.
std::vector<TargetResult> change_targets(Mode mode, std::string_view cli_path,
                                         const std::optional<Held>& held) {
  if (held) {
    remove_leftovers(*held);
  }
  std::vector<TargetResult> results = run_targets(mode, cli_path);
  if (held) {
    write_marker(held->data, cli_path, mode == Mode::Remove);
  }
  return results;
}

}  // namespace

std::span<const Target> targets() { return kTargets; }

bool same_path(std::string_view a, std::string_view b) { return components(a) == components(b); }

std::vector<TargetResult> run_agents(Mode mode, std::string_view cli_path,
                                     const std::optional<std::string>& data_folder) {
  if (mode == Mode::Status) {
    return run_targets(mode, cli_path);
  }
  if (auto refused = other_users_home(data_folder)) {
    return run_targets(mode, cli_path, refused);
  }
  auto held = lock_run(data_folder);
  if (!held) {
    return run_targets(mode, cli_path, held.error());
  }
  return change_targets(mode, cli_path, *held);
}

std::vector<TargetResult> ensure_integration(std::string_view cli_path,
                                             const std::optional<std::string>& data_folder) {
  if (runs_from_build_output(cli_path) || !files::is_regular_file(std::string(cli_path))) {
    return {};
  }
  if (auto refused = other_users_home(data_folder)) {
    return run_targets(Mode::Install, cli_path, refused);
  }
  auto held = lock_run(data_folder);
  if (!held) {
    return run_targets(Mode::Install, cli_path, held.error());
  }
  if (const auto marker = *held ? read_marker((*held)->data) : std::nullopt) {
    if (marker->removed || same_path(marker->cli, cli_path)) {
      return {};
    }
  }
  return change_targets(Mode::Install, cli_path, *held);
}

}  // namespace vellumo::agents
