#pragma once

// The client side of the app link: one request line out, one reply line
// back, one connection per exchange.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/json_tape.h"
#include "core/link_protocol.h"
#include "core/result.h"

namespace vellumo {

namespace platform {
class LinkStream;
}

/// Replies may be at most this long (32 MiB, line feed not counted).
inline constexpr std::size_t kMaxReplyBytes = 33554432;

/// Whether the app answers a request at once, leaving its job running,
/// rather than when the job is done.
enum class Detach : bool { No, Yes };

/// One request to the app.
struct Request {
  std::string command;
  Json args = Json::object();
  Detach detach = Detach::No;
};

enum class LinkErrorKind {
  Unreachable,  ///< the link could not be opened: nobody serves it, or it stayed busy
  Exchange,     ///< anything after the open: write, read, unreadable reply, `ok` false
};

/// The failure of one exchange over the link.
struct LinkError {
  LinkErrorKind kind;
  std::string message;
};

/// The link path of the current user (from USERNAME), built afresh.
std::string user_link_path();

/// The request as it goes on the wire: compact JSON with the members in
/// the order version, command, args, detach, then a line feed.
std::string serialize_request(const Request& request);

/// Reads one reply line: up to the first line feed or the end of the
/// stream. A reply that runs past `limit` bytes (line feed not counted) is
/// refused as soon as that is clear, so memory stays bounded whatever the
/// app sends; so is one that is not valid UTF-8.
Result<std::string, LinkError> read_reply_line(platform::LinkStream& stream,
                                               std::size_t limit = kMaxReplyBytes);

/// Interprets one reply line: the result when `ok` is true (the tape of the
/// reply, narrowed to its `result`), an Exchange error with the app's
/// message (or the unreadable-reply message) otherwise.
Result<JsonTape, LinkError> parse_response(std::string line);

namespace app_link {

/// Whether an unreachable link may be answered by launching the app.
enum class Launch { Allowed, Never };

/// One exchange: open (retrying a busy link for up to 10 s), write the
/// request, read one reply line of at most kMaxReplyBytes, close.
Result<JsonTape, LinkError> send(const Request& request);

/// The operation commands use: one exchange; when the link is unreachable
/// and `launch` allows it, launch the app beside the CLI, wait for it and
/// send again. Errors become CliError values. The result comes as read,
/// never built into a Json whole: a command prints it unchanged or takes
/// from it the members it uses, so that a reply costs little more than its
/// text.
Result<JsonTape> call_tape(Launch launch, std::string_view command, Json args, Detach detach);

}  // namespace app_link

}  // namespace vellumo
