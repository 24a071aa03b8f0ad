// system.h on POSIX.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "platform/posix.h"
#include "standin_app/system.h"

namespace vellumo::standin::sys {
namespace {

std::string last_error() { return platform::system_error_text(errno); }

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

Result<std::optional<InstanceLock>, std::string> InstanceLock::acquire(const std::string& path) {
  // The file may be removed by a holder that is ending between our open and
  // our lock; then the lock we got is on a file nobody else will find, and
  // we start over.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = posix::open_retrying(path.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) {
      return Err{"Cannot open " + path + ": " + last_error()};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) {
        return std::optional<InstanceLock>();
      }
      return Err{"Cannot lock " + path + ": " + platform::system_error_text(error)};
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
      ::close(fd);
      continue;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || !write_all(fd, pid.data(), pid.size())) {
      std::string error = last_error();
      ::close(fd);
      return Err{"Cannot write " + path + ": " + error};
    }
    return std::optional<InstanceLock>(InstanceLock(fd, path));
  }
  return Err{"Cannot lock " + path + ": it keeps being replaced"};
}

void InstanceLock::Release::close(std::intptr_t handle) const {
  // Removed while still locked, so that no one else locks this file.
  ::unlink(path.c_str());
  ::close(static_cast<int>(handle));
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

}  // namespace vellumo::standin::sys
