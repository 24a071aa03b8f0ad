// Running a child on POSIX: posix_spawn into a process group of its own, so
// that one kill(-pgid, SIGKILL) reaches everything it started (except what
// deliberately leaves the group with setsid or setpgid).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix.h"
#include "process/child.h"

extern char** environ;

namespace vellumo::process::detail {

namespace {

// How long kill_tree waits for the killed child to be reaped.
constexpr std::chrono::seconds kReapWait{5};

std::string error_text(long code) { return platform::system_error_text(code); }

using posix::Fd;

// A pipe whose two ends are closed on exec and numbered 3 or above, so that
// neither can land on a standard stream of the child by accident (when one
// of ours was closed, pipe() hands out 0, 1 or 2).
bool make_pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
#if defined(__APPLE__)
  if (::pipe(fds) != 0) {
    return false;
  }
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
#else
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return false;
  }
#endif
  read_end = Fd(fds[0]);
  write_end = Fd(fds[1]);
  for (Fd* end : {&read_end, &write_end}) {
    if (end->get() < 3) {
      Fd moved(::fcntl(end->get(), F_DUPFD_CLOEXEC, 3));
      const int saved = errno;
      *end = std::move(moved);  // closes the low one
      errno = saved;
    }
  }
  return read_end && write_end;
}

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool actions_ready = false;
  bool attributes_ready = false;
  ~SpawnSetup() {
    if (actions_ready) {
      posix_spawn_file_actions_destroy(&actions);
    }
    if (attributes_ready) {
      posix_spawnattr_destroy(&attributes);
    }
  }
};

}  // namespace

struct ChildProcess::Native {
  pid_t pid = -1;
  bool ended = false;
  ChildState state = ChildState::Running;
};

std::ptrdiff_t PipeReader::read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(static_cast<int>(handle_.get()), buffer, size);
    if (count >= 0 || errno != EINTR) {
      return count;
    }
  }
}

ChildProcess::ChildProcess(std::unique_ptr<Native> native) : native_(std::move(native)) {}
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

ChildProcess::~ChildProcess() {
  if (native_ && !native_->ended) {
    kill_tree();
  }
}

ChildState ChildProcess::poll() {
  Native& n = *native_;
  if (n.ended) {
    return n.state;
  }
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(n.pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == 0) {
    return ChildState::Running;
  }
  if (result < 0) {
    return ChildState::Unknown;
  }
  n.ended = true;
  n.state = (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? ChildState::ExitedWithZero
                                                            : ChildState::ExitedOtherwise;
  return n.state;
}

void ChildProcess::kill_tree() {
  Native& n = *native_;
  if (n.ended) {
    return;  // reaped: its number may already belong to someone else
  }
  // The group first, then the child itself in case it left the group.
  ::kill(-n.pid, SIGKILL);
  ::kill(n.pid, SIGKILL);
  const auto give_up = std::chrono::steady_clock::now() + kReapWait;
  for (;;) {
    int status = 0;
    const pid_t result = ::waitpid(n.pid, &status, WNOHANG);
    if (result == n.pid || (result < 0 && errno != EINTR)) {
      break;
    }
    if (std::chrono::steady_clock::now() >= give_up) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  n.ended = true;
  n.state = ChildState::ExitedOtherwise;
}

Result<StartedChild, std::string> start_child(const std::string& program,
                                              const std::vector<std::string>& arguments) {
  if (program.find('\0') != std::string::npos) {
    return error_text(EINVAL);
  }
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) {
    if (argument.find('\0') != std::string::npos) {
      return std::string("an argument holds a NUL character");
    }
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  Fd output_read, output_write, error_read, error_write;
  if (!make_pipe(output_read, output_write) || !make_pipe(error_read, error_write)) {
    return error_text(errno);
  }

  SpawnSetup setup;
  int status = posix_spawn_file_actions_init(&setup.actions);
  if (status != 0) {
    return error_text(status);
  }
  setup.actions_ready = true;
  status = posix_spawnattr_init(&setup.attributes);
  if (status != 0) {
    return error_text(status);
  }
  setup.attributes_ready = true;

  short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__APPLE__)
  // Everything but the three descriptors set up below is closed.
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
  sigset_t no_signals;
  sigemptyset(&no_signals);
  // SIGPIPE may be ignored here (a write to a closed pipe is an error for
  // us, not a death), and an ignored signal stays ignored across exec.
  sigset_t default_signals;
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  if ((status = posix_spawnattr_setflags(&setup.attributes, flags)) != 0 ||
      (status = posix_spawnattr_setpgroup(&setup.attributes, 0)) != 0 ||
      (status = posix_spawnattr_setsigmask(&setup.attributes, &no_signals)) != 0 ||
      (status = posix_spawnattr_setsigdefault(&setup.attributes, &default_signals)) != 0) {
    return error_text(status);
  }

  if ((status = posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0)) !=
          0 ||
      (status = posix_spawn_file_actions_adddup2(&setup.actions, output_write.get(), 1)) != 0 ||
      (status = posix_spawn_file_actions_adddup2(&setup.actions, error_write.get(), 2)) != 0) {
    return error_text(status);
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors that others in this process opened without O_CLOEXEC stay
  // out of the child too.
  if ((status = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3)) != 0) {
    return error_text(status);
  }
#endif

  pid_t pid = -1;
  status =
      posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
  if (status != 0) {
    return error_text(status);
  }

  auto native = std::make_unique<ChildProcess::Native>();
  native->pid = pid;
  return StartedChild{ChildProcess(std::move(native)), PipeReader(output_read.release()),
                      PipeReader(error_read.release())};
}

}  // namespace vellumo::process::detail
