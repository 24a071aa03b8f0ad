#pragma once

// Files: whole-file reads, folders, existence checks, the safe replacement
// of a file that may belong to another program, and a lock between our own
// processes. The system calls live in files-posix.cpp and files-win32.cpp
// (the build picks one); paths are UTF-8 on both sides. Errors are the
// system error text: the system's message, then " (os error N)".

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "platform/handle.h"

namespace vellumo::files {

/// `folder` and `name` joined with this system's separator.
std::string join(std::string_view folder, std::string_view name);

/// The value of the environment variable `name` when it names a folder:
/// set and an absolute path. An unset, empty or relative value is nullopt:
/// it would lead below whatever folder the program happens to run in. The
/// one rule for every variable that names a folder (HOME, USERPROFILE,
/// CODEX_HOME, XDG_DATA_HOME, LOCALAPPDATA, APPDATA, ...).
std::optional<std::string> env_path(const char* name);

/// The app's per-user data folder: `Vellumo` inside the first of
/// LOCALAPPDATA, XDG_DATA_HOME (either made when missing) and HOME +
/// ".local/share" that env_path takes, HOME only when it is an existing
/// folder. nullopt when none is: nothing is then kept on disk, rather than
/// somewhere below the current folder or below a home that is not there.
std::optional<std::string> data_folder();

/// What is at a path, links followed.
struct FileFacts {
  bool exists = false;
  bool folder = false;
  std::uint64_t size = 0;
};

/// What is at `path`; a missing file (or a missing folder on its way) is
/// no error.
Result<FileFacts, std::string> inspect(const std::string& path);

/// True when `path` names an existing folder (links followed).
bool is_directory(const std::string& path);

/// True when `path` names an existing file that is not a folder (links
/// followed).
bool is_regular_file(const std::string& path);

/// The whole content of the file at `path`. nullopt when the file does not
/// exist; any other failure (a folder, no permission, ...) is the error.
Result<std::optional<std::string>, std::string> read_whole_file(const std::string& path);

/// The content of the file at `path`, which must exist and hold at most
/// `limit` bytes; a larger file is the error "the file is larger than N
/// bytes". A relative path is taken from the current folder.
Result<std::string, std::string> read_file(const std::string& path, std::size_t limit);

/// At most `limit` bytes from the start of the file at `path`.
Result<std::string, std::string> read_head(const std::string& path, std::size_t limit);

/// Creates the folder `path` and every missing parent, each with `mode`
/// less the umask (POSIX; Windows has no mode). Succeeds when the folder
/// exists already.
Result<void, std::string> create_folders(const std::string& path, std::uint32_t mode = 0777);

/// A folder held open where it was found: what is done in it is done in
/// that very folder, whatever is put at its path later. POSIX: an open
/// descriptor; Windows: none (-1), the path being used instead (a
/// profile's folders are the user's by their access lists).
class Folder {
 public:
  Folder() = default;
  Folder(std::intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  std::intptr_t handle() const { return handle_.get(); }
  /// Its path, with no link left in it (POSIX): for messages, and where
  /// Windows opens what is in it.
  const std::string& path() const { return path_; }
  /// The path of `name` in it.
  std::string path_of(std::string_view name) const;

 private:
  platform::UniqueHandle<platform::SystemHandle> handle_;
  std::string path_;
};

/// Why the program's own folder or file could not be had.
struct OwnError {
  /// What someone other than this user or root could change: a folder on
  /// the way, the folder itself, a link of theirs, the file itself.
  std::optional<std::string> changeable;
  std::string text;  ///< else: the system error text
};

/// The program's own folder at `path` (its data folder), held open. Walked
/// one name at a time from the root, each existing folder judged before
/// anything is made: a folder on the way that someone other than this user
/// or root could change (owned by another user, or writable by others or
/// by a group other than our primary group; a root-owned folder with the
/// sticky bit, such as /tmp, is safe), a link of another user's on the way,
/// or the folder itself when it is not ours alone (see
/// unsafe_folder_reason) is `changeable`, the first from the root down.
/// Only then are the missing folders made, each below the last, with
/// exactly `mode` whatever the umask, and held open. POSIX; on Windows the
/// folders are made by path and none is changeable.
Result<Folder, OwnError> open_own_folder(const std::string& path, std::uint32_t mode = 0700);

/// POSIX, as the superuser: the first of `path` and the folders above it
/// that exists, when it belongs to another user, which says that we run
/// with that user's environment (sudo keeping HOME); nullopt otherwise, and
/// always on Windows.
std::optional<std::string> other_users_folder(const std::string& path);

/// POSIX: whether the way to `path` (its folders, and `path` itself when it
/// is a link) goes through a symbolic link that neither this process's user
/// nor root owns: one that someone else may have planted to steer a write.
/// Such a link is never followed to a file that is replaced. Always false
/// on Windows.
bool reached_through_foreign_link(const std::string& path);

/// "{path}: reached through a link owned by another user, left alone".
std::string foreign_link_left_alone(std::string_view path);

/// Renames `from` over `to`, replacing a file there. POSIX: rename.
/// Windows: MoveFileExW with MOVEFILE_REPLACE_EXISTING; when that is
/// refused with ERROR_ACCESS_DENIED, SetFileInformationByHandle with
/// FileRenameInfoEx (FILE_RENAME_FLAG_REPLACE_IF_EXISTS and
/// FILE_RENAME_FLAG_POSIX_SEMANTICS) on the opened file `from`.
Result<void, std::string> rename_replacing(const std::string& from, const std::string& to);

/// Deletes the file at `path` (unlink, DeleteFileW).
Result<void, std::string> remove_file(const std::string& path);

/// Replaces the file at `path` by `text` so that no reader ever sees a
/// partial file and nothing of the original is weakened:
/// - a symbolic link, in the folders on the way or at the name, is followed
///   to its final file (a loop, or a link that leads nowhere, is an error),
///   which is replaced; the link stays. On POSIX only a link of this
///   process's user or of root is followed: another one is the error
///   "reached through a link owned by another user". The folder of the
///   final file is found once, name by name, and held open: every later
///   step is made in that folder, whatever is put at its path meanwhile;
/// - the new text goes into a temporary sibling of that file with a name of
///   its own ("<name>.<random>.vellumo-tmp", <name> cut short by whole
///   characters where the folder's limit on a name asks), created
///   exclusively (never through a link) and readable by its owner only;
/// - the data reaches the disk; then the temporary file takes over the
///   original's owner and group (where allowed), every extended attribute
///   (its access list among them) and last its permissions, set-ID bits
///   included, which a write would clear; on Windows its attributes and
///   its own access entries. An attribute that cannot be kept is the error
///   "cannot keep its attributes: {why}". A new file gets the usual
///   permissions of a new file;
/// - the rename over the final file, and on POSIX the flush of the
///   folder's entry after it.
/// On any failure the file is left as it was and no temporary file is
/// left; the error is "Cannot write {path}: {why}". Never creates a folder.
Result<void, std::string> write_file_replacing(const std::string& path, std::string_view text);

/// The most a file read for an edit may hold: 64 MiB.
inline constexpr std::uint64_t kMaxEditedSize = std::uint64_t{64} << 20;

/// A file read for an edit, or why it was not read.
struct ReadForEdit {
  /// The content; nullopt when there is no file, or it was left alone.
  std::optional<std::string> text;
  /// "{path}: not a regular file, left alone", "{path}: larger than 64 MiB,
  /// left alone" or foreign_link_left_alone when the path names something
  /// that is not read.
  std::optional<std::string> left_alone;
};

/// What edit_file did.
struct Edited {
  bool written = false;
  /// Why the file was not touched, when it was left alone: the reasons of
  /// ReadForEdit, and, when a write was due, "{path}: would grow past
  /// 64 MiB, left alone" (the new text is larger than kMaxEditedSize),
  /// "{path}: read-only, left alone", "{path}: has other hard links, left
  /// alone" or "{path}: owned by another user or group, left alone" (a
  /// replacement could not keep that owner or group).
  std::optional<std::string> left_alone;
};

/// The new text for a file, given its text (nullopt: there is no file);
/// nullopt when there is nothing to write.
using EditTransform =
    std::function<std::optional<std::string>(const std::optional<std::string>& text)>;

/// Edits the file at `path`, which belongs to another program: reads it
/// (opened without waiting, so that a FIFO or a device never blocks it, and
/// read only when it is a regular file of at most kMaxEditedSize bytes),
/// asks `transform` for the new text, and when there is one and the file
/// can be replaced without taking anything away, writes it as
/// write_file_replacing does. Just before the rename the file is
/// looked at again; when it changed since it was read (another program
/// wrote it meanwhile), the edit is made again from its new content, three
/// times at most, `transform` being asked each time. The error is the
/// system error text of a failed read, or "Cannot write {path}: {why}",
/// "Cannot write {path}: it kept changing while being edited" among them.
Result<Edited, std::string> edit_file(const std::string& path, const EditTransform& transform);

/// Reads the program's own file `name` of `folder` as edit_file reads;
/// anything there but a regular file of this user's (a link, a FIFO, a file
/// that someone else made) is no file of ours: no text.
Result<ReadForEdit, std::string> read_own_file(const Folder& folder, const std::string& name);

/// Writes `text` as the program's own file `name` of `folder`, through a
/// temporary sibling as write_file_replacing does, but as a file of its
/// own: what read_own_file takes for no file of ours is replaced, a link
/// never followed; the new file is this user's and readable and writable
/// by its owner only (0600 on POSIX, whatever the umask and the old file's
/// permissions). A file of ours over 64 MiB, read-only or with other hard
/// links is left alone, as edit_file leaves it.
Result<Edited, std::string> write_own_file(const Folder& folder, const std::string& name,
                                           std::string_view text);

/// Copies the file `from` over `to` in large blocks, through a temporary
/// sibling as write_file_replacing does, asking `keep_going` before each
/// block. True when done; false when `keep_going` said stop, in which case
/// `to` is untouched. The errors are "Cannot read {from}: {why}" and
/// "Cannot write {to}: {why}".
Result<bool, std::string> copy_file_replacing(const std::string& from, const std::string& to,
                                              const std::function<bool()>& keep_going);

/// Where remove_leftovers looks, and what it takes.
enum class Leftovers {
  Files,  ///< beside the file `path` leads to (links followed): regular files
  Links,  ///< beside `path` itself, a link place_link made: links and regular files
};

/// Deletes what an interrupted replacement may have left: the entries
/// owned by this user, of the kinds above, named exactly the file's name
/// (cut short as a temporary name cuts it), a dot, eight letters or digits
/// and ".vellumo-tmp". Anything else of such a name stays. Only for a caller that holds the lock
/// which every writer of that file holds, so that no other process is writing them. Errors are
/// passed over: whatever is left is left.
void remove_leftovers(const std::string& path, Leftovers kind = Leftovers::Files);

/// remove_leftovers for the program's own file `name` of `folder`.
void remove_own_leftovers(const Folder& folder, const std::string& name);

/// What is at `path` itself, a link not followed (POSIX only).
struct LinkFacts {
  bool exists = false;
  std::optional<std::string> link_text;  ///< when it is a symbolic link
};
Result<LinkFacts, std::string> inspect_link(const std::string& path);

/// Points the symbolic link `link` at `target` (the link's text),
/// replacing in one step whatever link is there: a new link with a
/// temporary name of its own ("<name>.<random>.vellumo-tmp") renamed over
/// it. On failure nothing is left beside it.
Result<void, std::string> place_link(const std::string& target, const std::string& link);

/// An exclusive lock on a file, held between processes of ours until it is
/// destroyed (flock on POSIX, LockFileEx on Windows). The file is created
/// (mode 0600) when missing and, unless acquired with a note, never
/// deleted.
class FileLock {
 public:
  /// Locks the file `name` of the program's own `folder`, waiting up to
  /// `patience` for another holder. nullopt when the wait ran out; the
  /// error when the file cannot be made, opened or locked for any other
  /// reason: `changeable` (POSIX) when it is not a regular file of this
  /// user's, which someone else could hold or swap. The file is opened
  /// without waiting and never through a link (POSIX O_NOFOLLOW; on Windows
  /// a reparse point is refused).
  static Result<std::optional<FileLock>, OwnError> acquire(const Folder& folder,
                                                           const std::string& name,
                                                           std::chrono::milliseconds patience);

  /// Like acquire, for a lock whose file is there only while it is held:
  /// once locked, the file holds `note` alone (say, the holder's process
  /// ID), and releasing the lock deletes the file before unlocking it. A
  /// file that its holder deleted while we waited is let go, and the one
  /// now at `path` is waited for instead. An open that fails is tried
  /// again while the patience lasts (Windows refuses to open a file that
  /// is being deleted), then its error is returned.
  static Result<std::optional<FileLock>, std::string> acquire_noted(
      const std::string& path, std::chrono::milliseconds patience, std::string_view note);

 private:
  /// Closes the lock file, first deleting it when `remove` names it.
  struct Release {
    static constexpr std::intptr_t invalid = -1;
    std::string remove;
    void close(std::intptr_t handle) const;
  };

  explicit FileLock(std::intptr_t handle) : handle_(handle) {}
  platform::UniqueHandle<Release> handle_;
};

/// The steps of a replacement, for tests that make one of them fail.
enum class ReplaceStep { CreateTemporary, Write, Flush, Attributes, Rename };

/// Makes the next replacements fail at `step` (nullopt: none), and
/// place_link at Rename, as the system would. For tests only.
void inject_replace_failure(std::optional<ReplaceStep> step);

/// Has every replacement call `before` just before each of its steps, and
/// place_link before its rename, as another program would come in between
/// (an empty function: none). For tests only.
void inject_before_step(std::function<void(ReplaceStep step)> before);

/// Has every edit_file call `change` with the final path of the file it
/// edits after reading it and before the rename, as another program's
/// write would come (an empty function: none). For tests only.
void inject_change_before_rename(std::function<void(const std::string& path)> change);

/// Has every replacement call `created` with the path of its temporary
/// file just after creating it, before its cleanup is armed (an empty
/// function: none); so does place_link with its temporary link. For tests
/// only.
void inject_after_create(std::function<void(const std::string& path)> created);

/// Makes setting the mode of a folder open_own_folder made, without
/// following a link, fail with EOPNOTSUPP (true) or not (false), as a C
/// library that cannot do so would (POSIX; nothing on Windows). For tests
/// only.
void inject_chmod_unsupported(bool unsupported);

/// How many files this process's replacements have brought to the disk so
/// far. For tests only.
std::uint64_t synced_files();

/// The names of the temporary files and links an ending signal would
/// delete now. For tests only.
std::vector<std::string> remembered_temporaries();

/// Runs `work`, which starts threads, so that those threads never take a
/// signal that ends the process (POSIX): the signals remember_temporary
/// handles are blocked in this thread meanwhile, and a thread started
/// inside inherits them blocked. Such a signal then waits for the main
/// thread, which holds it back only while arming a temporary file's
/// cleanup; taken by another thread in that moment, it would end the
/// process with the file left behind. On Windows `work` just runs: Ctrl+C
/// is handled on a thread of its own.
void starting_threads(const std::function<void()>& work);

/// POSIX: the first of the folders from the root down to `path`, then
/// `path` itself (when it exists), that someone other than this
/// process's user or root could change (as root: anyone but root): one
/// owned by another user, or writable by others or by a group other
/// than our primary group, a root-owned folder with the sticky bit
/// excepted; or a link on the way that belongs to someone else (named
/// by its own path). nullopt when there is none; always on Windows.
std::optional<std::string> changeable_by_others(const std::string& path);

}  // namespace vellumo::files
