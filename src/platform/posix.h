#pragma once

// What the POSIX halves of the system pairs (the *-posix.cpp files) share:
// an owned file descriptor, and open() retried when a signal interrupts it.
// Only those files include it.

#include <fcntl.h>
#include <sys/types.h>

#include <cerrno>

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

/// An owned file descriptor, closed with close(); -1 is none.
class Fd : public platform::UniqueHandle<platform::SystemHandle> {
 public:
  Fd() = default;
  explicit Fd(int fd) : UniqueHandle(fd) {}

  int get() const { return static_cast<int>(UniqueHandle::get()); }
  int release() { return static_cast<int>(UniqueHandle::release()); }
};

}  // namespace vellumo::posix
