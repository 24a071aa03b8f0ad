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

/// A failed call, with what the callers tell apart.
struct Failure {
  enum Kind { Other, Missing, Exists } kind = Other;
  std::string text;  ///< the system error text
};

/// At most `limit` bytes of the file at `path`, read in large blocks.
Result<std::string, Failure> read_bytes(const std::string& path, std::size_t limit);

Result<FileFacts, std::string> inspect(const std::string& path);

/// Creates the one folder `path`; its parent must exist.
Result<void, Failure> make_folder(const std::string& path);

/// The file `path` leads to: `path` itself unless it is a symbolic link,
/// else the end of its chain of links. A path that does not exist is its
/// own final file; a link that leads nowhere, or a loop, is the error.
Result<std::string, std::string> final_path(const std::string& path);

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
  /// through a link), with what of the file `like` must survive its
  /// replacement: permissions, owner, group; on Windows the attributes and
  /// the access entries of its own. When `like` does not exist, the new
  /// file has the usual permissions of a new file.
  static Result<NewFile, Failure> create(const std::string& path, const std::string& like);

  Result<void, std::string> write(std::string_view bytes);
  /// Appends the file `from` in large blocks, asking `keep_going` before
  /// each; false when it said stop.
  Result<bool, CopyFailure> append_file(const std::string& from,
                                        const std::function<bool()>& keep_going);
  /// Brings the data to the disk (fsync, FlushFileBuffers).
  Result<void, std::string> flush();
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
