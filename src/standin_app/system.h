#pragma once

// What the stand-in app needs from the system beyond the shared platform
// layer: one instance per data folder, and media files read and copied in
// blocks. Implemented in system-posix.cpp and system-win32.cpp; errors are
// the system error text.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/result.h"

namespace vellumo::standin::sys {

/// Held by the one stand-in app that owns a data folder, from start to
/// exit. The lock file holds the process ID and is gone once the holder
/// has ended (POSIX: removed on release; a holder that crashed leaves a
/// file whose lock is free. Windows: deleted when its handle closes).
class InstanceLock {
 public:
  /// The lock, or nullopt when another process holds it.
  static Result<std::optional<InstanceLock>, std::string> acquire(const std::string& path);

  InstanceLock() = default;
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

 private:
  void release();
  std::intptr_t handle_ = -1;
  std::string path_;
};

struct FileFacts {
  bool exists = false;
  bool folder = false;
  std::uint64_t size = 0;
};

/// What is at `path` (links followed); a missing file is no error.
Result<FileFacts, std::string> inspect(const std::string& path);

/// At most `limit` bytes from the start of the file at `path`.
Result<std::string, std::string> read_head(const std::string& path, std::size_t limit);

/// Copies the file `from` to `to` (created, or truncated) in blocks,
/// asking `keep_going` before each; true when done, false when
/// `keep_going` said stop (the partial copy is left to the caller).
Result<bool, std::string> copy_file(const std::string& from, const std::string& to,
                                    const std::function<bool()>& keep_going);

std::uint64_t process_id();

}  // namespace vellumo::standin::sys
