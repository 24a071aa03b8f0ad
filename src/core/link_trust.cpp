#include "core/link_trust.h"

namespace vellumo {

std::optional<std::string> distrust_reason(const ProcessIdentity& server,
                                           const ProcessIdentity& self) {
  if (server.user != self.user) {
    return "it is served by another user (" + server.user + ")";
  }
  if (self.integrity && (!server.integrity || *server.integrity < *self.integrity)) {
    return std::string("it is served at a lower integrity level than ours");
  }
  return std::nullopt;
}

std::optional<std::string> unsafe_folder_reason(const FolderFacts& folder, std::uint32_t uid,
                                                bool allow_group_and_other_read,
                                                std::optional<std::uint32_t> writing_group) {
  if (!folder.is_directory) {
    return std::string("is not a folder");
  }
  if (folder.owner != uid) {
    return "is owned by another user (uid " + std::to_string(folder.owner) + ")";
  }
  std::uint32_t forbidden = allow_group_and_other_read ? 0022 : 0077;
  if (writing_group && folder.group == *writing_group) {
    forbidden &= ~std::uint32_t{0020};
  }
  if ((folder.mode & forbidden) != 0) {
    return allow_group_and_other_read ? std::string("can be written by other users")
                                      : std::string("can be used by other users");
  }
  return std::nullopt;
}

bool others_could_change(const FolderFacts& entry, std::uint32_t uid, std::uint32_t group) {
  if (entry.owner != uid && entry.owner != 0) {
    return true;
  }
  if (entry.is_directory && entry.owner == 0 && (entry.mode & 01000) != 0) {
    return false;
  }
  const std::uint32_t writers = entry.group == group ? 0002 : 0022;
  return (entry.mode & writers) != 0;
}

}  // namespace vellumo
