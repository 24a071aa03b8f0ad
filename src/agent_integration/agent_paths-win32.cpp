#include "agent_integration/agent_paths.h"
#include "platform/files.h"

namespace vellumo::agents {

std::optional<std::string> home_folder() { return files::env_path("USERPROFILE"); }

std::string claude_desktop_folder(const std::string& home) {
  const auto app_data = files::env_path("APPDATA");
  return files::join(app_data ? *app_data : files::join(home, "AppData/Roaming"), "Claude");
}

const std::vector<std::string>& claude_program_names() {
  static const std::vector<std::string> names = {"claude.exe", "claude.cmd"};
  return names;
}

std::vector<std::string> split_path_list(std::string_view value) {
  return split_windows_path_list(value);
}

bool is_claude_program(const std::string& path) { return files::is_regular_file(path); }

}  // namespace vellumo::agents
