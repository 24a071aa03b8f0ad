#pragma once

// The agents command: one report line per target the machine has, in a
// fixed order, and the marker that remembers the last install or removal.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_integration/target.h"

namespace vellumo::agents {

/// The name of the lock file in the data folder, which one install,
/// remove or ensure run holds at a time.
inline constexpr std::string_view kLockFileName = "agents.lock";

/// How long a run waits for another run to let go of the lock: a Claude
/// Code step alone may take 45 seconds.
inline constexpr std::chrono::milliseconds kLockPatience = std::chrono::seconds(120);

/// Reports (status) or changes (install, remove) every target, in the order
/// of the table of targets (agents.cpp). Agents whose folder is missing get
/// no line; a failing target gets a "failed" line and does not stop the
/// others. A `cli_path` that is not valid UTF-8 makes every line but PATH's
/// "failed": no entry can name it. Install and remove hold the lock in the
/// data folder while they work, and then rewrite the marker; without a data
/// folder there is neither.
std::vector<TargetResult> run_agents(Mode mode, std::string_view cli_path,
                                     const std::optional<std::string>& data_folder);

/// Installs once per CLI location: nothing when the CLI runs from a build
/// output folder (`target` followed by `release` or `debug`), when it is no
/// regular file, when the marker says the user removed the integration, or
/// when the marker already names this CLI path; otherwise run_agents in
/// install mode. The marker is read under the lock, so that a removal
/// running meanwhile is seen.
std::vector<TargetResult> ensure_integration(std::string_view cli_path,
                                             const std::optional<std::string>& data_folder);

/// Whether two paths name the same file, component by component: the
/// separator style and repeated separators do not matter, letter case does.
bool same_path(std::string_view a, std::string_view b);

}  // namespace vellumo::agents
