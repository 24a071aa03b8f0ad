#include <sys/stat.h>
#include <unistd.h>

#include "agent_integration/agent_paths.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace vellumo::agents {

std::optional<std::string> home_folder() { return platform::get_env("HOME"); }

std::string claude_desktop_folder(const std::string& home) {
  if (const auto app_data = platform::get_env("APPDATA")) {
    return files::join(*app_data, "Claude");
  }
#if defined(__APPLE__)
  return files::join(files::join(files::join(home, "Library"), "Application Support"), "Claude");
#else
  // As every XDG program does, take XDG_CONFIG_HOME only when it is an
  // absolute path: an empty or relative value would send us to a folder
  // below wherever the CLI happens to run.
  const auto config = platform::get_env("XDG_CONFIG_HOME");
  const bool usable = config && config->starts_with('/');
  return files::join(usable ? *config : files::join(home, ".config"), "Claude");
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
