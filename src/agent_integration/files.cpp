// The portable half of files.h.

#include "agent_integration/files.h"
#include "platform/platform.h"

namespace vellumo::agents::files {

std::string join(std::string_view folder, std::string_view name) {
  return join_path(folder, name, platform::kPathStyle);
}

std::string temporary_sibling(std::string_view path) {
  std::size_t name_start = path.size();
  while (name_start > 0 && !is_separator(path[name_start - 1], platform::kPathStyle)) {
    --name_start;
  }
  const std::string_view name = path.substr(name_start);
  const std::size_t dot = name.rfind('.');
  std::string temporary(path);
  // No dot, or only a leading one (".bashrc"), or the special name "..":
  // the name has no extension.
  if (dot == std::string_view::npos || dot == 0 || name == "..") {
    temporary += ".vellumo-tmp";
  } else {
    temporary.resize(name_start + dot + 1);
    temporary += "vellumo-tmp";
  }
  return temporary;
}

Result<void, std::string> write_file_replacing(const std::string& path, std::string_view text) {
  const std::string temporary = temporary_sibling(path);
  auto done = write_whole_file(temporary, text);
  if (done) {
    done = rename_replacing(temporary, path);
  }
  if (!done) {
    (void)remove_file(temporary);
    return "Cannot write " + path + ": " + done.error();
  }
  return {};
}

}  // namespace vellumo::agents::files
