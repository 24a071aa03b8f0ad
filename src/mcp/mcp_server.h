#pragma once

// `vellumo-cli mcp`: a minimal Model Context Protocol server (JSON-RPC 2.0,
// one message per line) whose single tool tells an agent to use the CLI and
// hands it the agent guide. It never talks to the app.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace vellumo {

/// Fills up to `size` bytes of `buffer` with the next input; 0 at the end of
/// the input. An error ends the server.
using McpReader = std::function<Result<std::size_t, std::string>(char* buffer, std::size_t size)>;

/// Writes all of `bytes`; false when the write failed, which ends the server.
using McpWriter = std::function<bool(std::string_view bytes)>;

/// Longest input line the server reads. A longer line is dropped unanswered
/// up to its line feed, so that no input can make the server hold more than
/// this much.
inline constexpr std::size_t kMaxMcpLineBytes = std::size_t{8} << 20;

/// The one-line text that points an agent at the CLI: the `instructions` of
/// `initialize`, the tool's `description` and the `message` of the error
/// reply. `cli_path` stands between quotation marks, unchanged.
std::string mcp_instructions_text(std::string_view cli_path);

/// Why the server stopped.
enum class McpEnd {
  InputEnded,   ///< the end of the input, a read error, or a line not in UTF-8
  WriteFailed,  ///< a reply could not be written
};

/// Answers the messages read through `read`, one compact JSON reply line
/// per request, each handed to `write` whole, in request order.
/// Notifications, non-objects, lines that do not parse and messages with a
/// doubled member that the server reads get no reply. Returns at the end of
/// the input, on a read error, at a line that is not valid UTF-8, or when a
/// write fails.
McpEnd serve_mcp(const McpReader& read, const McpWriter& write, std::string_view guide,
                 std::string_view instructions);

/// The `mcp` command: serves standard input and output with the texts built
/// from `cli_path`, the CLI's own path. Succeeds when the input ends; when a
/// reply cannot be written it fails without a message (exit code 1), since
/// standard error is not the server's to write.
Status run_mcp_stub(std::string_view cli_path);

}  // namespace vellumo
