#pragma once

// The system half of files.h, implemented in files-posix.cpp and
// files-win32.cpp; files.cpp builds the public operations on it. Not for
// use outside the file layer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "core/result.h"
#include "platform/files.h"

namespace vellumo::files::system {

/// The size of one read or write of a large file: 1 MiB.
inline constexpr std::size_t kBlock = std::size_t{1} << 20;

/// How much to read next into `bytes`: the room left of what was reserved
/// for the file's size (reserve one byte more, which finds the end), else a
/// block: no read fills more memory than the file needs.
inline std::size_t block_after(const std::string& bytes) {
  const std::size_t room = bytes.capacity() - bytes.size();
  return room > 0 ? room : kBlock;
}

/// A failed call, with what the callers tell apart.
struct Failure {
  enum Kind { Other, Missing, Exists } kind = Other;
  std::string text;  ///< the system error text
};

/// At most `limit` bytes of the file at `path`, read in large blocks.
Result<std::string, Failure> read_bytes(const std::string& path, std::size_t limit);

Result<FileFacts, std::string> inspect(const std::string& path);

/// What tells one version of a file from another: another file in its
/// place, or a write to it, changes it.
struct Identity {
  bool exists = false;
  std::uint64_t device = 0;  ///< device, or volume serial number
  std::uint64_t file = 0;    ///< inode, or file index
  std::uint64_t size = 0;
  std::int64_t modified = 0;  ///< time of last write, to the system's finest unit
  /// Time of the last change to the file or its metadata (ctime, ChangeTime;
  /// 0 where the file system keeps none), which no program can set back.
  std::int64_t changed = 0;
  friend bool operator==(const Identity&, const Identity&) = default;
};

/// A file as read for an edit.
struct Snapshot {
  enum Kind { Missing, Regular, NotRegular, TooLarge, ForeignLink } kind = Missing;
  std::string text;   ///< the content of a Regular file
  Identity identity;  ///< of the file read; exists is false for Missing
  // What a replacement of a Regular file could not keep.
  bool read_only = false;      ///< no write permission for its owner, or read-only
  bool other_links = false;    ///< more than one hard link
  bool foreign_owner = false;  ///< an owner or group this process cannot give
};

/// Opens `path` without waiting and reads it when the open file is a
/// regular file of at most `limit` bytes. Owner::Other: the file the path
/// leads to, as final_path finds it (ForeignLink when it says so);
/// Owner::Own: the name itself, a link there being Missing. Only a missing
/// file is Missing; other failures are the system error text.
Result<Snapshot, std::string> read_snapshot(const std::string& path, std::uint64_t limit,
                                            Owner owner);

/// The identity of the file at `path` (links followed); exists is false
/// when there is none.
Result<Identity, std::string> identity_of(const std::string& path);

/// How long a name a file in `folder` may have, in the system's units.
struct NameLimit {
  std::size_t units = 255;
  bool utf16 = false;  ///< counted in UTF-16 code units (Windows), else in bytes
};
NameLimit name_limit(const std::string& folder);

/// The failure inject_replace_failure asked for at `step`, as the system
/// would report one. NewFile::flush asks for its own next to its system
/// call: a replacement that never flushes then never fails there, which
/// a test sees.
Result<void, std::string> injected(ReplaceStep step);

/// Creates the one folder `path` (mode less the umask; with `exact`, mode
/// itself); its parent must exist.
Result<void, Failure> make_folder(const std::string& path, std::uint32_t mode, bool exact);

/// Creates the symbolic link `path` with the text `target`; Exists when
/// something is at `path`.
Result<void, Failure> make_link(const std::string& target, const std::string& path);

/// Deletes the entries of `folder` whose names `matches` accepts and that
/// are regular files (with `links`, symbolic links too) owned by this
/// user. Failures are passed over.
void remove_owned(const std::string& folder, const std::function<bool(std::string_view)>& matches,
                  bool links);

/// Until forget_temporary(path): should the process be ended by a signal
/// (POSIX: any whose default action ends the process, but for the faults
/// of the program itself) or by Ctrl+C or Ctrl+Break (Windows), the
/// temporary file at `path`, open as `handle` (Windows; -1 for none), is
/// deleted first. Meanwhile SIGXFSZ is ignored (POSIX), so that a write
/// past the file size limit fails with EFBIG instead of ending the
/// process. Call forget_temporary before the handle is closed.
void remember_temporary(const std::string& path, std::intptr_t handle);
void forget_temporary(const std::string& path);

/// Runs `work`, which creates a temporary file and remembers it, with what
/// ends the process held back until it returns: on POSIX the signals
/// remember_temporary handles are blocked in this thread, on Windows the
/// console control handler waits. So one that comes between the file's
/// creation and its cleanup being armed finds the file remembered.
void holding_interruptions(const std::function<void()>& work);

/// Called by NewFile::create just after it made the file, before the file
/// is remembered: the seam of inject_after_create.
void after_create(const std::string& path);

/// Where a path leads.
struct FinalPath {
  std::string path;  ///< the final file
  /// POSIX: a link on the way belongs to neither this process's user nor
  /// root, and was not followed (`path` is then empty).
  bool foreign_link = false;
};

/// The file `path` leads to: `path` itself unless it is a symbolic link,
/// else the end of its chain of links; on POSIX the links among its folders
/// are resolved too, each only when trusted (see FinalPath). A path that
/// does not exist is its own final file; a link that leads nowhere, or a
/// loop, is the error.
Result<FinalPath, std::string> final_path(const std::string& path);

/// A failed copy: `reading` tells whether the source or the copy failed.
struct CopyFailure {
  bool reading = false;
  std::string text;  ///< the system error text
};

/// A file this process has just created, open for writing. Deleted again
/// when destroyed before commit() succeeded.
class NewFile {
 public:
  /// Creates `path`, which must not exist (Exists when it does; never
  /// through a link): readable by its owner only when the file `like`
  /// exists, else with the usual permissions of a new file. On Windows it
  /// takes over the attributes and the access entries of its own of
  /// `like` here.
  static Result<NewFile, Failure> create(const std::string& path, const std::string& like);

  Result<void, std::string> write(std::string_view bytes);
  /// Appends the file `from` in large blocks, asking `keep_going` before
  /// each; false when it said stop.
  Result<bool, CopyFailure> append_file(const std::string& from,
                                        const std::function<bool()>& keep_going);
  /// Brings the data to the disk (fsync, FlushFileBuffers).
  Result<void, std::string> flush();
  /// Makes the file readable and writable by its owner alone, whatever the
  /// umask (POSIX: 0600); nothing on Windows.
  Result<void, std::string> make_private();
  /// Once the content is written: takes over what of the file `like` must
  /// survive its replacement, in this order, each step undoing nothing of
  /// the one before: owner and group (where allowed), every extended
  /// attribute, the permissions with their set-ID bits. A failed attribute
  /// is the error "cannot keep its attributes: {why}". Nothing when `like`
  /// does not exist, and on Windows (done by create).
  Result<void, std::string> adopt(const std::string& like);
  /// Closes the file and renames it over `target`; on POSIX the folder is
  /// flushed after the rename. The file is no longer ours to delete when
  /// this succeeds.
  Result<void, std::string> commit(const std::string& target);

 private:
  /// Closes the file and deletes it.
  struct Discard {
    static constexpr std::intptr_t invalid = -1;
    std::string path;
    void close(std::intptr_t handle) const;
  };

  NewFile(std::intptr_t handle, std::string path) : handle_(handle, Discard{std::move(path)}) {}
  const std::string& path() const { return handle_.closer().path; }

  platform::UniqueHandle<Discard> handle_;
};

/// Locks the open file without waiting: true when locked, false when
/// another holder has it.
Result<bool, std::string> try_lock(std::intptr_t handle);

/// Opens (creating with mode 0600) the lock file at `path`.
Result<std::intptr_t, std::string> open_lock_file(const std::string& path);

/// Whether `path` still names the open file `handle`: false once the file
/// was deleted, or another took its name.
bool names_file(const std::string& path, std::intptr_t handle);

/// Makes the open file `handle` hold `text` alone.
Result<void, std::string> rewrite(std::intptr_t handle, std::string_view text);

}  // namespace vellumo::files::system
