#pragma once

// The pointer entry `vellumo` in the JSON configuration files of the
// agents configured through such a file. Only the top
// object and the object holding the servers are re-rendered; every other
// value keeps its source text byte for byte. A file that is not strict JSON
// is never rewritten.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_integration/json_members.h"
#include "agent_integration/target.h"

namespace vellumo::agents {

/// The two shapes of the pointer entry.
enum class EntryShape {
  Plain,     ///< {"args":["mcp"],"command":C}  (mcpServers of most agents)
  Opencode,  ///< {"command":[C,"mcp"],"enabled":true,"type":"local"}  (opencode's mcp)
};

/// One JSON-configured agent of the agents command.
struct JsonTarget {
  std::string display_name;   ///< the name of its report line
  std::string file_path;      ///< the configuration file, exactly as the agents command built it
  std::string container_key;  ///< "mcpServers", or "mcp" for opencode
  EntryShape shape = EntryShape::Plain;
};

/// The pointer entry for the CLI path `cli_path`, in compact form with its
/// members in sorted order. `cli_path` is written as a JSON string as is;
/// a path that is not valid UTF-8 gives text that check_json refuses.
std::string pointer_entry_text(EntryShape shape, std::string_view cli_path);

/// The facts of the first `vellumo` member of `servers` (absent when there
/// is none) for the pointer entry of `shape` and `cli_path`: equal when its
/// value equals the pointer entry (member order aside), own when its
/// `command` (a string, or an array's first string) names vellumo-cli or
/// vellumo-cli.exe (ASCII case ignored).
EntryFacts entry_facts(const std::vector<Member>& servers, EntryShape shape,
                       std::string_view cli_path);

/// True when the last component of `path` (separators `\` and `/`, trailing
/// separators ignored) is "vellumo-cli" or "vellumo-cli.exe", ASCII case
/// ignored.
bool names_vellumo_cli(std::string_view path);

/// The work of `edit_json_target` on the text of the file as read
/// (`"{}"` for a missing file): the decision (decide_entry) and, when the
/// file is to be written, its new text. `file_path` and `container_key`
/// only go into the skip reasons.
EditPlan plan_json_edit(Mode mode, std::string_view text, std::string_view file_path,
                        std::string_view container_key, EntryShape shape,
                        std::string_view cli_path);

/// The target's line: its file edited by edit_target as plan_json_edit
/// plans it, a missing file counting as "{}". The detail is the file path
/// except for "failed", the skip reasons "{path}: not plain JSON, left
/// alone", "{path}: `{key}` is not an object", "{path}: `{key}` appears more
/// than once, left alone" (the container, or `vellumo` in it) and "{path}:
/// {JSON error}", and the reason of a file that edit_file leaves alone.
TargetResult edit_json_target(Mode mode, const JsonTarget& target, std::string_view cli_path);

}  // namespace vellumo::agents
