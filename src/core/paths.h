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

}  // namespace vellumo
