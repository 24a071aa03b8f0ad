#pragma once

// The server end of the app link, for programs that stand in for the app
// (the test app and the stand-in app). The CLI itself never links it.
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

  /// Destroying a server stops serving (POSIX: removes the socket file).
  LinkServer() = default;

  /// Waits for the next client and hands over its connection, also one
  /// whose client has already closed it (reading it finds the end). Not for
  /// a server in busy mode.
  Result<LinkStream, std::string> accept();

  const std::string& path() const { return path_; }

 private:
  /// Closes the listener. POSIX: then removes the socket file, while it is
  /// still the one bound (the same device and inode).
  struct Listener {
    static constexpr std::intptr_t invalid = -1;
    std::string path;          ///< POSIX: the socket file
    std::uint64_t device = 0;  ///< POSIX: its device and inode, so that only
    std::uint64_t inode = 0;   ///< our own file is removed
    void close(std::intptr_t handle) const;
  };

  std::string path_;
  LinkServerOptions options_;
  /// The listening socket, or the waiting pipe instance.
  UniqueHandle<Listener> listener_;
  /// Busy mode: the server's own client connection (closed first).
  UniqueHandle<SystemHandle> held_;
  std::string error_;  ///< why the next accept cannot succeed (Windows)
};

/// Ends a connection accepted by a LinkServer: waits until the client has
/// read everything written to it (Windows discards unread pipe data on
/// close), then closes it. Errors are ignored: the client may be gone.
void finish(LinkStream stream);

}  // namespace vellumo::platform
