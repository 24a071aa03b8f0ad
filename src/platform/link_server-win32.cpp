#include <windows.h>

#include <utility>

#include "platform/link_server.h"
#include "platform/win32.h"

namespace vellumo::platform {
namespace {

using win32::as_handle;
using win32::as_value;

std::string failure(const std::string& what) { return what + ": " + last_error_text(); }

Result<std::wstring, std::string> pipe_name(const std::string& path) {
  auto name = win32::to_wide(path);
  if (!name) {
    return "Not valid UTF-8: " + path + ": " + name.error();
  }
  return name;
}

HANDLE create_instance(const std::wstring& name, bool first, DWORD max_instances,
                       DWORD buffer_size) {
  DWORD open_mode = PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  return CreateNamedPipeW(
      name.c_str(), open_mode,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, max_instances,
      buffer_size, buffer_size, 0, nullptr);
}

}  // namespace

Result<LinkServer, std::string> LinkServer::listen(const std::string& path,
                                                   LinkServerOptions options) {
  TRY(const std::wstring name, pipe_name(path));
  LinkServer server;
  server.path_ = path;
  server.options_ = options;
  // FILE_FLAG_FIRST_PIPE_INSTANCE refuses a second server, but Wine ignores
  // the flag; asking whether the pipe exists covers that case.
  if (WaitNamedPipeW(name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    return std::string(path + " is served by another process");
  }
  const bool busy = options.mode == LinkServerMode::Busy;
  HANDLE instance =
      create_instance(name, true, busy ? 1 : PIPE_UNLIMITED_INSTANCES, options.buffer_size);
  if (instance == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_PIPE_BUSY) {
      return std::string(path + " is served by another process");
    }
    return failure("Cannot create " + path);
  }
  server.listener_.reset(as_value(instance));

  // Busy: the only instance the pipe may have is taken by our own client, so
  // every other client gets ERROR_PIPE_BUSY.
  if (busy) {
    HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
      return failure("Cannot occupy " + path);
    }
    server.held_.reset(as_value(client));
  }
  return server;
}

void LinkServer::Listener::close(std::intptr_t handle) const { CloseHandle(as_handle(handle)); }

Result<LinkStream, std::string> LinkServer::accept() {
  if (options_.mode == LinkServerMode::Busy) {
    return std::string("The link is not accepting connections");
  }
  if (!listener_) {
    return error_.empty() ? std::string("The link is closed") : error_;
  }
  // A client that came and went before we looked (ERROR_NO_DATA) is handed
  // over too, as a connection already at its end: every client that opened
  // the link reaches the caller, as on POSIX, so a connection made only to
  // wake the caller always does.
  HANDLE instance = as_handle(listener_.get());
  if (!ConnectNamedPipe(instance, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED &&
      GetLastError() != ERROR_NO_DATA) {
    return failure("Cannot accept a connection on " + path_);
  }

  // The next instance exists before this one is handed over, so a client
  // never finds the pipe missing, at worst busy for a moment.
  LinkStream connected(listener_.release());
  auto name = pipe_name(path_);
  HANDLE next = name ? create_instance(*name, false, PIPE_UNLIMITED_INSTANCES, options_.buffer_size)
                     : INVALID_HANDLE_VALUE;
  if (next == INVALID_HANDLE_VALUE) {
    error_ = failure("Cannot create another instance of " + path_);
  } else {
    listener_.reset(as_value(next));
  }
  return connected;
}

void finish(LinkStream stream) {
  // Closing a pipe discards what the client has not read yet; wait until it
  // has read everything.
  if (stream.native_handle() != -1) {
    FlushFileBuffers(as_handle(stream.native_handle()));
  }
}

}  // namespace vellumo::platform
