#pragma once

// The Codex block in config.toml:
//
//   [mcp_servers.vellumo]
//   # Added by Vellumo: points agents to vellumo-cli
//   command = "C:\\Tools\\vellumo-cli.exe"
//   args = ["mcp"]
//
// The file is edited as lines of text, so that every line the edit does not
// concern keeps its bytes; the TOML line lexer (toml_lines.h) tells which
// lines are table headers, keys and values. Before anything is written, the
// new text is parsed as TOML (toml_check.h): an edit that would break a
// file that parsed is not made.

#include <optional>
#include <string>
#include <string_view>

#include "agent_integration/target.h"

namespace vellumo::agents {

/// Q: the CLI path in quotation marks, every `\` doubled and then every `"`
/// preceded by a `\`.
std::string codex_quoted_path(std::string_view cli_path);

/// The four block lines, each ended by a line feed.
std::string codex_block(std::string_view cli_path);

/// What the text says about the block.
struct CodexFacts {
  bool header = false;    ///< the server has a table: a header whose key is `mcp_servers.vellumo`
  bool mentions = false;  ///< the first such block's command line contains "vellumo-cli"
  bool points = false;    ///< the first such block's command line contains Q
  bool later_mentions = false;  ///< a later block of the server mentions "vellumo-cli" (a file that
                                ///< holds the table twice, as older versions could leave it)
  bool not_a_table = false;    ///< the server is defined otherwise: an inline table, dotted keys or
                               ///< an array of tables
  bool servers_array = false;  ///< `mcp_servers` itself is an array of tables
};

/// The decision on the Codex block: skipped when the server is not a table
/// of its own or `mcp_servers` is an array of tables; else decide_entry with
/// the first block as the entry, equal when its command line points to the
/// CLI and own when that line mentions vellumo-cli (for a removal, also when
/// a later block's does: each such block is removed).
TargetState decide_codex(Mode mode, const CodexFacts& facts);

/// The decision on `text` (the file as read, "" when missing) and, for
/// added, updated and removed, the new text. When `text` parses as TOML and
/// the new text would not, the plan is "skipped" with a reason instead; so
/// it is, in every mode, when `text` has no table of the server and ends
/// inside a value, where an added block would not be one.
struct CodexPlan {
  TargetState state;                    ///< never Failed
  std::optional<std::string> new_text;  ///< set exactly for added, updated and removed
  std::string reason = {};  ///< why a skipped file was left alone, when it is not simply
                            ///< someone else's server: the detail's text after "{path}: "
};

CodexPlan plan_codex_edit(Mode mode, std::string_view text, std::string_view cli_path);

/// The target's line: its file `config_path` (Codex's config.toml) edited
/// by edit_target as plan_codex_edit plans it, a missing file counting as
/// empty. The detail is the file path, followed by ": " and the plan's
/// reason when it has one, except for "failed" and a file that edit_file
/// leaves alone. A `cli_path` that is not valid UTF-8 is used with U+FFFD in
/// place of what cannot be represented.
TargetResult edit_codex(Mode mode, std::string_view name, const std::string& config_path,
                        std::string_view cli_path);

}  // namespace vellumo::agents
