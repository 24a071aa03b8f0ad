#pragma once

// What the POSIX halves of the system pairs (the *-posix.cpp files) share:
// an owned file descriptor, open() retried when a signal interrupts it, and
// the one loop that writes all of a text. Only those files include it.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

#include "platform/handle.h"

namespace vellumo::posix {

/// open() with O_CLOEXEC, retried while a signal interrupts it: the
/// descriptor, or -1 with errno set.
inline int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/// openat() with O_CLOEXEC, retried while a signal interrupts it.
inline int open_at(int folder, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(folder, name, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/// What a descriptor written to is: a socket is written with send(), which
/// fails with EPIPE instead of raising SIGPIPE where the system can ask
/// for that.
enum class Sink : bool { File, Socket };

/// Writes all of `bytes` to `fd`, going on after a partial write and after
/// one a signal interrupts: 0, or the errno of the write that failed (EIO
/// for one that took no bytes).
inline int write_all(int fd, std::string_view bytes, Sink sink = Sink::File) {
#if defined(MSG_NOSIGNAL)
  constexpr int kSendFlags = MSG_NOSIGNAL;
#else
  constexpr int kSendFlags = 0;
#endif
  while (!bytes.empty()) {
    const ssize_t put = sink == Sink::Socket ? ::send(fd, bytes.data(), bytes.size(), kSendFlags)
                                             : ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return put < 0 ? errno : EIO;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return 0;
}

/// An owned file descriptor, closed with close(); -1 is none.
class Fd : public platform::UniqueHandle<platform::SystemHandle> {
 public:
  Fd() = default;
  explicit Fd(int fd) : UniqueHandle(fd) {}

  int get() const { return static_cast<int>(UniqueHandle::get()); }
  int release() { return static_cast<int>(UniqueHandle::release()); }
};

}  // namespace vellumo::posix
