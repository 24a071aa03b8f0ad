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
  enum Kind {
    Other,
    Missing,
    Exists,
    ForeignLink,  ///< a link of another user's on the way; `text` is its path
    Changeable,   ///< a folder that others could change on the way; `text` is its path
  } kind = Other;
  std::string text;  ///< the system error text, or the path of what stopped a walk
};

/// A file as a walk found it: the folder that holds it, held open, and its
/// name there.
struct Place {
  Folder folder;
  std::string name;
};

/// How a walk takes the last name of its path.
enum class Last {
  Followed,  ///< a link there is followed (when trusted) to the file it leads to
  Itself,    ///< the name itself, a link there being what is named
};

/// Walks `path` one name at a time, from the root (or the current folder
/// for a relative path) through folders held open, to the folder that
/// holds its last name. A symbolic link on the way is followed only when
/// it is this process's user's or root's (ForeignLink otherwise, naming
/// the link); a link that leads nowhere or a missing folder on the way is
/// Missing, a loop or any other failure Other.
Result<Place, Failure> locate(const std::string& path, Last last);

/// open_own_folder, with the kind of the failure.
Result<Folder, Failure> open_own_folder(const std::string& path, std::uint32_t mode);

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

/// Whose file a name names.
enum class Owner {
  Other,  ///< another program's: reached through links as write_file_replacing says
  Own,    ///< the program's own: the name itself, anything but a regular file of ours no file
};

/// A file as read for an edit.
struct Snapshot {
  enum Kind { Missing, Regular, NotRegular, TooLarge } kind = Missing;
  std::string text;   ///< the content of a Regular file
  Identity identity;  ///< of the file read; exists is false for Missing
  // What a replacement of a Regular file could not keep.
  bool read_only = false;      ///< no write permission for its owner, or read-only
  bool other_links = false;    ///< more than one hard link
  bool foreign_owner = false;  ///< an owner or group this process cannot give
};

/// Opens the file `name` of `folder` without waiting, never through a link,
/// and reads it when the open file is a regular file of at most `limit`
/// bytes. Owner::Own: anything but a regular file of this user's is
/// Missing, no file of ours. Only a missing file is Missing; other failures
/// are the system error text.
Result<Snapshot, std::string> read_snapshot(const Folder& folder, const std::string& name,
                                            std::uint64_t limit, Owner owner);

/// The identity of the entry `name` of `folder` (a link not followed);
/// exists is false when there is none.
Result<Identity, std::string> identity_of(const Folder& folder, const std::string& name);

/// How long a name a file in `folder` may have, in the system's units.
struct NameLimit {
  std::size_t units = 255;
  bool utf16 = false;  ///< counted in UTF-16 code units (Windows), else in bytes
};
NameLimit name_limit(const Folder& folder);

/// The failure inject_replace_failure asked for at `step`, as the system
/// would report one. NewFile::flush asks for its own next to its system
/// call: a replacement that never flushes then never fails there, which
/// a test sees.
Result<void, std::string> injected(ReplaceStep step);

/// Creates the one folder `path` (mode less the umask); its parent must
/// exist.
Result<void, Failure> make_folder(const std::string& path, std::uint32_t mode);

/// Creates the symbolic link `name` in `folder` with the text `target`;
/// Exists when something is there.
Result<void, Failure> make_link(const Folder& folder, const std::string& name,
                                const std::string& target);

/// Renames the entry `from` of `folder` over its entry `to`.
Result<void, std::string> rename_in(const Folder& folder, const std::string& from,
                                    const std::string& to);

/// Deletes the entry `name` of `folder` (a link itself, never a folder).
Result<void, std::string> remove_in(const Folder& folder, const std::string& name);

/// Deletes the entries of `folder` whose names `matches` accepts and that
/// are regular files (with `links`, symbolic links too) owned by this
/// user. Failures are passed over.
void remove_owned(const Folder& folder, const std::function<bool(std::string_view)>& matches,
                  bool links);

/// Until forget_temporary: should the process be ended by a signal
/// (POSIX: any whose default action ends the process, but for the faults
/// of the program itself) or by Ctrl+C or Ctrl+Break (Windows), the
/// temporary file `name` of `folder`, open as `handle` (Windows; -1 for
/// none), is deleted first, in that folder. Meanwhile SIGXFSZ is ignored
/// (POSIX), so that a write past the file size limit fails with EFBIG
/// instead of ending the process. Call forget_temporary before the handle
/// is closed, and before `folder` is.
void remember_temporary(const Folder& folder, const std::string& name, std::intptr_t handle);
void forget_temporary(const Folder& folder, const std::string& name);

/// Runs `work`, which creates a temporary file and remembers it, with what
/// ends the process held back until it returns: on POSIX the signals
/// remember_temporary handles are blocked in this thread, on Windows the
/// console control handler waits. So one that comes between the file's
/// creation and its cleanup being armed finds the file remembered.
void holding_interruptions(const std::function<void()>& work);

/// Called by NewFile::create just after it made the file, before the file
/// is remembered: the seam of inject_after_create.
void after_create(const std::string& path);

/// Called by NewFile::flush once the data is on the disk: the count of
/// synced_files.
void count_sync();

/// A failed copy: `reading` tells whether the source or the copy failed.
struct CopyFailure {
  bool reading = false;
  std::string text;  ///< the system error text
};

/// A file this process has just created, open for writing. Deleted again
/// when destroyed before commit() succeeded.
class NewFile {
 public:
  /// Creates the file `name` in `folder`, which must not exist (Exists when
  /// it does; never through a link) and outlives the NewFile: readable by
  /// its owner only when the file `like` there exists, else with the usual
  /// permissions of a new file. On Windows it takes over the attributes and
  /// the access entries of its own of `like` here.
  static Result<NewFile, Failure> create(const Folder& folder, std::string name,
                                         const std::string& like);

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
  /// does not exist or is a link now, and on Windows (done by create).
  Result<void, std::string> adopt(const std::string& like);
  /// Closes the file and renames it over `target` in its folder; on POSIX
  /// the folder is flushed after the rename. The file is no longer ours to
  /// delete when this succeeds.
  Result<void, std::string> commit(const std::string& target);

 private:
  /// Closes the file and deletes it.
  struct Discard {
    static constexpr std::intptr_t invalid = -1;
    const Folder* folder = nullptr;
    std::string name;
    void close(std::intptr_t handle) const;
  };

  NewFile(std::intptr_t handle, const Folder& folder, std::string name)
      : handle_(handle, Discard{&folder, std::move(name)}) {}
  const Folder& folder() const { return *handle_.closer().folder; }
  const std::string& name() const { return handle_.closer().name; }

  platform::UniqueHandle<Discard> handle_;
};

/// Locks the open file without waiting: true when locked, false when
/// another holder has it.
Result<bool, std::string> try_lock(std::intptr_t handle);

/// Opens (creating with mode 0600) the lock file at `path`.
Result<std::intptr_t, std::string> open_lock_file(const std::string& path);

/// Opens (creating with mode 0600) the lock file `name` of `folder`, never
/// through a link and without waiting. On POSIX a file that is not a
/// regular file of this user's is Changeable: someone else may hold it or
/// swap it.
Result<std::intptr_t, Failure> open_own_lock_file(const Folder& folder, const std::string& name);

/// Whether `path` still names the open file `handle`: false once the file
/// was deleted, or another took its name.
bool names_file(const std::string& path, std::intptr_t handle);

/// Makes the open file `handle` hold `text` alone.
Result<void, std::string> rewrite(std::intptr_t handle, std::string_view text);

}  // namespace vellumo::files::system
