// files_system.h on POSIX.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <utility>

#include "core/paths.h"
#include "platform/files_system.h"
#include "platform/platform.h"
#include "platform/posix.h"

namespace vellumo::files::system {
namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

// The longest chain of links followed, as the kernel's own limit (40).
constexpr int kMaxLinks = 40;

std::string error_text(int code) { return platform::system_error_text(code); }

Failure failure(int code) {
  return {code == ENOENT   ? Failure::Missing
          : code == EEXIST ? Failure::Exists
                           : Failure::Other,
          error_text(code)};
}

using posix::Fd;
using posix::open_retrying;

ssize_t read_retrying(int fd, char* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// 0, or the errno of the failed write.
int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
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

}  // namespace

Result<std::string, Failure> read_bytes(const std::string& path, std::size_t limit) {
  const Fd fd(open_retrying(path.c_str(), O_RDONLY));
  if (fd.get() < 0) {
    return failure(errno);
  }
  std::string bytes;
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.reserve(std::min(limit, static_cast<std::size_t>(info.st_size)));
  }
  // Straight into the string, a large block at a time.
  while (bytes.size() < limit) {
    const std::size_t want = std::min(kBlock, limit - bytes.size());
    const std::size_t have = bytes.size();
    bytes.resize(have + want);
    const ssize_t got = read_retrying(fd.get(), bytes.data() + have, want);
    if (got < 0) {
      return failure(errno);
    }
    bytes.resize(have + static_cast<std::size_t>(got));
    if (got == 0) {
      break;
    }
  }
  return bytes;
}

Result<FileFacts, std::string> inspect(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return FileFacts{};
    }
    return error_text(errno);
  }
  return FileFacts{true, S_ISDIR(info.st_mode), static_cast<std::uint64_t>(info.st_size)};
}

Result<void, Failure> make_folder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    return failure(errno);
  }
  return {};
}

Result<std::string, std::string> final_path(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno == ENOENT && hops > 0) {
        return Err{"it is a link to " + current + ", which does not exist"};
      }
      if (errno == ENOENT) {
        return current;  // a new file
      }
      return Err{error_text(errno)};
    }
    if (!S_ISLNK(info.st_mode)) {
      return current;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
    if (length < 0) {
      return Err{error_text(errno)};
    }
    target.resize(static_cast<std::size_t>(length));
    if (target.empty() || target[0] != '/') {
      const auto folder = parent_folder(current, PathStyle::Posix);
      target = folder ? join_path(*folder, target, PathStyle::Posix) : target;
    }
    current = std::move(target);
  }
  return Err{error_text(ELOOP)};
}

Result<NewFile, Failure> NewFile::create(const std::string& path, const std::string& like) {
  struct stat original {};
  const bool replaces = ::stat(like.c_str(), &original) == 0;
  // Readable by nobody else until it has the original's permissions; a new
  // file gets 0666 less the umask, as any new file.
  const int fd =
      open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, replaces ? 0600 : 0666);
  if (fd < 0) {
    return failure(errno);
  }
  NewFile file(fd, path);
  if (replaces) {
    // The owner first: a change of owner clears the set-ID bits. Only the
    // owner's superuser may give a file away, so a refusal keeps ours.
    if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
      (void)::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
    }
    if (::fchmod(fd, original.st_mode & 07777) != 0) {
      return failure(errno);
    }
  }
  return file;
}

void NewFile::Discard::close(std::intptr_t handle) const {
  ::close(static_cast<int>(handle));
  (void)::unlink(path.c_str());
}

Result<void, std::string> NewFile::write(std::string_view bytes) {
  if (const int error = write_all(static_cast<int>(handle_.get()), bytes); error != 0) {
    return error_text(error);
  }
  return {};
}

Result<bool, CopyFailure> NewFile::append_file(const std::string& from,
                                               const std::function<bool()>& keep_going) {
  const Fd in(open_retrying(from.c_str(), O_RDONLY));
  if (in.get() < 0) {
    return CopyFailure{true, error_text(errno)};
  }
  std::string buffer(kBlock, '\0');
  for (;;) {
    if (!keep_going()) {
      return false;
    }
    const ssize_t got = read_retrying(in.get(), buffer.data(), buffer.size());
    if (got < 0) {
      return CopyFailure{true, error_text(errno)};
    }
    if (got == 0) {
      return true;
    }
    const std::string_view block(buffer.data(), static_cast<std::size_t>(got));
    if (const int error = write_all(static_cast<int>(handle_.get()), block); error != 0) {
      return CopyFailure{false, error_text(error)};
    }
  }
}

Result<void, std::string> NewFile::flush() {
  if (::fsync(static_cast<int>(handle_.get())) != 0) {
    return error_text(errno);
  }
  return {};
}

Result<void, std::string> NewFile::commit(const std::string& target) {
  if (::close(static_cast<int>(handle_.release())) != 0 && errno != EINTR) {
    const int error = errno;
    (void)::unlink(path().c_str());
    return error_text(error);
  }
  if (::rename(path().c_str(), target.c_str()) != 0) {
    const int error = errno;
    (void)::unlink(path().c_str());
    return error_text(error);
  }
  // The new entry reaches the disk too. The file is in place already, so a
  // folder that cannot be flushed is no reason to report a failure.
  const auto folder = parent_folder(target, PathStyle::Posix);
  const Fd dir(open_retrying(folder ? folder->c_str() : ".", O_RDONLY | O_DIRECTORY));
  if (dir.get() >= 0) {
    (void)::fsync(dir.get());
  }
  return {};
}

Result<std::intptr_t, std::string> open_lock_file(const std::string& path) {
  const int fd = open_retrying(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return error_text(errno);
  }
  return std::intptr_t{fd};
}

Result<bool, std::string> try_lock(std::intptr_t handle) {
  while (::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return false;
    }
    if (errno != EINTR) {
      return error_text(errno);
    }
  }
  return true;
}

bool names_file(const std::string& path, std::intptr_t handle) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(static_cast<int>(handle), &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

Result<void, std::string> rewrite(std::intptr_t handle, std::string_view text) {
  const int fd = static_cast<int>(handle);
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    return error_text(errno);
  }
  if (const int error = write_all(fd, text); error != 0) {
    return error_text(error);
  }
  return {};
}

}  // namespace vellumo::files::system

namespace vellumo::files {

Result<void, std::string> rename_replacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    return platform::system_error_text(errno);
  }
  return {};
}

Result<void, std::string> remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    return platform::system_error_text(errno);
  }
  return {};
}

}  // namespace vellumo::files
