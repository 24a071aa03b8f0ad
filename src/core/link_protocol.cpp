#include "core/link_protocol.h"

namespace vellumo {

std::string user_tag(const std::optional<std::string>& username) {
  constexpr std::size_t kMaxTag = 64;
  std::string tag;
  if (username) {
    for (char c : *username) {
      const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
      if (keep) {
        tag += c;
        if (tag.size() == kMaxTag) {
          break;
        }
      }
    }
  }
  return tag.empty() ? "user" : tag;
}

}  // namespace vellumo
