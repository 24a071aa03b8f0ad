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

}  // namespace vellumo
