#include <sys/stat.h>
#include <unistd.h>

#include "agent_integration/agent_paths.h"
#include "platform/files.h"

namespace vellumo::agents {

std::optional<std::string> home_folder() { return files::env_path("HOME"); }

std::string claude_desktop_folder(const std::string& home) {
  if (const auto app_data = files::env_path("APPDATA")) {
    return files::join(*app_data, "Claude");
  }
#if defined(__APPLE__)
  return files::join(files::join(files::join(home, "Library"), "Application Support"), "Claude");
#else
  // As every XDG program does, take XDG_CONFIG_HOME only when it is an
  // absolute path.
  const auto config = files::env_path("XDG_CONFIG_HOME");
  return files::join(config ? *config : files::join(home, ".config"), "Claude");
#endif
}

const std::vector<std::string>& claude_program_names() {
  static const std::vector<std::string> names = {"claude"};
  return names;
}

std::vector<std::string> split_path_list(std::string_view value) {
  return split_posix_path_list(value);
}

bool is_claude_program(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace vellumo::agents
