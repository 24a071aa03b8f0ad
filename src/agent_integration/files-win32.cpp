// files.h on Windows: the W functions, with paths converted from UTF-8.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "agent_integration/files.h"
#include "platform/platform.h"

namespace vellumo::agents::files {
namespace {

// FileRenameInfoEx and FILE_RENAME_FLAG_* may be hidden by the headers'
// target version; their values are fixed by the Windows API.
constexpr DWORD kRenameReplaceIfExists = 0x00000001;
constexpr DWORD kRenamePosixSemantics = 0x00000002;
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
static_assert(FileIdExtdDirectoryRestartInfo == 20, "FILE_INFO_BY_HANDLE_CLASS numbering");

std::string last_error() { return platform::system_error_text(static_cast<long>(GetLastError())); }

// Paths this long or longer get the \\?\ form, which lifts the MAX_PATH
// limit (CreateDirectoryW's own limit is the lowest, 248).
constexpr std::size_t kLongPath = 248;

// `path` as UTF-16 for the W functions, or the error text when it is not
// valid UTF-8. A long path is made absolute and given the \\?\ (or
// \\?\UNC\) prefix.
Result<std::wstring, std::string> widen(const std::string& path) {
  if (path.empty()) {
    return std::wstring();
  }
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                       static_cast<int>(path.size()), nullptr, 0);
  if (size <= 0) {
    return last_error();
  }
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                      out.data(), size);
  if (out.size() < kLongPath || out.rfind(L"\\\\?\\", 0) == 0) {
    return out;
  }
  const DWORD needed = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return out;
  }
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(out.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) {
    return out;
  }
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) {
    if (full.rfind(L"\\\\.\\", 0) == 0 || full.rfind(L"\\\\?\\", 0) == 0) {
      return full;  // a device path, or prefixed already
    }
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

DWORD attributes(const std::string& path) {
  auto wide = widen(path);
  if (!wide) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return GetFileAttributesW(wide->c_str());
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (ok()) {
      CloseHandle(h_);
    }
  }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  // Closes now; false (GetLastError set) when CloseHandle fails.
  bool close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

// The fallback of rename_replacing: open `from` and rename it through
// SetFileInformationByHandle with FileRenameInfoEx. 0 on success, else the
// error code.
DWORD rename_by_handle(const std::wstring& from, const std::wstring& to) {
  Handle file(CreateFileW(from.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.ok()) {
    return GetLastError();
  }
  const std::size_t name_bytes = to.size() * sizeof(wchar_t);
  std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  // The first member is a union of ReplaceIfExists and, for
  // FileRenameInfoEx, the DWORD Flags.
  const DWORD flags = kRenameReplaceIfExists | kRenamePosixSemantics;
  std::memcpy(buffer.data(), &flags, sizeof flags);
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, to.c_str(), name_bytes + sizeof(wchar_t));
  if (!SetFileInformationByHandle(file.get(), kFileRenameInfoEx, info,
                                  static_cast<DWORD>(buffer.size()))) {
    return GetLastError();
  }
  return 0;
}

}  // namespace



Result<std::optional<std::string>, std::string> read_whole_file(const std::string& path) {
  auto wide = widen(path);
  if (!wide) {
    return std::move(wide).error();
  }
  Handle file(CreateFileW(wide->c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return std::optional<std::string>();
    }
    return platform::system_error_text(static_cast<long>(error));
  }
  std::string bytes;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return last_error();
    }
    if (got == 0) {
      break;
    }
    bytes.append(buffer.data(), got);
  }
  return std::optional<std::string>(std::move(bytes));
}

bool is_directory(const std::string& path) {
  const DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_regular_file(const std::string& path) {
  const DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
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
  auto wide = widen(path);
  if (!wide) {
    return std::move(wide).error();
  }
  if (!CreateDirectoryW(wide->c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (is_directory(path)) {
      return {};
    }
    return platform::system_error_text(static_cast<long>(error));
  }
  return {};
}

Result<void, std::string> write_whole_file(const std::string& path, std::string_view bytes) {
  auto wide = widen(path);
  if (!wide) {
    return std::move(wide).error();
  }
  Handle file(CreateFileW(wide->c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    return last_error();
  }
  // One WriteFile for the whole text (up to the DWORD limit per call).
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD put = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &put, nullptr)) {
      return last_error();
    }
    if (put == 0) {
      return platform::system_error_text(ERROR_WRITE_FAULT);
    }
    bytes.remove_prefix(put);
  }
  if (!file.close()) {
    return last_error();
  }
  return {};
}

Result<void, std::string> rename_replacing(const std::string& from, const std::string& to) {
  auto wide_from = widen(from);
  if (!wide_from) {
    return std::move(wide_from).error();
  }
  auto wide_to = widen(to);
  if (!wide_to) {
    return std::move(wide_to).error();
  }
  if (MoveFileExW(wide_from->c_str(), wide_to->c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return {};
  }
  const DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED) {
    return platform::system_error_text(static_cast<long>(error));
  }
  const DWORD fallback = rename_by_handle(*wide_from, *wide_to);
  if (fallback == 0) {
    return {};
  }
  // The fallback failed too. Its own error says more, unless it only says
  // that the call is not available here or that a folder is in the way.
  switch (fallback) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_DIRECTORY:
      return platform::system_error_text(static_cast<long>(error));
    default:
      return platform::system_error_text(static_cast<long>(fallback));
  }
}

Result<void, std::string> remove_file(const std::string& path) {
  auto wide = widen(path);
  if (!wide) {
    return std::move(wide).error();
  }
  if (!DeleteFileW(wide->c_str())) {
    return last_error();
  }
  return {};
}

}  // namespace vellumo::agents::files
