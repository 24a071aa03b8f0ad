// The Windows platform layer. Texts are UTF-8 everywhere else; they become
// UTF-16 only at the calls below.

#include <windows.h>

#include <sddl.h>

#include <vector>

#include "core/link_trust.h"
#include "core/split_command_line.h"
#include "core/text.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace vellumo::platform {

// How the link is opened: the server may learn who we are but may not
// impersonate us.
extern const DWORD kLinkOpenFlags;
const DWORD kLinkOpenFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

const PathStyle kPathStyle = PathStyle::Windows;
constinit const std::string_view kAppExecutableNames[2] = {"Vellumo.exe", "vellumo.exe"};

namespace {

// Creation flags of the app: no console of ours, its own process group,
// and out of any job we are in (so closing our job does not end it).
constexpr DWORD kDetachedFlags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
constexpr DWORD kBreakawayFlag = CREATE_BREAKAWAY_FROM_JOB;

using win32::as_handle;

// Writes all of `bytes` to a standard handle. Returns ERROR_SUCCESS, or the
// system error code of the write that failed.
DWORD write_handle(DWORD which, std::string_view bytes) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return ERROR_INVALID_HANDLE;
  }
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    // A console shows UTF-16; the bytes we hold are UTF-8.
    auto text = win32::to_wide(bytes);
    if (!text) {
      return ERROR_NO_UNICODE_TRANSLATION;
    }
    // Not WriteFile, nor its block: a console call shares a buffer of
    // 64 KiB with the console host on older Windows and fails with
    // ERROR_NOT_ENOUGH_MEMORY past it, so 16384 UTF-16 units at a time.
    const wchar_t* data = text->data();
    std::size_t left = text->size();
    while (left > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 16384));
      if (!::WriteConsoleW(handle, data, chunk, &written, nullptr)) {
        return ::GetLastError();
      }
      if (written == 0) {
        return ERROR_WRITE_FAULT;
      }
      data += written;
      left -= written;
    }
    return ERROR_SUCCESS;
  }
  return win32::write_all(handle, bytes);
}

// The user (SID in string form) and integrity level of a process.
Result<ProcessIdentity, std::string> process_identity(DWORD pid) {
  const win32::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    return Err{last_error_text()};
  }
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process.get(), TOKEN_QUERY, &token)) {
    return Err{last_error_text()};
  }
  const win32::Handle token_owner(token);

  const auto query = [&](TOKEN_INFORMATION_CLASS what) -> std::vector<BYTE> {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, what, buffer.data(), size, &size)) {
      return {};
    }
    return buffer;
  };

  ProcessIdentity identity;
  const std::vector<BYTE> user = query(TokenUser);
  if (user.empty()) {
    return Err{last_error_text()};
  }
  wchar_t* sid_text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                                &sid_text)) {
    return Err{last_error_text()};
  }
  identity.user = win32::to_utf8(sid_text);
  ::LocalFree(sid_text);

  const std::vector<BYTE> label = query(TokenIntegrityLevel);
  if (!label.empty()) {
    PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    const UCHAR count = *::GetSidSubAuthorityCount(sid);
    if (count > 0) {
      identity.integrity = *::GetSidSubAuthority(sid, count - 1);
    }
  }
  return identity;
}

}  // namespace

std::string system_error_text(long code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) {
    std::size_t end = length;
    while (end > 0 &&
           (buffer[end - 1] == L'\r' || buffer[end - 1] == L'\n' || buffer[end - 1] == L' ')) {
      --end;
    }
    text = win32::to_utf8({buffer, end});
  }
  if (buffer != nullptr) {
    ::LocalFree(buffer);
  }
  if (text.empty()) {
    text = "Unknown error";
  }
  return text + " (os error " + std::to_string(code) + ")";
}

std::string last_error_text() { return system_error_text(static_cast<long>(::GetLastError())); }

namespace {

// Ends the process on Ctrl+C or Ctrl+Break with STATUS_CONTROL_C_EXIT, as
// the system's own handler does on Windows. Wine's ends it with 0, which a
// script would take for a success. Handlers added later (the file layer's
// cleanup of its temporary files) run before this one.
BOOL WINAPI end_interrupted(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    // Nothing is left to flush (the output is written unbuffered), and the
    // main thread may hold any lock of the runtime now.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  }
  return FALSE;
}

}  // namespace

void init_standard_streams() {
  // Output goes through WriteFile/WriteConsoleW on the raw handles, so the
  // C runtime's text mode never gets to add carriage returns.
  SetConsoleCtrlHandler(end_interrupted, TRUE);
}

Result<void, OutputError> write_stdout(std::string_view bytes) {
  const DWORD code = write_handle(STD_OUTPUT_HANDLE, bytes);
  if (code == ERROR_SUCCESS) {
    return {};
  }
  // A pipe whose reader has gone: ERROR_NO_DATA while it is being closed,
  // ERROR_BROKEN_PIPE once it is, ERROR_PIPE_NOT_CONNECTED under Wine.
  const bool reader_gone =
      code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
  return OutputError{reader_gone, system_error_text(static_cast<long>(code))};
}

bool write_stderr(std::string_view bytes) {
  return write_handle(STD_ERROR_HANDLE, bytes) == ERROR_SUCCESS;
}

Result<std::size_t, std::string> read_stdin(char* buffer, std::size_t size) {
  HANDLE handle = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (size >= 8 && ::GetConsoleMode(handle, &mode)) {
    // A console hands out its own code page through ReadFile; ask it for
    // UTF-16 instead and pass the text on as UTF-8 (at most 3 bytes a unit).
    std::wstring text(std::min<std::size_t>(size / 3, 1 << 20), L'\0');
    DWORD got = 0;
    if (!::ReadConsoleW(handle, text.data(), static_cast<DWORD>(text.size() - 1), &got, nullptr)) {
      return last_error_text();
    }
    text.resize(got);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
      // Keep a surrogate pair together.
      wchar_t low = 0;
      DWORD more = 0;
      if (::ReadConsoleW(handle, &low, 1, &more, nullptr) && more == 1) {
        text += low;
      }
    }
    if (!text.empty() && text.front() == 0x1A) {
      return std::size_t{0};  // Ctrl+Z: the typed end of input
    }
    const std::string utf8 = win32::to_utf8(text);
    std::copy(utf8.begin(), utf8.end(), buffer);
    return utf8.size();
  }
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 30));
  if (!::ReadFile(handle, buffer, chunk, &got, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
      return std::size_t{0};
    }
    return system_error_text(static_cast<long>(error));
  }
  return static_cast<std::size_t>(got);
}

Result<std::string, std::string> current_directory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    if (n == 0) {
      return Err{last_error_text()};
    }
    if (n < path.size()) {
      return win32::to_utf8({path.data(), n});
    }
    path.resize(n);
  }
}

Result<std::vector<std::string>, std::string> command_words(int, char**) {
  const wchar_t* line = ::GetCommandLineW();
  auto text = win32::to_utf8_exact(line);
  if (!text) {
    return std::string("The command line is not valid Unicode.");
  }
  return split_windows_command_line(*text);
}

std::optional<std::string> get_env(const char* name) {
  const auto wname = win32::to_wide(name);
  if (!wname) {
    return std::nullopt;  // no variable can have that name
  }
  std::wstring value(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n =
        ::GetEnvironmentVariableW(wname->c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
      }
      return std::string();
    }
    if (n < value.size()) {
      return win32::to_utf8_exact({value.data(), n});
    }
    value.resize(n);
  }
}

Result<std::string, std::string> executable_path() {
  auto name = executable_name();
  if (!name) {
    return name;
  }
  return lossy_utf8(*name);
}

Result<std::string, std::string> executable_name() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      return Err{last_error_text()};
    }
    if (n < path.size()) {
      return win32::to_utf8_marked(std::wstring_view(path.data(), n));
    }
    path.resize(path.size() * 2);
  }
}

std::string link_path(std::string_view tag) {
  return "\\\\.\\pipe\\Vellumo-cli-" + std::string(tag);
}

void SystemHandle::close(std::intptr_t handle) { ::CloseHandle(as_handle(handle)); }

Result<void, std::string> LinkStream::write_all(std::string_view bytes) {
  if (const DWORD code = win32::write_all(as_handle(handle_.get()), bytes); code != 0) {
    return system_error_text(static_cast<long>(code));
  }
  return {};
}

Result<std::size_t, std::string> LinkStream::read(char* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 30));
  if (!::ReadFile(as_handle(handle_.get()), buffer, chunk, &got, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
      return std::size_t{0};  // the other end closed: the stream has ended
    }
    return system_error_text(static_cast<long>(error));
  }
  return static_cast<std::size_t>(got);
}

Result<LinkStream, LinkOpenError> open_link(const std::string& path) {
  const auto name = win32::to_wide(path);
  if (!name) {
    return LinkOpenError{LinkOpenFailure::Unreachable, name.error()};
  }
  // The server may identify us, but not act as us.
  HANDLE pipe = ::CreateFileW(name->c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, kLinkOpenFlags, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return LinkOpenError{
        error == ERROR_PIPE_BUSY ? LinkOpenFailure::Busy : LinkOpenFailure::Unreachable,
        system_error_text(static_cast<long>(error))};
  }
  LinkStream stream(win32::as_value(pipe));

  // Nothing is written before we know the server is one of ours.
  ULONG server_pid = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &server_pid)) {
    return LinkOpenError{LinkOpenFailure::Untrusted,
                         "the serving process cannot be identified: " + last_error_text()};
  }
  auto server = process_identity(server_pid);
  if (!server) {
    return LinkOpenError{LinkOpenFailure::Untrusted,
                         "the serving process cannot be inspected: " + server.error()};
  }
  auto self = process_identity(::GetCurrentProcessId());
  if (!self) {
    return LinkOpenError{LinkOpenFailure::Untrusted,
                         "our own identity cannot be read: " + self.error()};
  }
  if (auto reason = distrust_reason(*server, *self)) {
    return LinkOpenError{LinkOpenFailure::Untrusted, std::move(*reason)};
  }
  return stream;
}

void DetachedChild::Release::close(std::intptr_t handle) { ::CloseHandle(as_handle(handle)); }

std::optional<bool> DetachedChild::has_ended() {
  if (!handle_) {
    return std::nullopt;
  }
  switch (::WaitForSingleObject(as_handle(handle_.get()), 0)) {
    case WAIT_OBJECT_0:
      return true;
    case WAIT_TIMEOUT:
      return false;
    default:
      return std::nullopt;
  }
}

Result<DetachedChild, std::string> launch_detached(const std::string& program,
                                                   const std::string& argument) {
  TRY(const std::wstring wide_program, win32::to_wide(program));
  TRY(const std::wstring wide_argument, win32::to_wide(argument));
  // Our own standard handles must not reach the app: a caller reading our
  // output through a pipe would otherwise wait for the app to exit too.
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE handle = ::GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
  }
  const win32::Handle null_device = win32::open_null_device();

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device.get();
  startup.hStdOutput = null_device.get();
  startup.hStdError = null_device.get();

  std::wstring command_line = L"\"" + wide_program + L"\" " + wide_argument;
  PROCESS_INFORMATION process{};
  DWORD error = ERROR_SUCCESS;
  for (DWORD flags : {kDetachedFlags | kBreakawayFlag, kDetachedFlags}) {
    // The full path as the program, not only in the command line: no
    // search may pick up another program of a similar name.
    if (::CreateProcessW(wide_program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                         flags | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                         &process)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = ::GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    return system_error_text(static_cast<long>(error));
  }
  ::CloseHandle(process.hThread);
  return DetachedChild(win32::as_value(process.hProcess));
}

}  // namespace vellumo::platform
