// system.h on Windows: the W functions, with paths converted from UTF-8.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "standin_app/system.h"

namespace vellumo::standin::sys {
namespace {

std::string last_error() { return platform::system_error_text(static_cast<long>(GetLastError())); }

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

Result<std::wstring, std::string> widen(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                       static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) {
    return Err{last_error()};
  }
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      out.data(), size);
  return out;
}

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
  TRY(const std::wstring wide, widen(path));
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
    return Err{"Cannot open " + path + ": " +
               platform::system_error_text(static_cast<long>(error))};
  }
  const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
  if (!write_all(file, pid.data(), static_cast<DWORD>(pid.size()))) {
    std::string error = last_error();
    CloseHandle(file);
    return Err{"Cannot write " + path + ": " + error};
  }
  InstanceLock lock;
  lock.handle_ = reinterpret_cast<std::intptr_t>(file);
  lock.path_ = path;
  return std::optional<InstanceLock>(std::move(lock));
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    release();
    handle_ = std::exchange(other.handle_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

InstanceLock::~InstanceLock() { release(); }

void InstanceLock::release() {
  if (handle_ != -1) {
    CloseHandle(as_handle(handle_));
    handle_ = -1;
  }
}

std::uint64_t process_id() { return GetCurrentProcessId(); }

}  // namespace vellumo::standin::sys
