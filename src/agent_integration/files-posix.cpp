// files.h on POSIX.

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent_integration/files.h"
#include "platform/platform.h"

namespace vellumo::agents::files {
namespace {

std::string last_error() { return platform::system_error_text(errno); }

}  // namespace



Result<std::optional<std::string>, std::string> read_whole_file(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT) {
      return std::optional<std::string>();
    }
    return last_error();
  }
  std::string bytes;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      std::string error = last_error();
      ::close(fd);
      return error;
    }
    if (got == 0) {
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return std::optional<std::string>(std::move(bytes));
}

bool is_directory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Result<void, std::string> create_folders(const std::string& path) {
  if (path.empty() || is_directory(path)) {
    return {};
  }
  if (auto parent = parent_folder(path, platform::kPathStyle)) {
    if (auto made = create_folders(*parent); !made) {
      return made;
    }
  }
  if (::mkdir(path.c_str(), 0777) != 0) {
    const int error = errno;
    if (is_directory(path)) {
      return {};  // made by someone else meanwhile, or "a/b/" after "a/b"
    }
    return platform::system_error_text(error);
  }
  return {};
}

Result<void, std::string> write_whole_file(const std::string& path, std::string_view bytes) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return last_error();
  }
  // One write for the whole text; the loop only continues a short write.
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      std::string error = last_error();
      ::close(fd);
      return error;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  if (::close(fd) != 0 && errno != EINTR) {
    return last_error();
  }
  return {};
}

Result<void, std::string> rename_replacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    return last_error();
  }
  return {};
}

Result<void, std::string> remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    return last_error();
  }
  return {};
}

}  // namespace vellumo::agents::files
