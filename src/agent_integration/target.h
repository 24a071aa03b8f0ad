#pragma once

// The shared vocabulary of the agents command: the mode of a run, one line
// of its report, the decision table of the configuration files and the
// editor that every file target goes through.

#include <functional>
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
  std::string target;                 ///< the target's display name
  TargetState state;                  ///< what was found or done
  std::optional<std::string> detail;  ///< a path or a message, when there is one

  friend bool operator==(const TargetResult&, const TargetResult&) = default;
};

/// What a configuration file says about the server entry `vellumo`.
struct EntryFacts {
  bool absent = false;  ///< there is no entry
  bool equal = false;   ///< the entry is the one this CLI would write
  bool own = false;     ///< the entry is one this program wrote (it names
                        ///< vellumo-cli): it may be updated or removed
};

/// The decision table of the configuration files: status -> present,
/// absent or skipped; install -> present, added, updated or skipped;
/// remove -> removed, absent or skipped.
TargetState decide_entry(Mode mode, const EntryFacts& facts);

/// What a file target makes of the text of its file, without touching the
/// disk.
struct EditPlan {
  TargetState state;                    ///< never Failed
  std::optional<std::string> detail;    ///< the reason of a skip; nullopt means "the file path"
  std::optional<std::string> new_text;  ///< set exactly for added, updated and removed
};

/// Plans the edit of a file from its text as read.
using EditPlanner = std::function<EditPlan(std::string_view text)>;

/// The line `name` of a target whose configuration is the file at `path`:
/// the file is edited through files::edit_file (a missing file reads as
/// `missing`), planned from the text as read, again when the file changed
/// meanwhile, and written when the plan has a new text. A read or write
/// error gives "failed" with its text, invalid UTF-8 "failed" with
/// kNotUtf8Text, a file that edit_file leaves alone "skipped" with its
/// reason; otherwise the plan's state, with its detail or the file path.
TargetResult edit_target(std::string_view name, const std::string& path, std::string_view missing,
                         const EditPlanner& plan);

}  // namespace vellumo::agents
