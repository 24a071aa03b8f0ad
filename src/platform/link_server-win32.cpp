#include "platform/link_server.h"

#include <utility>

#include <windows.h>

namespace vellumo::platform {
namespace {

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t as_value(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

std::string failure(const std::string& what) { return what + ": " + last_error_text(); }

Result<std::wstring, std::string> wide(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                 static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) {
    return failure("Not valid UTF-8: " + text);
  }
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      out.data(), size);
  return out;
}

HANDLE create_instance(const std::wstring& name, bool first, DWORD max_instances,
                       DWORD buffer_size) {
  DWORD open_mode = PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  return CreateNamedPipeW(name.c_str(), open_mode,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                              PIPE_REJECT_REMOTE_CLIENTS,
                          max_instances, buffer_size, buffer_size, 0, nullptr);
}

}  // namespace

Result<LinkServer, std::string> LinkServer::listen(const std::string& path, LinkServerOptions options) {
  TRY(const std::wstring name, wide(path));
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
  server.listener_ = as_value(instance);

  // Busy: the only instance the pipe may have is taken by our own client, so
  // every other client gets ERROR_PIPE_BUSY.
  if (busy) {
    HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
      return failure("Cannot occupy " + path);
    }
    server.held_ = as_value(client);
  }
  return server;
}

LinkServer::LinkServer(LinkServer&& other) noexcept
    : path_(std::move(other.path_)),
      options_(other.options_),
      listener_(std::exchange(other.listener_, -1)),
      held_(std::exchange(other.held_, -1)),
      error_(std::move(other.error_)) {}

LinkServer& LinkServer::operator=(LinkServer&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    options_ = other.options_;
    listener_ = std::exchange(other.listener_, -1);
    held_ = std::exchange(other.held_, -1);
    error_ = std::move(other.error_);
  }
  return *this;
}

LinkServer::~LinkServer() { close(); }

void LinkServer::close() {
  if (held_ != -1) {
    CloseHandle(as_handle(held_));
    held_ = -1;
  }
  if (listener_ != -1) {
    CloseHandle(as_handle(listener_));
    listener_ = -1;
  }
}

Result<LinkStream, std::string> LinkServer::accept() {
  if (options_.mode == LinkServerMode::Busy) {
    return std::string("The link is not accepting connections");
  }
  if (listener_ == -1) {
    return error_.empty() ? std::string("The link is closed") : error_;
  }
  HANDLE instance = as_handle(listener_);
  for (;;) {
    if (ConnectNamedPipe(instance, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      break;
    }
    if (GetLastError() == ERROR_NO_DATA) {
      // The client came and went before we looked; make the instance free.
      DisconnectNamedPipe(instance);
      continue;
    }
    return failure("Cannot accept a connection on " + path_);
  }

  // The next instance exists before this one is handed over, so a client
  // never finds the pipe missing, at worst busy for a moment.
  auto name = wide(path_);
  HANDLE next = name ? create_instance(*name, false, PIPE_UNLIMITED_INSTANCES, options_.buffer_size)
                     : INVALID_HANDLE_VALUE;
  if (next == INVALID_HANDLE_VALUE) {
    error_ = failure("Cannot create another instance of " + path_);
    listener_ = -1;
  } else {
    listener_ = as_value(next);
  }
  return LinkStream(as_value(instance));
}

void finish(LinkStream stream) {
  // Closing a pipe discards what the client has not read yet; wait until it
  // has read everything.
  if (stream.native_handle() != -1) {
    FlushFileBuffers(as_handle(stream.native_handle()));
  }
}

}  // namespace vellumo::platform
