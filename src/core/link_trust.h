#pragma once

// Whom the CLI trusts at the other end of the app link: only a process of
// its own user, at an integrity level not below its own; and which folders
// no one else can change, for the link's socket and the CLI's own files.
// The platform layer gathers the identities; the decision is made here.

#include <cstdint>
#include <optional>
#include <string>

namespace vellumo {

/// Who a process runs as: its user (a uid in decimal, or a SID in string
/// form) and, where the system has them, its integrity level (the RID of
/// its mandatory label).
struct ProcessIdentity {
  std::string user;
  std::optional<std::uint32_t> integrity;
};

/// Why the request must not go to `server`, or nullopt when it may.
std::optional<std::string> distrust_reason(const ProcessIdentity& server,
                                           const ProcessIdentity& self);

/// What is known of a folder that is to hold the link's socket.
struct FolderFacts {
  bool is_directory = false;  ///< a real folder, not a link to one
  std::uint32_t owner = 0;    ///< owning uid
  std::uint32_t mode = 0;     ///< permission bits
  std::uint32_t group = 0;    ///< owning gid
};

/// Why the folder must not hold our files (not a folder, owned by someone
/// else, or open to group or others), or nullopt when it is private. With
/// `writing_group`, a folder of that group may be written by the group too
/// (the user's own primary group, which under a umask of 002 is theirs
/// alone).
std::optional<std::string> unsafe_folder_reason(
    const FolderFacts& folder, std::uint32_t uid, bool allow_group_and_other_read,
    std::optional<std::uint32_t> writing_group = std::nullopt);

/// Whether someone other than the user `uid` or root could change `entry`,
/// a folder or file on the way to a program we run: it is owned by another
/// user (when `uid` is root, by anyone but root), or it can be written by
/// others or by a group other than `group`, our primary group. A folder of
/// root's with the sticky bit (like /tmp) is the exception: there only
/// their owners may replace its entries.
bool others_could_change(const FolderFacts& entry, std::uint32_t uid, std::uint32_t group);

}  // namespace vellumo
