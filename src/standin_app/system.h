#pragma once

// What the stand-in app needs from the system beyond the shared platform
// layer: one instance per data folder. Implemented in system-posix.cpp and system-win32.cpp; errors
// are the system error text.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/result.h"
#include "platform/handle.h"

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

 private:
  /// Closes the lock file; POSIX removes it first, while it is still
  /// locked, so that no one else locks a file on its way out.
  struct Release {
    static constexpr std::intptr_t invalid = -1;
    std::string path;
    void close(std::intptr_t handle) const;
  };

  InstanceLock(std::intptr_t handle, std::string path)
      : handle_(handle, Release{std::move(path)}) {}

  platform::UniqueHandle<Release> handle_;
};

std::uint64_t process_id();

}  // namespace vellumo::standin::sys
