// files_system.h on Windows: the W functions, with paths converted from
// UTF-8.

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/files_system.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace vellumo::files::system {
namespace {

constexpr DWORD kBlock = DWORD{1} << 20;

// FileRenameInfoEx and FILE_RENAME_FLAG_* may be hidden by the headers'
// target version; their values are fixed by the Windows API.
constexpr DWORD kRenameReplaceIfExists = 0x00000001;
constexpr DWORD kRenamePosixSemantics = 0x00000002;
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
static_assert(FileIdExtdDirectoryRestartInfo == 20, "FILE_INFO_BY_HANDLE_CLASS numbering");

// The attributes a replacement takes over. Not read-only: the temporary
// file must stay ours to write, rename and delete.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

using platform::last_error_text;
using win32::as_handle;
using win32::error_text;
using win32::Handle;

Failure failure(DWORD code) {
  const auto kind = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? Failure::Missing
                    : code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS  ? Failure::Exists
                                                                                 : Failure::Other;
  return {kind, error_text(code)};
}

// Paths this long or longer get the \\?\ form, which lifts the MAX_PATH
// limit (CreateDirectoryW's own limit is the lowest, 248).
constexpr std::size_t kLongPath = 248;

// `path` as UTF-16 for the W functions, or the error text when it is not
// valid UTF-8. A long path is made absolute and given the \\?\ (or
// \\?\UNC\) prefix.
Result<std::wstring, std::string> widen(const std::string& path) {
  TRY(std::wstring out, win32::to_wide(path));
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

HANDLE open_for_reading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// Reads up to `size` bytes; the end of a pipe is the end of the data.
Result<DWORD, std::string> read_some(HANDLE file, char* buffer, DWORD size) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, size, &got, nullptr)) {
    const DWORD code = GetLastError();
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) {
      return DWORD{0};
    }
    return error_text(code);
  }
  return got;
}

// 0, or the error code of the failed write.
DWORD write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000u));
    DWORD put = 0;
    if (!WriteFile(file, bytes.data(), chunk, &put, nullptr)) {
      return GetLastError();
    }
    if (put == 0) {
      return ERROR_WRITE_FAULT;
    }
    bytes.remove_prefix(put);
  }
  return 0;
}

// Gives `file` the attributes of `like`, and its access list when that has
// entries of its own rather than only inherited ones; a new file keeps the
// folder's. 0, or the error code.
DWORD take_over(HANDLE file, const std::wstring& like) {
  Handle original(CreateFileW(like.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!original) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
  }
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(original.get(), FileBasicInfo, &basic, sizeof basic)) {
    return GetLastError();
  }
  if ((basic.FileAttributes & kKeptAttributes) != 0) {
    FILE_BASIC_INFO kept{};  // times 0: left as they are
    kept.FileAttributes = basic.FileAttributes & kKeptAttributes;
    if (!SetFileInformationByHandle(file, FileBasicInfo, &kept, sizeof kept)) {
      return GetLastError();
    }
  }
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(original.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return 0;  // nothing known to keep
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  const bool is_protected = (control & SE_DACL_PROTECTED) != 0;
  bool own_entries = is_protected;
  if (dacl != nullptr) {
    for (DWORD i = 0; i < dacl->AceCount && !own_entries; ++i) {
      void* entry = nullptr;
      if (GetAce(dacl, i, &entry) &&
          (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0) {
        own_entries = true;
      }
    }
  }
  DWORD result = 0;
  if (own_entries) {
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | (is_protected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                  : UNPROTECTED_DACL_SECURITY_INFORMATION);
    result = SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
  return result;
}

// The fallback of rename_replacing: open `from` and rename it through
// SetFileInformationByHandle with FileRenameInfoEx. 0 on success, else the
// error code.
DWORD rename_by_handle(const std::wstring& from, const std::wstring& to) {
  Handle file(CreateFileW(
      from.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    return GetLastError();
  }
  const std::size_t name_bytes = to.size() * sizeof(wchar_t);
  std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + name_bytes +
                                sizeof(wchar_t));
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

Result<std::string, Failure> read_bytes(const std::string& path, std::size_t limit) {
  auto wide = widen(path);
  if (!wide) {
    return Failure{Failure::Other, std::move(wide).error()};
  }
  const Handle file(open_for_reading(*wide));
  if (!file) {
    return failure(GetLastError());
  }
  std::string bytes;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
    bytes.reserve(std::min(limit, static_cast<std::size_t>(size.QuadPart)));
  }
  while (bytes.size() < limit) {
    const std::size_t have = bytes.size();
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(kBlock, limit - have));
    bytes.resize(have + want);
    auto got = read_some(file.get(), bytes.data() + have, want);
    if (!got) {
      return Failure{Failure::Other, std::move(got).error()};
    }
    bytes.resize(have + *got);
    if (*got == 0) {
      break;
    }
  }
  return bytes;
}

Result<FileFacts, std::string> inspect(const std::string& path) {
  TRY(const std::wstring wide, widen(path));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return FileFacts{};
    }
    return error_text(error);
  }
  const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::uint64_t size =
      (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return FileFacts{true, folder, size};
}

Result<void, Failure> make_folder(const std::string& path) {
  auto wide = widen(path);
  if (!wide) {
    return Failure{Failure::Other, std::move(wide).error()};
  }
  if (!CreateDirectoryW(wide->c_str(), nullptr)) {
    return failure(GetLastError());
  }
  return {};
}

Result<std::string, std::string> final_path(const std::string& path) {
  TRY(const std::wstring wide, widen(path));
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;  // a new file, or no link
  }
  const Handle file(CreateFileW(wide.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return Err{std::string("it is a link to a file that does not exist")};
    }
    return Err{error_text(error)};
  }
  std::wstring target(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(file.get(), target.data(), static_cast<DWORD>(target.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      return Err{last_error_text()};
    }
    if (length < target.size()) {
      target.resize(length);
      break;
    }
    target.resize(length);
  }
  if (target.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    target = L"\\\\" + target.substr(8);
  } else if (target.rfind(L"\\\\?\\", 0) == 0) {
    target = target.substr(4);
  }
  return win32::to_utf8(target);
}

Result<NewFile, Failure> NewFile::create(const std::string& path, const std::string& like) {
  auto wide = widen(path);
  auto wide_like = widen(like);
  if (!wide || !wide_like) {
    return Failure{Failure::Other, !wide ? wide.error() : wide_like.error()};
  }
  HANDLE handle = CreateFileW(wide->c_str(), GENERIC_WRITE | DELETE | WRITE_DAC | READ_CONTROL, 0,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return failure(GetLastError());
  }
  NewFile file(win32::as_value(handle), path);
  if (const DWORD error = take_over(handle, *wide_like); error != 0) {
    return Failure{Failure::Other, error_text(error)};
  }
  return file;
}

void NewFile::Discard::close(std::intptr_t handle) const {
  CloseHandle(as_handle(handle));
  if (auto wide = widen(path)) {
    DeleteFileW(wide->c_str());
  }
}

Result<void, std::string> NewFile::write(std::string_view bytes) {
  if (const DWORD error = write_all(as_handle(handle_.get()), bytes); error != 0) {
    return error_text(error);
  }
  return {};
}

Result<bool, CopyFailure> NewFile::append_file(const std::string& from,
                                               const std::function<bool()>& keep_going) {
  auto wide = widen(from);
  if (!wide) {
    return CopyFailure{true, std::move(wide).error()};
  }
  const Handle in(open_for_reading(*wide));
  if (!in) {
    return CopyFailure{true, last_error_text()};
  }
  std::string buffer(kBlock, '\0');
  for (;;) {
    if (!keep_going()) {
      return false;
    }
    auto got = read_some(in.get(), buffer.data(), kBlock);
    if (!got) {
      return CopyFailure{true, std::move(got).error()};
    }
    if (*got == 0) {
      return true;
    }
    const DWORD error = write_all(as_handle(handle_.get()), {buffer.data(), *got});
    if (error != 0) {
      return CopyFailure{false, error_text(error)};
    }
  }
}

Result<void, std::string> NewFile::flush() {
  if (!FlushFileBuffers(as_handle(handle_.get()))) {
    return last_error_text();
  }
  return {};
}

Result<void, std::string> NewFile::commit(const std::string& target) {
  const bool closed = CloseHandle(as_handle(handle_.release())) != 0;
  auto renamed =
      closed ? rename_replacing(path(), target) : Result<void, std::string>(last_error_text());
  if (!renamed) {
    if (auto wide = widen(path())) {
      DeleteFileW(wide->c_str());
    }
  }
  return renamed;
}

Result<std::intptr_t, std::string> open_lock_file(const std::string& path) {
  TRY(const std::wstring wide, widen(path));
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return last_error_text();
  }
  return win32::as_value(file);
}

Result<bool, std::string> try_lock(std::intptr_t handle) {
  OVERLAPPED at{};
  if (LockFileEx(as_handle(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &at)) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
    return false;
  }
  return error_text(error);
}

bool names_file(const std::string& path, std::intptr_t handle) {
  auto wide = widen(path);
  if (!wide) {
    return false;
  }
  // A file being deleted cannot be opened: it is no longer the lock file.
  const Handle named(CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION ours{};
  BY_HANDLE_FILE_INFORMATION theirs{};
  return named && GetFileInformationByHandle(as_handle(handle), &ours) &&
         GetFileInformationByHandle(named.get(), &theirs) &&
         ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
         ours.nFileIndexHigh == theirs.nFileIndexHigh && ours.nFileIndexLow == theirs.nFileIndexLow;
}

Result<void, std::string> rewrite(std::intptr_t handle, std::string_view text) {
  HANDLE file = as_handle(handle);
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    return last_error_text();
  }
  while (!text.empty()) {
    DWORD put = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(text.size(), kBlock));
    if (!WriteFile(file, text.data(), size, &put, nullptr) || put == 0) {
      return last_error_text();
    }
    text.remove_prefix(put);
  }
  return {};
}

}  // namespace vellumo::files::system

namespace vellumo::files {

Result<void, std::string> rename_replacing(const std::string& from, const std::string& to) {
  TRY(const std::wstring wide_from, system::widen(from));
  TRY(const std::wstring wide_to, system::widen(to));
  if (MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return {};
  }
  const DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED) {
    return win32::error_text(error);
  }
  const DWORD fallback = system::rename_by_handle(wide_from, wide_to);
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
      return win32::error_text(error);
    default:
      return win32::error_text(fallback);
  }
}

Result<void, std::string> remove_file(const std::string& path) {
  TRY(const std::wstring wide, system::widen(path));
  if (!DeleteFileW(wide.c_str())) {
    return platform::last_error_text();
  }
  return {};
}

}  // namespace vellumo::files
