// files_system.h on Windows: the W functions, with paths converted from
// UTF-8.

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/paths.h"
#include "platform/files_system.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace vellumo::files::system {
namespace {

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
using win32::write_all;

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

// Reads from `file` into `bytes` until the end of the file or `limit`
// bytes.
Result<void, std::string> read_into(HANDLE file, std::string& bytes, std::size_t limit) {
  while (bytes.size() < limit) {
    const std::size_t have = bytes.size();
    const DWORD want = static_cast<DWORD>(std::min(block_after(bytes), limit - have));
    bytes.resize(have + want);
    auto got = read_some(file, bytes.data() + have, want);
    if (!got) {
      bytes.resize(have);
      return std::move(got).error();
    }
    bytes.resize(have + *got);
    if (*got == 0) {
      break;
    }
  }
  return {};
}

bool is_missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The identity of the open `file`, whose information is `info`.
Identity identity(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  const auto join = [](DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
  };
  Identity identity{true, info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
                    join(info.nFileSizeHigh, info.nFileSizeLow),
                    static_cast<std::int64_t>(join(info.ftLastWriteTime.dwHighDateTime,
                                                   info.ftLastWriteTime.dwLowDateTime))};
  // The change time, where the file system keeps one (FAT does not).
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    identity.changed = basic.ChangeTime.QuadPart;
  }
  return identity;
}

// The temporary files being written, for the console control handler,
// which runs on a thread of its own.
struct Temporary {
  std::string path;
  HANDLE handle;
};
std::mutex temporaries_mutex;
std::vector<Temporary> temporaries;
// Held from just before a temporary file is created until it is
// remembered: the handler waits for it, so that it never misses a file
// that is there.
std::mutex creating_mutex;
// The handler is in place while any is remembered or being created. Apart
// from the other locks, and never taken under them: the system may hold
// its own lock of the handlers while ours runs.
std::mutex handler_mutex;
int remembered = 0;

// Marks every temporary file for deletion when its handle closes, as the
// process ends; then lets the next handler (the platform layer's, else the
// system's: the end of the process) have the event.
BOOL WINAPI delete_temporaries(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    const std::lock_guard creating(creating_mutex);
    const std::lock_guard lock(temporaries_mutex);
    for (const Temporary& temporary : temporaries) {
      FILE_DISPOSITION_INFO dispose{TRUE};
      if (temporary.handle != INVALID_HANDLE_VALUE) {
        SetFileInformationByHandle(temporary.handle, FileDispositionInfo, &dispose, sizeof dispose);
      } else if (auto wide = widen(temporary.path)) {
        DeleteFileW(wide->c_str());
      }
    }
  }
  return FALSE;
}

// Whether `sid` is this process's user or the owner it gives new files.
bool is_own_sid(PSID sid) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return false;
  }
  const Handle token(raw);
  for (const TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    GetTokenInformation(token.get(), what, nullptr, 0, &size);
    std::vector<std::byte> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), what, buffer.data(), size, &size)) {
      continue;
    }
    const PSID own = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                       : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    if (EqualSid(own, sid)) {
      return true;
    }
  }
  return false;
}

// The handler in place for one more temporary file, or one being created.
void arm() {
  const std::lock_guard lock(handler_mutex);
  if (remembered++ == 0) {
    SetConsoleCtrlHandler(delete_temporaries, TRUE);
  }
}

// One temporary file fewer for the handler.
void disarm() {
  const std::lock_guard lock(handler_mutex);
  if (--remembered == 0) {
    SetConsoleCtrlHandler(delete_temporaries, FALSE);
  }
}

}  // namespace

void remember_temporary(const Folder& folder, const std::string& name, std::intptr_t handle) {
  {
    const std::lock_guard lock(temporaries_mutex);
    temporaries.push_back({folder.path_of(name), as_handle(handle)});
  }
  arm();
}

void holding_interruptions(const std::function<void()>& work) {
  // Armed first: what remember_temporary does inside then never waits for
  // the system's lock of the handlers while holding ours.
  arm();
  {
    const std::lock_guard creating(creating_mutex);
    work();
  }
  disarm();
}

void forget_temporary(const Folder& folder, const std::string& name) {
  const std::string path = folder.path_of(name);
  {
    const std::lock_guard lock(temporaries_mutex);
    const auto found = std::find_if(temporaries.begin(), temporaries.end(),
                                    [&](const Temporary& t) { return t.path == path; });
    if (found == temporaries.end()) {
      return;
    }
    temporaries.erase(found);
  }
  disarm();
}

Result<Snapshot, std::string> read_snapshot(const Folder& folder, const std::string& name,
                                            std::uint64_t limit, Owner owner) {
  TRY(const std::wstring wide, widen(folder.path_of(name)));
  Snapshot snapshot;
  // A link at the name of a file of our own is no file of ours: replaced,
  // never followed.
  if (owner == Owner::Own) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return snapshot;
    }
  }
  // Folders open too, to be told apart below.
  const Handle file(CreateFileW(
      wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (is_missing(error)) {
      return snapshot;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      snapshot.kind = Snapshot::NotRegular;
      return snapshot;
    }
    return Err{error_text(error)};
  }
  // A pipe or a character device: not a file to read to its end.
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    snapshot.kind = Snapshot::NotRegular;
    return snapshot;
  }
  if (!GetFileInformationByHandle(file.get(), &info)) {
    return Err{last_error_text()};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    snapshot.kind = Snapshot::NotRegular;
    return snapshot;
  }
  snapshot.identity = identity(file.get(), info);
  if (snapshot.identity.size > limit) {
    snapshot.kind = Snapshot::TooLarge;
    return snapshot;
  }
  snapshot.text.reserve(static_cast<std::size_t>(snapshot.identity.size) + 1);
  // One byte past the limit tells a file that grew meanwhile.
  TRY_STATUS(read_into(file.get(), snapshot.text, static_cast<std::size_t>(limit) + 1));
  if (snapshot.text.size() > limit) {
    snapshot.kind = Snapshot::TooLarge;
    snapshot.text.clear();
    return snapshot;
  }
  snapshot.kind = Snapshot::Regular;
  snapshot.read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  snapshot.other_links = info.nNumberOfLinks > 1;
  return snapshot;
}

Result<Identity, std::string> identity_of(const Folder& folder, const std::string& name) {
  TRY(const std::wstring wide, widen(folder.path_of(name)));
  const Handle file(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (is_missing(error)) {
      return Identity{};
    }
    return Err{error_text(error)};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) {
    return Err{last_error_text()};
  }
  return identity(file.get(), info);
}

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
    bytes.reserve(std::min(limit, static_cast<std::size_t>(size.QuadPart) + 1));
  }
  if (auto read = read_into(file.get(), bytes, limit); !read) {
    return Failure{Failure::Other, std::move(read).error()};
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

// The file systems of Windows (NTFS, ReFS, exFAT, FAT's long names) take
// names of up to 255 UTF-16 units.
NameLimit name_limit(const Folder&) { return {255, true}; }

Result<void, Failure> make_folder(const std::string& path, std::uint32_t) {
  auto wide = widen(path);
  if (!wide) {
    return Failure{Failure::Other, std::move(wide).error()};
  }
  if (!CreateDirectoryW(wide->c_str(), nullptr)) {
    return failure(GetLastError());
  }
  return {};
}

Result<void, Failure> make_link(const Folder& folder, const std::string& name,
                                const std::string& target) {
  auto wide_target = win32::to_wide(target);
  auto wide = widen(folder.path_of(name));
  if (!wide || !wide_target) {
    return Failure{Failure::Other, !wide ? wide.error() : wide_target.error()};
  }
  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, which older headers lack.
  constexpr DWORD kUnprivileged = 0x2;
  if (!CreateSymbolicLinkW(wide->c_str(), wide_target->c_str(), kUnprivileged)) {
    return failure(GetLastError());
  }
  return {};
}

Result<void, std::string> rename_in(const Folder& folder, const std::string& from,
                                    const std::string& to) {
  return rename_replacing(folder.path_of(from), folder.path_of(to));
}

Result<void, std::string> remove_in(const Folder& folder, const std::string& name) {
  return remove_file(folder.path_of(name));
}

void remove_owned(const Folder& folder, const std::function<bool(std::string_view)>& matches,
                  bool links) {
  auto wide_folder = widen(folder.path());
  if (!wide_folder) {
    return;
  }
  WIN32_FIND_DATAW found{};
  HANDLE listing = FindFirstFileW((*wide_folder + L"\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) {
    return;
  }
  std::vector<std::wstring> names;
  do {
    if (matches(win32::to_utf8(found.cFileName))) {
      names.emplace_back(found.cFileName);
    }
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
  for (const std::wstring& name : names) {
    // The entry itself, never what a link leads to; checked and deleted
    // through one handle, so that what was checked is what goes.
    const Handle file(CreateFileW(
        (*wide_folder + L"\\" + name).c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (!links && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
      continue;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
      continue;
    }
    const bool ours = owner != nullptr && is_own_sid(owner);
    LocalFree(descriptor);
    if (ours) {
      FILE_DISPOSITION_INFO dispose{TRUE};
      SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
    }
  }
}

namespace {

// The file `path` leads to: the end of its links, when it is one.
Result<std::string, Failure> final_path(const std::string& path) {
  auto wide = widen(path);
  if (!wide) {
    return Failure{Failure::Other, std::move(wide).error()};
  }
  const DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;  // a new file, or no link
  }
  const Handle file(CreateFileW(wide->c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return Failure{Failure::Missing, "it is a link to a file that does not exist"};
    }
    return failure(error);
  }
  std::wstring target(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(file.get(), target.data(), static_cast<DWORD>(target.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      return failure(GetLastError());
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

}  // namespace

// A profile's folders are the user's by their access lists: a place is
// its path, split into the folder and the name.
Result<Place, Failure> locate(const std::string& path, Last last) {
  std::string file = path;
  if (last == Last::Followed) {
    TRY(file, final_path(path));
  }
  const auto folder = parent_folder(file, PathStyle::Windows);
  const auto name = file_name(file, PathStyle::Windows);
  if (!folder || !name) {
    return Failure{Failure::Other, error_text(ERROR_INVALID_NAME)};
  }
  return Place{Folder(-1, *folder), std::string(*name)};
}

Result<Folder, Failure> open_own_folder(const std::string& path, std::uint32_t mode) {
  if (auto made = create_folders(path, mode); !made) {
    return Failure{Failure::Other, std::move(made).error()};
  }
  return Folder(-1, path);
}

Result<NewFile, Failure> NewFile::create(const Folder& folder, std::string name,
                                         const std::string& like) {
  const std::string path = folder.path_of(name);
  auto wide = widen(path);
  auto wide_like = widen(folder.path_of(like));
  if (!wide || !wide_like) {
    return Failure{Failure::Other, !wide ? wide.error() : wide_like.error()};
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  holding_interruptions([&] {
    handle = CreateFileW(wide->c_str(), GENERIC_WRITE | DELETE | WRITE_DAC | READ_CONTROL, 0,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return;
    }
    after_create(path);
    remember_temporary(folder, name, win32::as_value(handle));
  });
  if (handle == INVALID_HANDLE_VALUE) {
    return failure(error);
  }
  NewFile file(win32::as_value(handle), folder, std::move(name));
  if (const DWORD error = take_over(handle, *wide_like); error != 0) {
    return Failure{Failure::Other, error_text(error)};
  }
  return file;
}

void NewFile::Discard::close(std::intptr_t handle) const {
  forget_temporary(*folder, name);
  CloseHandle(as_handle(handle));
  if (auto wide = widen(folder->path_of(name))) {
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
    auto got = read_some(in.get(), buffer.data(), static_cast<DWORD>(kBlock));
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
  TRY_STATUS(injected(ReplaceStep::Flush));
  if (!FlushFileBuffers(as_handle(handle_.get()))) {
    return last_error_text();
  }
  count_sync();
  return {};
}

Result<void, std::string> NewFile::adopt(const std::string&) { return {}; }

Result<void, std::string> NewFile::make_private() { return {}; }

Result<void, std::string> NewFile::commit(const std::string& target) {
  const std::string path = folder().path_of(name());
  forget_temporary(folder(), name());
  const bool closed = CloseHandle(as_handle(handle_.release())) != 0;
  auto renamed = closed ? rename_replacing(path, folder().path_of(target))
                        : Result<void, std::string>(last_error_text());
  if (!renamed) {
    if (auto wide = widen(path)) {
      DeleteFileW(wide->c_str());
    }
  }
  return renamed;
}

Result<std::intptr_t, std::string> open_lock_file(const std::string& path) {
  TRY(const std::wstring wide, widen(path));
  // The entry itself, a link or junction included, which is then refused.
  Handle file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                          nullptr));
  if (!file) {
    return last_error_text();
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) {
    return last_error_text();
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return error_text(ERROR_CANT_RESOLVE_FILENAME);
  }
  return win32::as_value(file.release());
}

Result<std::intptr_t, Failure> open_own_lock_file(const Folder& folder, const std::string& name) {
  auto opened = open_lock_file(folder.path_of(name));
  if (!opened) {
    return Failure{Failure::Other, std::move(opened).error()};
  }
  return *opened;
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
  if (const DWORD error = write_all(file, text); error != 0) {
    return error_text(error);
  }
  return {};
}

}  // namespace vellumo::files::system

namespace vellumo::files {

void starting_threads(const std::function<void()>& work) { work(); }

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

// Windows has no folder of ours that others may change by its mode, and
// no superuser running with another user's profile: who may write is the
// folder's access list, which its owner chose.
std::optional<std::string> other_users_folder(const std::string&) { return std::nullopt; }

Result<void, std::string> remove_file(const std::string& path) {
  TRY(const std::wstring wide, system::widen(path));
  if (!DeleteFileW(wide.c_str())) {
    return platform::last_error_text();
  }
  return {};
}

}  // namespace vellumo::files

namespace vellumo::files {

std::optional<std::string> changeable_by_others(const std::string&) { return std::nullopt; }

void inject_chmod_unsupported(bool) {}

std::vector<std::string> remembered_temporaries() {
  const std::lock_guard lock(system::temporaries_mutex);
  std::vector<std::string> names;
  for (const system::Temporary& temporary : system::temporaries) {
    names.push_back(temporary.path.substr(temporary.path.find_last_of('\\') + 1));
  }
  return names;
}

}  // namespace vellumo::files
