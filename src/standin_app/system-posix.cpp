// system.h on POSIX.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "standin_app/system.h"

namespace vellumo::standin::sys {

Result<void, std::string> keep_private(const std::string& path) {
  ::umask(077);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return platform::system_error_text(errno);
  }
  if ((info.st_mode & 077) != 0 && ::chmod(path.c_str(), info.st_mode & 07700) != 0) {
    return platform::system_error_text(errno);
  }
  return {};
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

}  // namespace vellumo::standin::sys
