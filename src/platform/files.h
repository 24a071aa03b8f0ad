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

#include "core/result.h"
#include "platform/handle.h"

namespace vellumo::files {

/// `folder` and `name` joined with this system's separator.
std::string join(std::string_view folder, std::string_view name);

/// The app's per-user data folder: `Vellumo` inside the first of
/// LOCALAPPDATA, XDG_DATA_HOME and HOME + ".local/share" whose value is an
/// absolute path. nullopt when none is: nothing is then kept on disk,
/// rather than somewhere below the current folder.
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

/// Creates the folder `path` and every missing parent. Succeeds when the
/// folder exists already.
Result<void, std::string> create_folders(const std::string& path);

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
/// - a symbolic link is followed to its final file (a loop, or a link that
///   leads nowhere, is an error), which is replaced; the link stays;
/// - the new text goes into a temporary sibling of that file with a name of
///   its own ("<name>.<random>.vellumo-tmp"), created exclusively (never
///   through a link), given the original's permissions, owner and group
///   (where allowed) and, on Windows, its attributes and its own access
///   entries; a new file gets the usual permissions of a new file;
/// - the data reaches the disk before the rename over the final file, and
///   on POSIX the folder's entry after it.
/// On any failure the file is left as it was and no temporary file is
/// left; the error is "Cannot write {path}: {why}". Never creates a folder.
Result<void, std::string> write_file_replacing(const std::string& path, std::string_view text);

/// Copies the file `from` over `to` in large blocks, through a temporary
/// sibling as write_file_replacing does, asking `keep_going` before each
/// block. True when done; false when `keep_going` said stop, in which case
/// `to` is untouched. The errors are "Cannot read {from}: {why}" and
/// "Cannot write {to}: {why}".
Result<bool, std::string> copy_file_replacing(const std::string& from, const std::string& to,
                                              const std::function<bool()>& keep_going);

/// An exclusive lock on a file, held between processes of ours until it is
/// destroyed (flock on POSIX, LockFileEx on Windows). The file is created
/// (mode 0600) when missing and, unless acquired with a note, never
/// deleted.
class FileLock {
 public:
  /// Locks the file at `path`, waiting up to `patience` for another holder.
  /// nullopt when the wait ran out.
  static Result<std::optional<FileLock>, std::string> acquire(const std::string& path,
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
enum class ReplaceStep { CreateTemporary, Write, Flush, Rename };

/// Makes the next replacements fail at `step` (nullopt: none), as the
/// system would. For tests only.
void inject_replace_failure(std::optional<ReplaceStep> step);

}  // namespace vellumo::files
