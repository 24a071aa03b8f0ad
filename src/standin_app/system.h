#pragma once

// What the stand-in app needs from the system beyond the shared platform
// layer: one instance per data folder. Implemented in system-posix.cpp and system-win32.cpp; errors are
// the system error text.

#include <cstdint>
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

std::uint64_t process_id();

}  // namespace vellumo::standin::sys
