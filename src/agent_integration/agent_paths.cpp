#include "agent_integration/agent_paths.h"

namespace vellumo::agents {

std::vector<std::string> split_windows_path_list(std::string_view value) {
  std::vector<std::string> entries(1);
  bool quoted = false;
  for (char c : value) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ';' && !quoted) {
      entries.emplace_back();
    } else {
      entries.back() += c;
    }
  }
  return entries;
}

std::vector<std::string> split_posix_path_list(std::string_view value) {
  std::vector<std::string> entries(1);
  for (char c : value) {
    if (c == ':') {
      entries.emplace_back();
    } else {
      entries.back() += c;
    }
  }
  return entries;
}

}  // namespace vellumo::agents
