#include "core/paths.h"

namespace vellumo {
namespace {

// Length of the root at the start of `path`: "C:\", "\\server\share\",
// "\" or "/"; 0 for a relative path.
std::size_t root_length(std::string_view path, PathStyle style) {
  if (style == PathStyle::Posix) {
    return !path.empty() && path[0] == '/' ? 1 : 0;
  }
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 2 && sep(path[0]) && sep(path[1])) {
    // \\server\share\ : the root runs past the share name.
    std::size_t i = 2;
    for (int parts = 0; parts < 2 && i < path.size(); ++parts) {
      while (i < path.size() && !sep(path[i])) {
        ++i;
      }
      if (i < path.size()) {
        ++i;
      }
    }
    return i;
  }
  if (path.size() >= 2 && path[1] == ':') {
    return path.size() >= 3 && sep(path[2]) ? 3 : 2;
  }
  return !path.empty() && sep(path[0]) ? 1 : 0;
}

// Length of the Windows prefix of `path` (drive, share, verbatim or device
// part, without the root separator after it); 0 when there is none.
std::size_t windows_prefix_length(std::string_view path) {
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  auto component_end = [&](std::size_t from) {
    while (from < path.size() && !sep(path[from])) {
      ++from;
    }
    return from;
  };
  if (path.starts_with("\\\\")) {
    if (path.starts_with("\\\\?\\")) {
      if (path.substr(4).starts_with("UNC\\")) {
        const std::size_t server = component_end(8);
        return server < path.size() ? component_end(server + 1) : server;
      }
      return component_end(4);
    }
    if (path.starts_with("\\\\.\\")) {
      return component_end(4);
    }
    // \\server\share
    const std::size_t server = component_end(2);
    return server < path.size() ? component_end(server + 1) : server;
  }
  const bool letter =
      !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (letter && path.size() >= 2 && path[1] == ':') {
    return 2;
  }
  return 0;
}

bool is_drive_prefix(std::string_view path, std::size_t prefix) {
  return prefix == 2 && path[1] == ':';
}

}  // namespace

bool is_separator(char c, PathStyle style) {
  return c == '/' || (style == PathStyle::Windows && c == '\\');
}

std::optional<std::string> parent_folder(std::string_view path, PathStyle style) {
  const std::size_t root = root_length(path, style);
  std::size_t end = path.size();
  while (end > root && is_separator(path[end - 1], style)) {
    --end;
  }
  if (end <= root) {
    return std::nullopt;
  }
  std::size_t cut = end;
  while (cut > root && !is_separator(path[cut - 1], style)) {
    --cut;
  }
  if (cut == 0) {
    return std::nullopt;
  }
  // Drop the separators between the folder and the last component, but
  // never the root's own.
  while (cut > root && is_separator(path[cut - 1], style)) {
    --cut;
  }
  return std::string(path.substr(0, cut));
}

std::string join_path(std::string_view folder, std::string_view name, PathStyle style) {
  std::string joined(folder);
  if (!joined.empty() && !is_separator(joined.back(), style)) {
    joined += style == PathStyle::Windows ? '\\' : '/';
  }
  joined += name;
  return joined;
}

bool is_absolute_path(std::string_view path, PathStyle style) {
  if (style == PathStyle::Posix) {
    return path.starts_with('/');
  }
  const std::size_t prefix = windows_prefix_length(path);
  if (prefix == 0) {
    return false;
  }
  if (is_drive_prefix(path, prefix)) {
    return path.size() > 2 && is_separator(path[2], style);
  }
  return true;
}

std::string resolve_against(std::string_view current, std::string_view path, PathStyle style) {
  if (is_absolute_path(path, style)) {
    return std::string(path);
  }
  if (style == PathStyle::Windows) {
    if (windows_prefix_length(path) > 0) {
      return std::string(path);  // D:notes.md: a drive of its own
    }
    if (!path.empty() && is_separator(path[0], style)) {
      return std::string(current.substr(0, windows_prefix_length(current))) + std::string(path);
    }
  }
  return join_path(current, path, style);
}

std::optional<std::string_view> file_name(std::string_view path, PathStyle style) {
  std::size_t start = style == PathStyle::Windows ? windows_prefix_length(path) : 0;
  std::optional<std::string_view> last;
  while (start < path.size()) {
    std::size_t end = start;
    while (end < path.size() && !is_separator(path[end], style)) {
      ++end;
    }
    const std::string_view component = path.substr(start, end - start);
    if (!component.empty() && component != ".") {
      last = component;
    }
    start = end + 1;
  }
  if (!last || *last == "..") {
    return std::nullopt;
  }
  return last;
}

}  // namespace vellumo
