#pragma once

// What the stand-in app needs from the system beyond the shared platform
// layer. Implemented in system-posix.cpp and system-win32.cpp; errors are
// the system error text.

#include <cstdint>
#include <string>

#include "core/result.h"

namespace vellumo::standin::sys {

/// Makes the existing folder `path` this user's alone, and whatever the
/// process creates from now on too. POSIX: new folders are made 0700 and
/// new files 0600 (umask 077), and the folder is narrowed to 0700 when
/// wider. Windows: nothing to do; the per-user data folder inherits the
/// profile's own access entries.
Result<void, std::string> keep_private(const std::string& path);

std::uint64_t process_id();

}  // namespace vellumo::standin::sys
