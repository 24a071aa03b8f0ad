#pragma once

// The server end of the app link, for programs that stand in for the app
// (the test app and, later, a stand-in app). The CLI itself never links it.
//
// POSIX: a Unix stream socket at the link path; its folder is created with
// mode 0700 when missing. Windows: a byte-mode named pipe, with one instance
// always waiting for the next client.

#include <cstdint>
#include <string>

#include "core/result.h"
#include "platform/platform.h"

namespace vellumo::platform {

enum class LinkServerMode {
  /// Accept clients one after the other.
  Serve,
  /// Exist but never accept: every client finds the link busy (Windows: the
  /// only pipe instance is held by the server itself; POSIX: the listen
  /// backlog is full). For testing the client's busy retry.
  Busy,
};

struct LinkServerOptions {
  LinkServerMode mode = LinkServerMode::Serve;
  /// Windows: the pipe's buffer sizes in each direction (a small one makes a
  /// client's large write wait for the server). POSIX ignores it.
  std::uint32_t buffer_size = 65536;
};

class LinkServer {
 public:
  /// Starts serving `path`. A stale socket file left by a server that died is
  /// replaced; a link that another live server holds, or a path that is not a
  /// socket, is an error. The error is a message with the system error text.
  static Result<LinkServer, std::string> listen(const std::string& path,
                                                LinkServerOptions options = {});

  LinkServer() = default;
  LinkServer(LinkServer&& other) noexcept;
  LinkServer& operator=(LinkServer&& other) noexcept;
  LinkServer(const LinkServer&) = delete;
  LinkServer& operator=(const LinkServer&) = delete;
  /// Stops serving (POSIX: removes the socket file).
  ~LinkServer();

  /// Waits for the next client and hands over its connection. Not for a
  /// server in busy mode.
  Result<LinkStream, std::string> accept();

  const std::string& path() const { return path_; }

 private:
  void close();

  std::string path_;
  LinkServerOptions options_;
  std::intptr_t listener_ = -1;  ///< listening socket, or the waiting pipe instance
  std::intptr_t held_ = -1;      ///< busy mode: the server's own client connection
  std::string error_;            ///< why the next accept cannot succeed (Windows)
  std::uint64_t device_ = 0;     ///< POSIX: the socket file's device and inode, so that
  std::uint64_t inode_ = 0;      ///< only our own file is removed
};

/// Ends a connection accepted by a LinkServer: waits until the client has
/// read everything written to it (Windows discards unread pipe data on
/// close), then closes it. Errors are ignored: the client may be gone.
void finish(LinkStream stream);

}  // namespace vellumo::platform
