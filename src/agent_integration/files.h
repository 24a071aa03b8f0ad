#pragma once

// The file operations of the configuration editors. The operating-system
// calls live in files-posix.cpp and files-win32.cpp (the build picks one);
// paths are UTF-8 on both sides (the Windows side converts them to UTF-16
// for the W functions). Errors are the system error text: the system's
// message, then " (os error N)".

#include <optional>
#include <string>
#include <string_view>

#include "core/paths.h"
#include "core/result.h"

namespace vellumo::agents::files {

/// `folder` and `name` joined with this system's separator.
std::string join(std::string_view folder, std::string_view name);

/// The whole content of the file at `path`, as bytes. nullopt when the file
/// does not exist (ENOENT; ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND);
/// any other failure (a folder, no permission, ...) is the error.
Result<std::optional<std::string>, std::string> read_whole_file(const std::string& path);

/// True when `path` names an existing folder (links followed).
bool is_directory(const std::string& path);

/// True when `path` names an existing regular file (links followed).
bool is_regular_file(const std::string& path);

/// Creates the folder `path` and every missing parent. Succeeds when the
/// folder exists already.
Result<void, std::string> create_folders(const std::string& path);

/// Writes `bytes` to `path` in one large block, creating or truncating the
/// file. Nothing else: no temporary file, no rename.
Result<void, std::string> write_whole_file(const std::string& path, std::string_view bytes);

/// Renames the file `from` over `to`, replacing a file there. POSIX:
/// rename. Windows: MoveFileExW with MOVEFILE_REPLACE_EXISTING; when that
/// is refused with ERROR_ACCESS_DENIED, SetFileInformationByHandle with
/// FileRenameInfoEx (FILE_RENAME_FLAG_REPLACE_IF_EXISTS and
/// FILE_RENAME_FLAG_POSIX_SEMANTICS) on the opened file `from`.
Result<void, std::string> rename_replacing(const std::string& from, const std::string& to);

/// Deletes the file at `path` (unlink, DeleteFileW).
Result<void, std::string> remove_file(const std::string& path);

/// The temporary sibling of `path`: the file name's extension
/// replaced by "vellumo-tmp", or ".vellumo-tmp" appended to a name without
/// one. "settings.json" -> "settings.vellumo-tmp", "config" ->
/// "config.vellumo-tmp", ".bashrc" -> ".bashrc.vellumo-tmp".
std::string temporary_sibling(std::string_view path);

/// Replaces the file at `path` by `text`: writes the temporary
/// sibling in one block, then renames it over `path`. On any failure the
/// temporary file is deleted (a failure to delete is ignored), the file at
/// `path` is left as it was, and the error is "Cannot write {path}: {system
/// error text}". Never creates a folder.
Result<void, std::string> write_file_replacing(const std::string& path, std::string_view text);

}  // namespace vellumo::agents::files
