// The POSIX platform layer.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "core/link_trust.h"
#include "core/utf8.h"
#include "platform/platform.h"
#include "platform/posix.h"

extern char** environ;

namespace vellumo::platform {

const PathStyle kPathStyle = PathStyle::Posix;
constinit const std::string_view kAppExecutableNames[2] = {"Vellumo", "vellumo"};

namespace {

// A path as text: unchanged when it is UTF-8. A path that is not was
// written in some other encoding, in which even the bytes that happen to
// form a UTF-8 character mean something else, so every non-ASCII byte
// becomes U+FFFD (core/text.h's lossy_utf8 would keep those characters).
std::string replace_non_ascii_unless_utf8(std::string bytes) {
  if (is_valid_utf8(bytes)) {
    return bytes;
  }
  std::string text;
  for (unsigned char c : bytes) {
    text += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string("\xEF\xBF\xBD");
  }
  return text;
}

// The socket folder used when XDG_RUNTIME_DIR is not usable.
std::string fallback_runtime_dir() { return "/tmp/vellumo-" + std::to_string(::getuid()); }

// What lstat tells about a folder; nullopt when there is nothing there.
std::optional<FolderFacts> folder_facts(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    return std::nullopt;
  }
  return FolderFacts{S_ISDIR(st.st_mode), static_cast<std::uint32_t>(st.st_uid),
                     static_cast<std::uint32_t>(st.st_mode & 07777)};
}

// XDG_RUNTIME_DIR is used only as the base directory rules require it to
// be: a folder of ours that nobody else can enter.
std::string runtime_dir() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/') {
    const auto facts = folder_facts(xdg);
    if (facts && !unsafe_folder_reason(*facts, ::getuid(), false)) {
      return xdg;
    }
  }
  return fallback_runtime_dir();
}

// The uid of the process at the other end of a connected Unix socket.
std::optional<uid_t> peer_uid(int fd) {
#if defined(SO_PEERCRED)
  struct ucred credentials {};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
    return std::nullopt;
  }
  return credentials.uid;
#else
  uid_t uid;
  gid_t gid;
  if (::getpeereid(fd, &uid, &gid) != 0) {
    return std::nullopt;
  }
  return uid;
#endif
}

}  // namespace

std::string system_error_text(long code) {
  return std::system_category().message(static_cast<int>(code)) + " (os error " +
         std::to_string(code) + ")";
}

std::string last_error_text() { return system_error_text(errno); }

void init_standard_streams() {
  // A reader that goes away must not kill us: writes fail instead.
  ::signal(SIGPIPE, SIG_IGN);
}

Result<void, OutputError> write_stdout(std::string_view bytes) {
  const int code = posix::write_all(STDOUT_FILENO, bytes);
  if (code == 0) {
    return {};
  }
  return OutputError{code == EPIPE, system_error_text(code)};
}

bool write_stderr(std::string_view bytes) { return posix::write_all(STDERR_FILENO, bytes) == 0; }

Result<std::size_t, std::string> read_stdin(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    if (n >= 0) {
      return static_cast<std::size_t>(n);
    }
    if (errno != EINTR) {
      return last_error_text();
    }
  }
}

Result<std::string, std::string> current_directory() {
  std::string path(PATH_MAX, '\0');
  while (::getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) {
      return Err{last_error_text()};
    }
    path.resize(path.size() * 2);
  }
  path.resize(std::strlen(path.c_str()));
  return replace_non_ascii_unless_utf8(std::move(path));
}

Result<std::vector<std::string>, std::string> command_words(int argc, char** argv) {
  std::vector<std::string> words;
  words.reserve(argc > 1 ? static_cast<std::size_t>(argc - 1) : 0);
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (!is_valid_utf8(word)) {
      return std::string("The command line is not valid UTF-8.");
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::optional<std::string> get_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !is_valid_utf8(value)) {
    return std::nullopt;
  }
  return std::string(value);
}

Result<std::string, std::string> executable_path() {
  auto name = executable_name();
  if (!name) {
    return name;
  }
  return replace_non_ascii_unless_utf8(std::move(name).value());
}

Result<std::string, std::string> executable_name() {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string path(size, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) {
    return Err{system_error_text(ENOENT)};
  }
  path.resize(std::strlen(path.c_str()));
#else
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n < 0) {
    return Err{last_error_text()};
  }
  path.resize(static_cast<std::size_t>(n));
#endif
  return path;
}

std::string link_path(std::string_view tag) {
  return runtime_dir() + "/Vellumo-cli-" + std::string(tag);
}

void SystemHandle::close(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

Result<void, std::string> LinkStream::write_all(std::string_view bytes) {
  if (const int code =
          posix::write_all(static_cast<int>(handle_.get()), bytes, posix::Sink::Socket);
      code != 0) {
    return system_error_text(code);
  }
  return {};
}

Result<std::size_t, std::string> LinkStream::read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(handle_.get()), buffer, size, 0);
    if (n >= 0) {
      return static_cast<std::size_t>(n);
    }
    if (errno == ECONNRESET) {
      return std::size_t{0};  // the other end is gone: the stream has ended
    }
    if (errno != EINTR) {
      return last_error_text();
    }
  }
}

Result<LinkStream, LinkOpenError> open_link(const std::string& path) {
  const auto fail = [](std::string text, LinkOpenFailure kind = LinkOpenFailure::Unreachable) {
    return LinkOpenError{kind, std::move(text)};
  };
  const std::string fallback = fallback_runtime_dir();
  if (path.size() > fallback.size() && path.compare(0, fallback.size(), fallback) == 0 &&
      path[fallback.size()] == '/') {
    // The fallback sits in a world-writable place: use it only when it is
    // a real folder of ours that nobody else can write to. A missing one is
    // left to connect(), which reports it like a missing socket. One that
    // is not safe is a refusal, not an app that is not running: an app we
    // launched would find the same folder.
    if (const auto facts = folder_facts(fallback)) {
      if (auto unsafe = unsafe_folder_reason(*facts, ::getuid(), true)) {
        return fail("the socket folder " + fallback + " " + *unsafe + ", so it is not used",
                    LinkOpenFailure::Untrusted);
      }
    }
  }

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    return fail(system_error_text(ENAMETOOLONG));
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  int type = SOCK_STREAM;
#if defined(SOCK_CLOEXEC)
  type |= SOCK_CLOEXEC;
#endif
  const int fd = ::socket(AF_UNIX, type, 0);
  if (fd < 0) {
    return fail(last_error_text());
  }
  LinkStream stream(fd);
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#if defined(SO_NOSIGPIPE)
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  // Connect without blocking so that a full backlog shows as EAGAIN, the
  // socket's "busy", instead of a wait.
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    return fail(system_error_text(error), error == EAGAIN || error == EWOULDBLOCK
                                              ? LinkOpenFailure::Busy
                                              : LinkOpenFailure::Unreachable);
  }
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  // Nothing is written before we know the server is one of ours.
  const auto server = peer_uid(fd);
  if (!server) {
    return fail("the serving process cannot be identified: " + last_error_text(),
                LinkOpenFailure::Untrusted);
  }
  const ProcessIdentity self{std::to_string(::getuid()), std::nullopt};
  if (auto reason = distrust_reason({std::to_string(*server), std::nullopt}, self)) {
    return fail(*reason, LinkOpenFailure::Untrusted);
  }
  return stream;
}

// Nothing to close for a pid; the process runs on and is reaped by init
// once the CLI has exited.
void DetachedChild::Release::close(std::intptr_t) {}

std::optional<bool> DetachedChild::has_ended() {
  if (!handle_) {
    return std::nullopt;
  }
  int status = 0;
  const pid_t rc = ::waitpid(static_cast<pid_t>(handle_.get()), &status, WNOHANG);
  if (rc == 0) {
    return false;
  }
  if (rc < 0) {
    return std::nullopt;
  }
  handle_.release();  // reaped
  return true;
}

Result<DetachedChild, std::string> launch_detached(const std::string& program,
                                                   const std::string& argument) {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_init(&actions);

  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#if defined(POSIX_SPAWN_SETSID)
  flags |= POSIX_SPAWN_SETSID;  // its own session: no terminal, no hang-up from ours
#else
  flags |= POSIX_SPAWN_SETPGROUP;
#endif
#if defined(POSIX_SPAWN_CLOEXEC_DEFAULT)
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
  posix_spawnattr_setflags(&attributes, flags);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);  // we ignore it; the app must not inherit that
  posix_spawnattr_setsigdefault(&attributes, &signals);

  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  std::string program_copy = program;
  std::string argument_copy = argument;
  char* argv[] = {program_copy.data(), argument_copy.data(), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    return system_error_text(rc);
  }
  return DetachedChild(pid);
}

}  // namespace vellumo::platform
