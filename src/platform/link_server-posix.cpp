#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <utility>

#include "core/paths.h"
#include "platform/link_server.h"
#include "platform/posix.h"

namespace vellumo::platform {
namespace {

std::string failure(const std::string& what, int error) {
  return what + ": " + system_error_text(error);
}

// The folder must be ours alone: a socket in a folder others can write to
// could be swapped for theirs.
Result<void, std::string> prepare_folder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return failure("Cannot create " + folder, errno);
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    return failure("Cannot inspect " + folder, errno);
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::string(folder + " is not a folder of this user that only this user can write");
  }
  return {};
}

Result<sockaddr_un, std::string> socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    return std::string("Socket path too long: " + path);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// None, with errno set, when the system gives no socket.
posix::Fd new_socket(bool nonblocking) {
  posix::Fd socket(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!socket) {
    return socket;
  }
  ::fcntl(socket.get(), F_SETFD, FD_CLOEXEC);
  if (nonblocking) {
    ::fcntl(socket.get(), F_SETFL, ::fcntl(socket.get(), F_GETFL) | O_NONBLOCK);
  }
  return socket;
}

// Connects a non-blocking client socket; the errno of the attempt, 0 on
// success. A full backlog gives EAGAIN instead of blocking.
int connect_once(int fd, const sockaddr_un& address) {
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

// Whether a live server answers at `address`: a refused connection means the
// socket file was left behind by a server that is gone.
bool served(const sockaddr_un& address) {
  const posix::Fd probe = new_socket(true);
  if (!probe) {
    return true;
  }
  const int error = connect_once(probe.get(), address);
  return error != ECONNREFUSED && error != ENOENT;
}

}  // namespace

Result<LinkServer, std::string> LinkServer::listen(const std::string& path,
                                                   LinkServerOptions options) {
  // A client that leaves before reading its reply must not end the server.
  std::signal(SIGPIPE, SIG_IGN);

  TRY(const sockaddr_un address, socket_address(path));
  if (auto folder = parent_folder(path, PathStyle::Posix)) {
    TRY_STATUS(prepare_folder(*folder));
  }

  LinkServer server;
  server.path_ = path;
  server.options_ = options;
  const LinkServerMode mode = options.mode;
  posix::Fd socket = new_socket(false);
  if (!socket) {
    return failure("Cannot create a socket", errno);
  }
  const int fd = socket.get();
  server.listener_ = UniqueHandle<Listener>(socket.release(), Listener{path});

  auto bind_once = [&] {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ? 0
                                                                                         : errno;
  };
  int error = bind_once();
  if (error == EADDRINUSE) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode)) {
      return std::string(path + " exists and is not a socket");
    }
    if (served(address)) {
      return std::string(path + " is served by another process");
    }
    ::unlink(path.c_str());
    error = bind_once();
  }
  if (error != 0) {
    return failure("Cannot bind " + path, error);
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    server.listener_.closer().device = static_cast<std::uint64_t>(info.st_dev);
    server.listener_.closer().inode = static_cast<std::uint64_t>(info.st_ino);
  }

  // Busy: a backlog of one that our own connection fills, never accepted.
  if (::listen(fd, mode == LinkServerMode::Busy ? 0 : SOMAXCONN) != 0) {
    return failure("Cannot listen on " + path, errno);
  }
  if (mode == LinkServerMode::Busy) {
    posix::Fd held = new_socket(true);
    if (!held) {
      return failure("Cannot create a socket", errno);
    }
    const int held_fd = held.get();
    server.held_.reset(held.release());
    if (int rc = connect_once(held_fd, address); rc != 0) {
      return failure("Cannot fill the backlog of " + path, rc);
    }
  }
  return server;
}

void LinkServer::Listener::close(std::intptr_t handle) const {
  ::close(static_cast<int>(handle));
  // Remove the socket file only while it is still the one we bound.
  struct stat info {};
  if (inode != 0 && ::lstat(path.c_str(), &info) == 0 &&
      static_cast<std::uint64_t>(info.st_dev) == device &&
      static_cast<std::uint64_t>(info.st_ino) == inode) {
    ::unlink(path.c_str());
  }
}

Result<LinkStream, std::string> LinkServer::accept() {
  if (!listener_ || options_.mode == LinkServerMode::Busy) {
    return std::string("The link is not accepting connections");
  }
  for (;;) {
    int fd = ::accept(static_cast<int>(listener_.get()), nullptr, nullptr);
    if (fd >= 0) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      return LinkStream(fd);
    }
    if (errno != EINTR && errno != ECONNABORTED) {
      return failure("Cannot accept a connection on " + path_, errno);
    }
  }
}

void finish(LinkStream stream) {
  // Everything written is already queued for the client; closing does not
  // discard it.
  if (stream.native_handle() >= 0) {
    ::shutdown(static_cast<int>(stream.native_handle()), SHUT_WR);
  }
}

}  // namespace vellumo::platform
