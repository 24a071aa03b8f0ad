#include "agent_integration/claude_code.h"

#include "agent_integration/agent_paths.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace vellumo::agents {
namespace {

constexpr std::size_t kMaxDetailCharacters = 300;

TargetResult line(std::string_view name, TargetState state,
                  std::optional<std::string> detail = std::nullopt) {
  return {std::string(name), state, std::move(detail)};
}

TargetResult judge(std::string_view name, const process::RunOutcome& outcome, TargetState success) {
  if (const auto* error = std::get_if<process::RunError>(&outcome)) {
    return line(name, TargetState::Failed, error->message);
  }
  const auto& finished = std::get<process::Finished>(outcome);
  if (finished.success) {
    return line(name, success);
  }
  return line(name, TargetState::Failed, failure_detail(finished.output));
}

std::optional<std::string> find_claude(const std::string& home) {
  for (const std::string& folder : claude_search_folders(platform::get_env("PATH"), home)) {
    for (const std::string& name : claude_program_names()) {
      std::string candidate = folder.empty() ? name : files::join(folder, name);
      if (is_claude_program(candidate)) {
        return candidate;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> claude_search_folders(const std::optional<std::string>& path_value,
                                               const std::string& home) {
  std::vector<std::string> folders;
  if (path_value) {
    folders = split_path_list(*path_value);
  }
  for (const char* fragment : {".local/bin", ".claude/local", "AppData/Roaming/npm"}) {
    folders.push_back(files::join(home, fragment));
  }
  folders.push_back("/opt/homebrew/bin");
  folders.push_back("/usr/local/bin");
  return folders;
}

std::string failure_detail(std::string_view output) {
  const std::string_view text = trim(output);
  std::size_t cut = 0;
  for (std::size_t count = 0; cut < text.size() && count < kMaxDetailCharacters; ++count) {
    do {
      ++cut;
    } while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80);
  }
  return std::string(text.substr(0, cut));
}

std::optional<TargetResult> claude_code_result(Mode mode, std::string_view name,
                                               std::string_view cli_path, const std::string& home,
                                               const std::optional<std::string>& claude,
                                               const ProgramRunner& run) {
  if (!claude) {
    if (files::is_regular_file(files::join(home, ".claude.json"))) {
      return line(name, TargetState::Skipped, "The claude command was not found.");
    }
    return std::nullopt;
  }
  const std::string cli(cli_path);
  const auto add = [&] {
    return run(*claude, {"mcp", "add", "--scope", "user", "vellumo", "--", cli, "mcp"});
  };
  const auto remove = [&] { return run(*claude, {"mcp", "remove", "--scope", "user", "vellumo"}); };

  const process::RunOutcome lookup = run(*claude, {"mcp", "get", "vellumo"});
  if (const auto* error = std::get_if<process::RunError>(&lookup)) {
    return line(name, TargetState::Failed, error->message);
  }
  const auto& found = std::get<process::Finished>(lookup);
  if (!found.success) {
    return mode == Mode::Install ? judge(name, add(), TargetState::Added)
                                 : line(name, TargetState::Absent);
  }
  const bool points_here = found.output.find(cli) != std::string::npos;
  const bool ours = found.output.find("vellumo-cli") != std::string::npos;
  switch (mode) {
    case Mode::Status:
      return line(name, points_here ? TargetState::Present : TargetState::Skipped);
    case Mode::Install:
      if (points_here) {
        return line(name, TargetState::Present);
      }
      if (!ours) {
        return line(name, TargetState::Skipped, "Another server is already named vellumo.");
      }
      remove();  // an old entry; only the add that follows is judged
      return judge(name, add(), TargetState::Updated);
    case Mode::Remove:
      return ours ? judge(name, remove(), TargetState::Removed) : line(name, TargetState::Absent);
  }
  return std::nullopt;
}

std::optional<TargetResult> claude_code_target(Mode mode, std::string_view name,
                                               std::string_view cli_path, const std::string& home,
                                               const ProgramRunner& run) {
  // The first `claude` found is the one the user's shell would run; a
  // later one would be another program. When someone else could have put
  // it there or changed it, running it would run their code with our
  // rights (root's, for a run that kept the user's HOME).
  const auto claude = find_claude(home);
  if (claude && files::changeable_by_others(*claude)) {
    return line(name, TargetState::Skipped, *claude + ": can be changed by other users, not run");
  }
  return claude_code_result(mode, name, cli_path, home, claude, run);
}

}  // namespace vellumo::agents
