#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellumo {

/// Path syntax: Windows accepts `\` and `/` as separators and has drive and
/// UNC roots; POSIX has `/` only.
enum class PathStyle { Windows, Posix };

bool is_separator(char c, PathStyle style);

/// The folder holding `path`, kept with its separator when it is a root
/// ("C:\", "/"). nullopt when `path` has no folder part or is a root itself.
std::optional<std::string> parent_folder(std::string_view path, PathStyle style);

/// `folder` and `name` with one separator between them.
std::string join_path(std::string_view folder, std::string_view name, PathStyle style);

/// Whether `path` is absolute. POSIX: it starts with `/`. Windows: it has
/// a prefix (a UNC share `\\server\share`, a verbatim `\\?\` or device
/// `\\.\` prefix, or a drive `C:`), and a drive is followed by a separator.
bool is_absolute_path(std::string_view path, PathStyle style);

/// `path` taken relative to the folder `current`, without normalising `.`
/// or `..`: an absolute path, or one with a drive of its own (`D:x`), stays
/// as it is; a path starting with a separator keeps only the drive or share
/// of `current`; any other path is appended after one separator.
std::string resolve_against(std::string_view current, std::string_view path, PathStyle style);

/// The last component of `path` when it names a file or folder: trailing
/// separators and `.` components are skipped; nullopt for a root, an empty
/// path or a last component `..`.
std::optional<std::string_view> file_name(std::string_view path, PathStyle style);

}  // namespace vellumo
