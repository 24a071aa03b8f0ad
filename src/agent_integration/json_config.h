#pragma once

// The pointer entry `vellumo` in the JSON configuration files of
// Gemini CLI, Cursor, Windsurf, Claude Desktop and opencode. Only the top
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
  std::string display_name;   ///< "Gemini CLI", "Cursor", ...
  std::string file_path;      ///< the configuration file, exactly as the agents command built it
  std::string container_key;  ///< "mcpServers", or "mcp" for opencode
  EntryShape shape = EntryShape::Plain;
};

/// The pointer entry for the CLI path `cli_path`, in compact form with its
/// members in sorted order. `cli_path` is written as a JSON string as is;
/// a path that is not valid UTF-8 gives text that check_json refuses.
std::string pointer_entry_text(EntryShape shape, std::string_view cli_path);

/// What the first `vellumo` member of a server list says.
struct EntryFacts {
  bool absent = false;  ///< there is no `vellumo` member
  bool equal = false;   ///< its value equals the pointer entry (member order aside)
  bool own = false;     ///< its `command` (a string, or an array's first string)
                        ///< names vellumo-cli or vellumo-cli.exe (ASCII case ignored)
};

/// The facts of `servers` for the pointer entry of `shape` and `cli_path`.
EntryFacts entry_facts(const std::vector<Member>& servers, EntryShape shape,
                       std::string_view cli_path);

/// True when the last component of `path` (separators `\` and `/`, trailing
/// separators ignored) is "vellumo-cli" or "vellumo-cli.exe", ASCII case
/// ignored.
bool names_vellumo_cli(std::string_view path);

/// The decision table of the JSON files: status -> present, absent or
/// skipped; install -> present, added, updated or skipped; remove ->
/// removed, absent or skipped.
TargetState decide_json(Mode mode, const EntryFacts& facts);

/// The outcome of planning one edit without touching the disk.
struct JsonPlan {
  TargetState state;                    ///< never Failed
  std::optional<std::string> detail;    ///< the reason of a skip; nullopt means "the file path"
  std::optional<std::string> new_text;  ///< set exactly for added, updated and removed
};

/// The work of `edit_json_target` on the text of the file as read
/// (`"{}"` for a missing file): the decision and, when the file is to be
/// written, its new text. `file_path` and `container_key` only go into the
/// skip reasons.
JsonPlan plan_json_edit(Mode mode, std::string_view text, std::string_view file_path,
                        std::string_view container_key, EntryShape shape,
                        std::string_view cli_path);

/// `edit_json_target`: edits the target's file through files::edit_file
/// (missing counts as "{}"; a read error or invalid UTF-8 gives "failed"
/// with the system error text or kNotUtf8Text),
/// planned from the text as read, again when the file changed meanwhile;
/// the file is written for added, updated and removed (a write failure
/// gives "failed", "Cannot write {path}: {error}"). The result names the
/// target's display name; its detail is the file path except for "failed",
/// the skip reasons "{path}: not plain JSON, left alone", "{path}: `{key}`
/// is not an object", "{path}: `{key}` appears more than once, left alone"
/// (the container, or `vellumo` in it) and "{path}: {JSON error}", and the
/// "{path}: ..., left alone" of a file that edit_file leaves alone
/// ("skipped").
TargetResult edit_json_target(Mode mode, const JsonTarget& target, std::string_view cli_path);

}  // namespace vellumo::agents
