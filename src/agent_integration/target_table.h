#pragma once

// The agents command's targets, one row each: the name of its report line,
// where its file is, how its line of a run is made and, for a JSON file,
// where the servers are in it. The report follows the table, and so do the
// manual page's files.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "agent_integration/json_config.h"
#include "agent_integration/target.h"

namespace vellumo::agents {

/// Where an agent configured through a file keeps it.
struct ConfigFile {
  /// The agent's folder below the home folder, `/` between its names
  /// (".codeium/windsurf"), as the manual names it.
  std::string_view folder;
  /// The file in that folder; empty for a target without one.
  std::string_view name;
  /// The name the agent reads instead when only a file of that name exists.
  std::string_view other_name = {};
  /// Where a variable or the system moves the folder, if anywhere.
  std::optional<std::string> (*moved)(const std::string& home) = nullptr;
};

/// A run as each target sees it (agents.cpp).
struct Run;
struct Target;
using LineMaker = std::optional<TargetResult> (*)(const Target& target, const Run& run);

struct Target {
  /// The name of its report line.
  std::string_view name;
  /// The name the usage text's line of the agents command gives it, where
  /// that line, short of room, says less than `name`.
  std::string_view short_name = {};
  /// Its line of a run; none when the agent is not there.
  LineMaker line = nullptr;
  ConfigFile file = {};
  /// In a JSON file: the member holding the servers, and our entry's shape.
  std::string_view container = {};
  EntryShape shape = EntryShape::Plain;
  /// The link its runs place, for a target that keeps a link rather than a
  /// file (PATH).
  std::optional<std::string> (*link)() = nullptr;
};

/// Every target, in the order of the report.
std::span<const Target> targets();

}  // namespace vellumo::agents
