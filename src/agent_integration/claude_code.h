#pragma once

// The Claude Code target: the user-scope MCP server `vellumo`, looked up,
// added and removed through Claude Code's own `claude` command.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_integration/target.h"
#include "process/run.h"

namespace vellumo::agents {

/// The folders searched for `claude`, in order: the PATH entries (an empty
/// one is the current folder, ""), then the home-based and fixed folders.
std::vector<std::string> claude_search_folders(const std::optional<std::string>& path_value,
                                               const std::string& home);

/// Output text of a failed add or remove as a detail: white space (Unicode)
/// trimmed at both ends, then at most 300 characters.
std::string failure_detail(std::string_view output);

/// Runs a program to its end (the time-limited runner, or a stand-in in
/// tests).
using ProgramRunner = std::function<process::RunOutcome(const std::string& program,
                                                        const std::vector<std::string>& arguments)>;

/// The Claude Code line `name`, given where `claude` was found (nullopt when
/// it was not): none when Claude Code is not installed, else one result.
std::optional<TargetResult> claude_code_result(Mode mode, std::string_view name,
                                               std::string_view cli_path, const std::string& home,
                                               const std::optional<std::string>& claude,
                                               const ProgramRunner& run);

/// Finds `claude` and returns the Claude Code line `name` of an agents run,
/// whose `claude` commands `run` runs.
std::optional<TargetResult> claude_code_target(Mode mode, std::string_view name,
                                               std::string_view cli_path, const std::string& home,
                                               const ProgramRunner& run);

}  // namespace vellumo::agents
