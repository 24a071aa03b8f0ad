// system.h on Windows: the W functions, with paths converted from UTF-8.

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "platform/win32.h"
#include "standin_app/system.h"

namespace vellumo::standin::sys {
namespace {

bool write_all(HANDLE file, const char* data, DWORD size) {
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(file, data, size, &put, nullptr) || put == 0) {
      return false;
    }
    data += put;
    size -= put;
  }
  return true;
}

}  // namespace

Result<std::optional<InstanceLock>, std::string> InstanceLock::acquire(const std::string& path) {
  TRY(const std::wstring wide, win32::to_wide(path));
  // Others may read the process ID; nobody may write it or open it for
  // writing while we hold it. The system deletes it when the handle closes,
  // however the process ends.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Held, or being deleted by a holder that is ending.
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
      return std::optional<InstanceLock>();
    }
    return Err{"Cannot open " + path + ": " + win32::error_text(error)};
  }
  InstanceLock lock(win32::as_value(file), path);
  const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
  if (!write_all(file, pid.data(), static_cast<DWORD>(pid.size()))) {
    return Err{"Cannot write " + path + ": " + platform::last_error_text()};
  }
  return std::optional<InstanceLock>(std::move(lock));
}

void InstanceLock::Release::close(std::intptr_t handle) const {
  CloseHandle(win32::as_handle(handle));
}

std::uint64_t process_id() { return GetCurrentProcessId(); }

}  // namespace vellumo::standin::sys
