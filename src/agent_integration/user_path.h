#pragma once

// The PATH target: the CLI's folder on the user's PATH. On Windows that is
// the `Path` value of the user environment in the registry; on POSIX, where
// no such store exists, the link ~/.local/bin/vellumo-cli to the CLI.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_integration/target.h"

namespace vellumo::agents {

/// Looks up an environment variable: its value, or nullopt when it is unset
/// or not valid Unicode.
using EnvLookup = std::function<std::optional<std::string>(std::string_view name)>;

/// The entries of a PATH value: its pieces between `;`, in order and with
/// their text unchanged, without the empty or blank ones.
std::vector<std::string_view> path_entries(std::string_view value);

/// Whether the PATH `entry` names `folder`: the entry is trimmed, its
/// %NAME% references to set variables are expanded once, trailing `\` are
/// dropped from both, and the rest compares equal with ASCII letters
/// matched regardless of case.
bool same_folder(std::string_view entry, std::string_view folder, const EnvLookup& lookup);

/// What a run does to a PATH value: the state to report and, when the value
/// must change, its new text.
struct PathPlan {
  TargetState state;
  std::optional<std::string> new_value;
};
PathPlan plan_user_path(Mode mode, std::string_view value, std::string_view folder,
                        const EnvLookup& lookup);

/// The file the PATH target edits: on POSIX the link ~/.local/bin/vellumo-cli
/// when HOME is an existing folder; on Windows none (the registry).
std::optional<std::string> user_path_link();

/// The PATH line `name` of an agents run: reports, adds or removes the
/// folder of `cli_path`.
TargetResult update_user_path(Mode mode, std::string_view name, std::string_view cli_path);

}  // namespace vellumo::agents
