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

constexpr DWORD kBlock = DWORD{1} << 20;

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

HANDLE open_for_reading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
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

Result<FileFacts, std::string> inspect(const std::string& path) {
  TRY(const std::wstring wide, widen(path));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return FileFacts{};
    }
    return Err{platform::system_error_text(static_cast<long>(error))};
  }
  const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::uint64_t size =
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return FileFacts{true, folder, size};
}

Result<std::string, std::string> read_head(const std::string& path, std::size_t limit) {
  TRY(const std::wstring wide, widen(path));
  HANDLE file = open_for_reading(wide);
  if (file == INVALID_HANDLE_VALUE) {
    return Err{last_error()};
  }
  std::string bytes(limit, '\0');
  std::size_t have = 0;
  while (have < limit) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(limit - have, kBlock));
    if (!ReadFile(file, bytes.data() + have, want, &got, nullptr)) {
      std::string error = last_error();
      CloseHandle(file);
      return Err{std::move(error)};
    }
    if (got == 0) {
      break;
    }
    have += got;
  }
  CloseHandle(file);
  bytes.resize(have);
  return bytes;
}

Result<bool, std::string> copy_file(const std::string& from, const std::string& to,
                                    const std::function<bool()>& keep_going) {
  TRY(const std::wstring wide_from, widen(from));
  TRY(const std::wstring wide_to, widen(to));
  HANDLE in = open_for_reading(wide_from);
  if (in == INVALID_HANDLE_VALUE) {
    return Err{"Cannot read " + from + ": " + last_error()};
  }
  HANDLE out = CreateFileW(wide_to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    std::string error = last_error();
    CloseHandle(in);
    return Err{"Cannot write " + to + ": " + error};
  }
  std::string buffer(kBlock, '\0');
  Result<bool, std::string> outcome = true;
  for (;;) {
    if (!keep_going()) {
      outcome = false;
      break;
    }
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), kBlock, &got, nullptr)) {
      outcome = Err{"Cannot read " + from + ": " + last_error()};
      break;
    }
    if (got == 0) {
      break;
    }
    if (!write_all(out, buffer.data(), got)) {
      outcome = Err{"Cannot write " + to + ": " + last_error()};
      break;
    }
  }
  CloseHandle(in);
  if (!CloseHandle(out) && outcome && *outcome) {
    outcome = Err{"Cannot write " + to + ": " + last_error()};
  }
  return outcome;
}

std::uint64_t process_id() { return GetCurrentProcessId(); }

}  // namespace vellumo::standin::sys
