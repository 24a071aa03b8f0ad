#pragma once

// Where the agents keep their configuration on this system.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumo::agents {

/// The user's home folder: USERPROFILE on Windows, HOME on POSIX; nullopt
/// when the variable is unset or no absolute path (files::env_path).
std::optional<std::string> home_folder();

/// The folder holding Claude Desktop's claude_desktop_config.json.
std::string claude_desktop_folder(const std::string& home);

/// A PATH value split Windows-style at `;`: quotes are dropped and a `;`
/// between quotes does not split; empty entries are kept.
std::vector<std::string> split_windows_path_list(std::string_view value);

/// A PATH value split POSIX-style at `:`; empty entries are kept.
std::vector<std::string> split_posix_path_list(std::string_view value);

/// The names tried for Claude Code's command in each folder, in order.
const std::vector<std::string>& claude_program_names();

/// The PATH variable split into folders by this system's rules.
std::vector<std::string> split_path_list(std::string_view value);

/// Whether `path` can be run as Claude Code's command: an existing file (on
/// POSIX, a regular file marked executable).
bool is_claude_program(const std::string& path);

}  // namespace vellumo::agents
