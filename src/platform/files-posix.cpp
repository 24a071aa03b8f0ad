// files_system.h on POSIX, but for the walk through open folders, which
// is in walk-posix.cpp.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/files_posix.h"
#include "platform/files_system.h"
#include "platform/platform.h"
#include "platform/posix.h"

namespace vellumo::files::system {
namespace {

using posix::Fd;
using posix::open_at;
using posix::open_retrying;
using posix::write_all;

ssize_t read_retrying(int fd, char* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = ::read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Reads from `fd` into `bytes` until the end of the file or `limit` bytes.
// 0, or the errno of the failed read.
int read_into(int fd, std::string& bytes, std::size_t limit) {
  // Straight into the string: into the room reserved for the size the file
  // had, then a large block at a time.
  while (bytes.size() < limit) {
    const std::size_t have = bytes.size();
    const std::size_t want = std::min(block_after(bytes), limit - have);
    bytes.resize(have + want);
    const ssize_t got = read_retrying(fd, bytes.data() + have, want);
    if (got < 0) {
      const int error = errno;
      bytes.resize(have);
      return error;
    }
    bytes.resize(have + static_cast<std::size_t>(got));
    if (got == 0) {
      break;
    }
  }
  return 0;
}

std::int64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

Identity identity(const struct stat& info) {
  return {true,
          static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          nanoseconds(info.st_mtim),
          nanoseconds(info.st_ctim)};
}

// Whether this process may give a new file the owner and group of `info`:
// the superuser may; anyone else only their own user and one of their
// groups.
bool can_give_owner_of(const struct stat& info) {
  const uid_t user = ::geteuid();
  if (user == 0) {
    return true;
  }
  if (info.st_uid != user) {
    return false;
  }
  if (info.st_gid == ::getegid()) {
    return true;
  }
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(static_cast<std::size_t>(std::max(count, 0)));
  return std::find(groups.begin(), groups.end(), info.st_gid) != groups.end();
}

// The names of the extended attributes of `fd`, each ended by a NUL (none
// on a file system without them); the error is an errno.
Result<std::string, int> attribute_names(int fd) {
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0 && errno == ENOTSUP) {
      return std::string();
    }
    if (size < 0) {
      return Err{errno};
    }
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return names;
    }
    if (errno != ERANGE) {  // else added to meanwhile: again
      return Err{errno};
    }
  }
}

// Gives `to` every extended attribute of `from`, and takes away an access
// list `to` had of its own (from the folder's default one) that `from` has
// not. 0, or the errno of the failed call.
int copy_attributes(int from, int to) {
  auto names = attribute_names(from);
  if (!names) {
    return names.error();
  }
  constexpr const char* kAccessList = "system.posix_acl_access";
  bool has_access_list = false;
  std::string value;
  for (std::size_t at = 0; at < names->size();) {
    const char* name = names->c_str() + at;
    at += std::strlen(name) + 1;
    has_access_list = has_access_list || std::strcmp(name, kAccessList) == 0;
    ssize_t size;
    for (;;) {
      size = ::fgetxattr(from, name, nullptr, 0);
      if (size < 0) {
        break;
      }
      value.resize(static_cast<std::size_t>(size));
      size = size == 0 ? 0 : ::fgetxattr(from, name, value.data(), value.size());
      if (size >= 0 || errno != ERANGE) {
        break;
      }
    }
    if (size < 0) {
      if (errno == ENODATA) {
        continue;  // removed meanwhile
      }
      return errno;
    }
    if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0) {
      return errno;
    }
  }
  if (!has_access_list && ::fremovexattr(to, kAccessList) != 0 && errno != ENODATA &&
      errno != ENOTSUP) {
    return errno;
  }
  return 0;
}

// fsync of a file, counted for synced_files: a replacement that never
// brings its data to the disk is seen by a test.
int counted_fsync(int fd) {
  const int result = ::fsync(fd);
  if (result == 0) {
    count_sync();
  }
  return result;
}

// The temporary files being written, where a signal handler can read
// them: fixed slots of plain bytes, each free (0), being filled (1) or
// holding a folder and a name in it (2).
struct TemporarySlot {
  std::atomic<int> state{0};
  int folder = -1;
  char name[PATH_MAX];
};
TemporarySlot temporary_slots[8];

// The signals whose default action ends the process and that a program
// may catch. Not among them: SIGKILL and SIGSTOP, which cannot be caught;
// the faults of the program itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGABRT, SIGSYS) and SIGTRAP, the debugger's, after which nothing of ours
// should run; SIGXFSZ, ignored instead (see below). SIGPIPE is one, and
// stays ignored where the program ignores it.
constexpr int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1, SIGUSR2,
    SIGALRM, SIGPIPE, SIGVTALRM, SIGPROF, SIGXCPU,
#if defined(__linux__)  // elsewhere SIGIO is ignored by default, and the others do not exist
    SIGIO,   SIGPWR,  SIGSTKFLT,
#endif
};

// kEndingSignals and the real-time signals left to programs, whose default
// action ends the process too.
const sigset_t& ending_signals() {
  static const sigset_t set = [] {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : kEndingSignals) {
      sigaddset(&signals, signal);
    }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
      sigaddset(&signals, signal);
    }
#endif
    return signals;
  }();
  return set;
}

// The handlers are in place while any temporary file is remembered.
std::mutex handlers_mutex;
int remembered = 0;
struct sigaction saved_actions[NSIG];
bool replaced_actions[NSIG] = {};

// Deletes every remembered temporary file, then lets the signal end the
// process as it would have. Only async-signal-safe calls.
extern "C" void delete_temporaries_and_end(int signal) {
  for (TemporarySlot& slot : temporary_slots) {
    if (slot.state.load() == 2) {
      (void)::unlinkat(slot.folder, slot.name, 0);
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);  // delivered as this handler returns
}

// Puts our handler on every ending signal, and ignores SIGXFSZ: a write
// past the file size limit then fails with EFBIG, an error reported like
// any other, instead of ending the process without a word.
void install_handlers() {
  struct sigaction ours {};
  ours.sa_handler = delete_temporaries_and_end;
  ours.sa_mask = ending_signals();
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    const bool ending = sigismember(&ending_signals(), signal) == 1;
    if (!ending && signal != SIGXFSZ) {
      continue;
    }
    // A signal that is ignored, or handled by someone else, stays so.
    struct sigaction current {};
    replaced_actions[signal] =
        ::sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == SIG_DFL &&
        ::sigaction(signal, ending ? &ours : &ignore, &saved_actions[signal]) == 0;
  }
}

void restore_handlers() {
  for (int signal = 1; signal < NSIG; ++signal) {
    if (replaced_actions[signal]) {
      ::sigaction(signal, &saved_actions[signal], nullptr);
      replaced_actions[signal] = false;
    }
  }
}

// Blocks the ending signals in this thread while it lives; one that comes
// meanwhile is delivered as it ends.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() { ::pthread_sigmask(SIG_BLOCK, &ending_signals(), &before_); }
  ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

void remember_temporary(const Folder& folder, const std::string& name, std::intptr_t) {
  if (name.size() >= PATH_MAX) {
    return;  // left to the next run's sweep
  }
  for (TemporarySlot& slot : temporary_slots) {
    int free = 0;
    if (slot.state.compare_exchange_strong(free, 1)) {
      slot.folder = folder_fd(folder);
      std::memcpy(slot.name, name.c_str(), name.size() + 1);
      slot.state.store(2);
      const std::lock_guard lock(handlers_mutex);
      if (remembered++ == 0) {
        install_handlers();
      }
      return;
    }
  }
}

void holding_interruptions(const std::function<void()>& work) {
  const EndingSignalsHeld held;
  work();
}

void forget_temporary(const Folder& folder, const std::string& name) {
  for (TemporarySlot& slot : temporary_slots) {
    if (slot.state.load() == 2 && slot.folder == folder_fd(folder) && name == slot.name) {
      slot.state.store(0);
      const std::lock_guard lock(handlers_mutex);
      if (--remembered == 0) {
        restore_handlers();
      }
      return;
    }
  }
}

Result<Snapshot, std::string> read_snapshot(const Folder& folder, const std::string& name,
                                            std::uint64_t limit, Owner owner) {
  Snapshot snapshot;
  const int at = folder_fd(folder);
  // Only a regular file is opened: opening a device may do something of
  // its own.
  struct stat info {};
  if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      return snapshot;
    }
    return Err{error_text(errno)};
  }
  // The program's own file is a regular file that this user made; anything
  // else there is no file of ours, to be replaced.
  const auto not_ours = [&] { return !S_ISREG(info.st_mode) || info.st_uid != ::geteuid(); };
  if (owner == Owner::Own && not_ours()) {
    return snapshot;
  }
  if (!S_ISREG(info.st_mode)) {
    snapshot.kind = Snapshot::NotRegular;
    return snapshot;
  }
  // Without waiting: what is there now may be a FIFO that no one writes.
  const Fd fd(open_at(at, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (fd.get() < 0) {
    if (errno == ENOENT || (owner == Owner::Own && errno == ELOOP)) {
      return snapshot;
    }
    return Err{error_text(errno)};
  }
  if (::fstat(fd.get(), &info) != 0) {
    return Err{error_text(errno)};
  }
  if (owner == Owner::Own && not_ours()) {
    return snapshot;
  }
  if (!S_ISREG(info.st_mode)) {
    snapshot.kind = Snapshot::NotRegular;
    return snapshot;
  }
  if (static_cast<std::uint64_t>(info.st_size) > limit) {
    snapshot.kind = Snapshot::TooLarge;
    return snapshot;
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return Err{error_text(errno)};
  }
  snapshot.text.reserve(static_cast<std::size_t>(info.st_size) + 1);
  // One byte past the limit tells a file that grew meanwhile.
  if (const int error = read_into(fd.get(), snapshot.text, static_cast<std::size_t>(limit) + 1);
      error != 0) {
    return Err{error_text(error)};
  }
  if (snapshot.text.size() > limit) {
    snapshot.kind = Snapshot::TooLarge;
    snapshot.text.clear();
    return snapshot;
  }
  snapshot.kind = Snapshot::Regular;
  snapshot.identity = identity(info);
  snapshot.read_only = (info.st_mode & S_IWUSR) == 0;
  snapshot.other_links = info.st_nlink > 1;
  snapshot.foreign_owner = !can_give_owner_of(info);
  return snapshot;
}

Result<Identity, std::string> identity_of(const Folder& folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(folder_fd(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      return Identity{};
    }
    return Err{error_text(errno)};
  }
  return identity(info);
}

Result<std::string, Failure> read_bytes(const std::string& path, std::size_t limit) {
  const Fd fd(open_retrying(path.c_str(), O_RDONLY));
  if (fd.get() < 0) {
    return failure(errno);
  }
  std::string bytes;
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.reserve(std::min(limit, static_cast<std::size_t>(info.st_size) + 1));
  }
  if (const int error = read_into(fd.get(), bytes, limit); error != 0) {
    return failure(error);
  }
  return bytes;
}

Result<FileFacts, std::string> inspect(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return FileFacts{};
    }
    return error_text(errno);
  }
  return FileFacts{true, S_ISDIR(info.st_mode), static_cast<std::uint64_t>(info.st_size)};
}

NameLimit name_limit(const Folder& folder) {
  const long limit = ::fpathconf(folder_fd(folder), _PC_NAME_MAX);
  return {limit > 0 ? static_cast<std::size_t>(limit) : std::size_t{NAME_MAX}, false};
}

Result<void, Failure> make_folder(const std::string& path, std::uint32_t mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) {
    return failure(errno);
  }
  return {};
}

Result<void, Failure> make_link(const Folder& folder, const std::string& name,
                                const std::string& target) {
  if (::symlinkat(target.c_str(), folder_fd(folder), name.c_str()) != 0) {
    return failure(errno);
  }
  return {};
}

Result<void, std::string> rename_in(const Folder& folder, const std::string& from,
                                    const std::string& to) {
  if (::renameat(folder_fd(folder), from.c_str(), folder_fd(folder), to.c_str()) != 0) {
    return error_text(errno);
  }
  return {};
}

Result<void, std::string> remove_in(const Folder& folder, const std::string& name) {
  if (::unlinkat(folder_fd(folder), name.c_str(), 0) != 0) {
    return error_text(errno);
  }
  return {};
}

void remove_owned(const Folder& folder, const std::function<bool(std::string_view)>& matches,
                  bool links) {
  // Listed through a descriptor of its own, opened for reading.
  const int listed = open_at(folder_fd(folder), ".", O_RDONLY | O_DIRECTORY);
  DIR* const listing = listed < 0 ? nullptr : ::fdopendir(listed);
  if (listing == nullptr) {
    if (listed >= 0) {
      ::close(listed);
    }
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    if (matches(entry->d_name)) {
      names.emplace_back(entry->d_name);
    }
  }
  const int at = folder_fd(folder);
  for (const std::string& name : names) {
    struct stat info {};
    if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        info.st_uid == ::geteuid() && (S_ISREG(info.st_mode) || (links && S_ISLNK(info.st_mode)))) {
      (void)::unlinkat(at, name.c_str(), 0);
    }
  }
  ::closedir(listing);
}

Result<NewFile, Failure> NewFile::create(const Folder& folder, std::string name,
                                         const std::string& like) {
  struct stat original {};
  const bool replaces =
      ::fstatat(folder_fd(folder), like.c_str(), &original, AT_SYMLINK_NOFOLLOW) == 0;
  // From before the file exists until its cleanup is armed: a signal that
  // comes in between is delivered after, and finds the file remembered.
  const EndingSignalsHeld held;
  // Readable by nobody else until it has the original's permissions; a new
  // file gets 0666 less the umask, as any new file.
  const int fd = open_at(folder_fd(folder), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                         replaces ? 0600 : 0666);
  if (fd < 0) {
    return failure(errno);
  }
  NewFile file(fd, folder, std::move(name));
  after_create(folder.path_of(file.name()));
  remember_temporary(folder, file.name(), fd);
  return file;
}

Result<void, std::string> NewFile::adopt(const std::string& like) {
  // Read without waiting, whatever it is now, and never through a link: a
  // link put there since the file was read has nothing to give, and the
  // look before the rename finds it.
  const Fd original(
      open_at(folder_fd(folder()), like.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (original.get() < 0) {
    return errno == ENOENT || errno == ELOOP ? Result<void, std::string>() : error_text(errno);
  }
  struct stat info {};
  if (::fstat(original.get(), &info) != 0) {
    return error_text(errno);
  }
  const int fd = static_cast<int>(handle_.get());
  // The owner first: a change of owner clears the set-ID bits and a file
  // capability. Only the superuser may give a file away, so a refusal
  // keeps ours.
  if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
    (void)::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
  }
  if (const int error = copy_attributes(original.get(), fd); error != 0) {
    return "cannot keep its attributes: " + error_text(error);
  }
  // The permissions last: they agree with the access list just copied, and
  // the set-ID bits are cleared by a write of anyone but the superuser.
  if (::fchmod(fd, info.st_mode & 07777) != 0) {
    return error_text(errno);
  }
  return {};
}

void NewFile::Discard::close(std::intptr_t handle) const {
  ::close(static_cast<int>(handle));
  (void)::unlinkat(folder_fd(*folder), name.c_str(), 0);
  forget_temporary(*folder, name);
}

Result<void, std::string> NewFile::write(std::string_view bytes) {
  if (const int error = write_all(static_cast<int>(handle_.get()), bytes); error != 0) {
    return error_text(error);
  }
  return {};
}

Result<bool, CopyFailure> NewFile::append_file(const std::string& from,
                                               const std::function<bool()>& keep_going) {
  const Fd in(open_retrying(from.c_str(), O_RDONLY));
  if (in.get() < 0) {
    return CopyFailure{true, error_text(errno)};
  }
  std::string buffer(kBlock, '\0');
  for (;;) {
    if (!keep_going()) {
      return false;
    }
    const ssize_t got = read_retrying(in.get(), buffer.data(), buffer.size());
    if (got < 0) {
      return CopyFailure{true, error_text(errno)};
    }
    if (got == 0) {
      return true;
    }
    const std::string_view block(buffer.data(), static_cast<std::size_t>(got));
    if (const int error = write_all(static_cast<int>(handle_.get()), block); error != 0) {
      return CopyFailure{false, error_text(error)};
    }
  }
}

Result<void, std::string> NewFile::make_private() {
  if (::fchmod(static_cast<int>(handle_.get()), 0600) != 0) {
    return error_text(errno);
  }
  return {};
}

Result<void, std::string> NewFile::flush() {
  TRY_STATUS(injected(ReplaceStep::Flush));
  if (counted_fsync(static_cast<int>(handle_.get())) != 0) {
    return error_text(errno);
  }
  return {};
}

Result<void, std::string> NewFile::commit(const std::string& target) {
  const int at = folder_fd(folder());
  if (::close(static_cast<int>(handle_.release())) != 0 && errno != EINTR) {
    const int error = errno;
    (void)::unlinkat(at, name().c_str(), 0);
    forget_temporary(folder(), name());
    return error_text(error);
  }
  const bool renamed = ::renameat(at, name().c_str(), at, target.c_str()) == 0;
  const int error = errno;
  if (!renamed) {
    (void)::unlinkat(at, name().c_str(), 0);
  }
  forget_temporary(folder(), name());
  if (!renamed) {
    return error_text(error);
  }
  // The new entry reaches the disk too. The file is in place already, so a
  // folder that cannot be flushed is no reason to report a failure.
  const Fd dir(open_at(at, ".", O_RDONLY | O_DIRECTORY));
  if (dir.get() >= 0) {
    (void)::fsync(dir.get());
  }
  return {};
}

Result<std::intptr_t, std::string> open_lock_file(const std::string& path) {
  const int fd = open_retrying(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return error_text(errno);
  }
  // A umask that takes the owner's bits would keep our next run out.
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 07777) != 0600) {
    (void)::fchmod(fd, 0600);
  }
  return std::intptr_t{fd};
}

Result<std::intptr_t, Failure> open_own_lock_file(const Folder& folder, const std::string& name) {
  // Without waiting: a FIFO put there would block the open.
  Fd fd(open_at(folder_fd(folder), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (fd.get() < 0) {
    return failure(errno);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    return failure(errno);
  }
  // A file someone else made, they may hold locked, or take away and put
  // back: no lock of ours.
  if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return Failure{Failure::Changeable, folder.path_of(name)};
  }
  // A umask that takes the owner's bits would keep our next run out.
  if ((info.st_mode & 07777) != 0600) {
    (void)::fchmod(fd.get(), 0600);
  }
  return std::intptr_t{fd.release()};
}

Result<bool, std::string> try_lock(std::intptr_t handle) {
  while (::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      return false;
    }
    if (errno != EINTR) {
      return error_text(errno);
    }
  }
  return true;
}

bool names_file(const std::string& path, std::intptr_t handle) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(static_cast<int>(handle), &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

Result<void, std::string> rewrite(std::intptr_t handle, std::string_view text) {
  const int fd = static_cast<int>(handle);
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    return error_text(errno);
  }
  if (const int error = write_all(fd, text); error != 0) {
    return error_text(error);
  }
  return {};
}

}  // namespace vellumo::files::system

namespace vellumo::files {

void starting_threads(const std::function<void()>& work) {
  const system::EndingSignalsHeld held;
  work();
}

std::vector<std::string> remembered_temporaries() {
  std::vector<std::string> names;
  for (const system::TemporarySlot& slot : system::temporary_slots) {
    if (slot.state.load() == 2) {
      names.emplace_back(slot.name);
    }
  }
  return names;
}

Result<void, std::string> rename_replacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    return platform::system_error_text(errno);
  }
  return {};
}

Result<void, std::string> remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    return platform::system_error_text(errno);
  }
  return {};
}

}  // namespace vellumo::files
