#pragma once

// The shared vocabulary of the agents command: the mode of a run
// and one line of its report.

#include <optional>
#include <string>
#include <string_view>

namespace vellumo::agents {

/// What a run of `agents` does. Only Install and Remove change anything.
enum class Mode { Status, Install, Remove };

/// The state word of a target result.
enum class TargetState { Present, Absent, Added, Updated, Removed, Skipped, Failed };

/// The exact lower-case word for `state`: "present", "absent", "added",
/// "updated", "removed", "skipped" or "failed".
std::string_view state_word(TargetState state);

/// One line of the agents report: a target and what was found or done there.
struct TargetResult {
  std::string target;                 ///< display name, e.g. "Cursor"
  TargetState state;                  ///< what was found or done
  std::optional<std::string> detail;  ///< a path or a message, when there is one

  friend bool operator==(const TargetResult&, const TargetResult&) = default;
};

}  // namespace vellumo::agents
