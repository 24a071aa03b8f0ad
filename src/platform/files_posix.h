#pragma once

// What the two POSIX halves of the file layer (files-posix.cpp and
// walk-posix.cpp) share. Not for use outside them.

#include <cerrno>
#include <string>

#include "platform/files_system.h"
#include "platform/platform.h"

namespace vellumo::files::system {

inline std::string error_text(int code) { return platform::system_error_text(code); }

/// The failure of a call that set errno to `code`.
inline Failure failure(int code) {
  return {code == ENOENT   ? Failure::Missing
          : code == EEXIST ? Failure::Exists
                           : Failure::Other,
          error_text(code)};
}

/// The descriptor of a folder held open.
inline int folder_fd(const Folder& folder) { return static_cast<int>(folder.handle()); }

}  // namespace vellumo::files::system
