// Paths walked one name at a time through open folder descriptors, on
// POSIX: where an edit happens (locate), the program's own folder, judged
// before it is made (open_own_folder), and who could change the way to a
// program (changeable_by_others).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/link_trust.h"
#include "core/paths.h"
#include "platform/files.h"
#include "platform/files_posix.h"
#include "platform/files_system.h"
#include "platform/posix.h"

namespace vellumo::files::system {
namespace {

using posix::Fd;
using posix::open_at;
using posix::open_retrying;

// The longest chain of links followed, as the kernel's own limit (40).
constexpr int kMaxLinks = 40;

// The flags of a folder held open: O_PATH where there is one, which asks
// for no read permission (a walk only searches its folders, as the
// kernel's own walk does), never through a link.
#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
#endif

// Whether the link that lstat gave `info` for may be followed: one of
// ours or root's. Anyone else's may have been planted where we would
// follow it, to steer our write to a file of their choice.
bool trusted_link(const struct stat& info) {
  return info.st_uid == ::geteuid() || info.st_uid == 0;
}

// The text of the symbolic link `name` of the folder `at` (AT_FDCWD: a
// path), whose lstat gave `info`; the error is an errno.
Result<std::string, int> link_text(int at, const std::string& name, const struct stat& info) {
  std::string text(std::max<std::size_t>(PATH_MAX, static_cast<std::size_t>(info.st_size) + 1),
                   '\0');
  const ssize_t length = ::readlinkat(at, name.c_str(), text.data(), text.size());
  if (length < 0) {
    return Err{errno};
  }
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// What the rules of core/link_trust.h look at in `info`.
FolderFacts facts_of(const struct stat& info) {
  return {S_ISDIR(info.st_mode), static_cast<std::uint32_t>(info.st_uid),
          static_cast<std::uint32_t>(info.st_mode & 07777),
          static_cast<std::uint32_t>(info.st_gid)};
}

// Whether someone other than this process's user, or root, could change
// the folder or file of `info` (see vellumo::others_could_change).
bool others_could_change(const struct stat& info) {
  return vellumo::others_could_change(facts_of(info), ::geteuid(), ::getegid());
}

// Whether the program's own folder of `info` is ours alone.
bool own_folder(const struct stat& info) {
  return !unsafe_folder_reason(facts_of(info), ::geteuid(), true, ::getegid());
}

// Set by inject_chmod_unsupported.
std::atomic<bool> chmod_unsupported{false};

// fchmodat without following a link; EOPNOTSUPP, as some C libraries
// give, when a test asks for it.
int chmod_not_following(int at, const std::string& name, std::uint32_t mode) {
  if (chmod_unsupported.load(std::memory_order_relaxed)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::fchmodat(at, name.c_str(), static_cast<mode_t>(mode), AT_SYMLINK_NOFOLLOW);
}

// Gives the folder `name` of `at`, just made, exactly `mode`: the umask
// may have taken bits away, the owner's too. That folder, never what a
// link put in its place meanwhile would lead to.
void set_mode_of_new_folder(int at, const std::string& name, std::uint32_t mode) {
  if (chmod_not_following(at, name, mode) != 0 &&
      errno == EOPNOTSUPP) {  // a C library that cannot do so without following
    struct stat info {};
    if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
      (void)::fchmodat(at, name.c_str(), static_cast<mode_t>(mode), 0);
    }
  }
}

// How a walk ends.
enum class WalkTo {
  File,        // the folders, then the last name, followed while it is a link
  FileItself,  // the folders; the last name as it is
  Folder,      // every name a folder, down to the first that is missing
};

// Where a walk got to: the last folder it entered, held open, with its
// path, and the names below it that it did not walk: the file's name, or
// the missing folders from the first down.
struct Walked {
  Fd folder;
  std::string path;
  std::vector<std::string> rest;
};

// Walks `path` one name at a time, as the kernel walks it, each folder
// entered through the one above it and held open, so that a link among the
// folders is seen as well as one at the end and no name is looked up by
// path twice. A link is followed only when this user or root owns it.
// With `judge`, each folder entered, from the root down, must be one that
// no one else could change (Changeable otherwise).
Result<Walked, Failure> walk(const std::string& path, WalkTo to, bool judge) {
  struct Name {
    std::string text;
    bool from_link;  // a name in a link's text
  };
  std::vector<Name> rest;  // the names still to walk, the next one last
  const auto push = [&](std::string_view text, bool from_link) {
    std::vector<Name> names;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('/', start);
      end = end == std::string_view::npos ? text.size() : end;
      if (end > start) {
        names.push_back({std::string(text.substr(start, end - start)), from_link});
      }
      start = end + 1;
    }
    rest.insert(rest.end(), names.rbegin(), names.rend());
  };
  // What is walked so far: folders and no links, so that ".." is its
  // parent; relative to the current folder when `path` is.
  std::string done = path.starts_with('/') ? "/" : "";
  const auto below = [&](const std::string& name) {
    return done.empty() ? name : join_path(done, name, PathStyle::Posix);
  };
  const auto with_rest = [&](std::string at) {
    for (auto name = rest.rbegin(); name != rest.rend(); ++name) {
      at = join_path(at, name->text, PathStyle::Posix);
    }
    return at;
  };
  Fd at;
  const auto enter = [&](Fd folder) -> std::optional<Failure> {
    if (folder.get() < 0) {
      return failure(errno);
    }
    at = std::move(folder);
    if (!judge) {
      return std::nullopt;
    }
    struct stat info {};
    if (::fstat(at.get(), &info) != 0) {
      return failure(errno);
    }
    if (others_could_change(info)) {
      return Failure{Failure::Changeable, done.empty() ? "." : done};
    }
    return std::nullopt;
  };
  if (auto stop = enter(Fd(open_retrying(done.empty() ? "." : "/", kFolderFlags)))) {
    return *stop;
  }
  push(path, false);
  for (int links = 0; !rest.empty();) {
    const Name name = std::move(rest.back());
    rest.pop_back();
    if (name.text == ".") {
      continue;
    }
    const bool last = rest.empty();
    if (name.text == "..") {
      done = !done.empty() && done != ".." && !done.ends_with("/..")
                 ? parent_folder(done, PathStyle::Posix).value_or(done == "/" ? "/" : "")
                 : below(name.text);
      if (auto stop = enter(Fd(open_at(at.get(), "..", kFolderFlags)))) {
        return *stop;
      }
      continue;
    }
    struct stat info {};
    if (::fstatat(at.get(), name.text.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      const int error = errno;
      if (error == ENOENT && name.from_link) {
        return Failure{Failure::Missing,
                       "it is a link to " + with_rest(below(name.text)) + ", which does not exist"};
      }
      if (error != ENOENT || (!last && to != WalkTo::Folder)) {
        return failure(error);
      }
      Walked walked{std::move(at), done.empty() ? "." : done, {name.text}};
      for (auto next = rest.rbegin(); next != rest.rend(); ++next) {
        walked.rest.push_back(next->text);
      }
      return walked;
    }
    if (S_ISLNK(info.st_mode) && !(last && to == WalkTo::FileItself)) {
      if (!trusted_link(info)) {
        return Failure{Failure::ForeignLink, below(name.text)};
      }
      if (++links > kMaxLinks) {
        return failure(ELOOP);
      }
      auto text = link_text(at.get(), name.text, info);
      if (!text) {
        return failure(text.error());
      }
      if (text->starts_with('/')) {
        done.assign(1, '/');
        if (auto stop = enter(Fd(open_retrying("/", kFolderFlags)))) {
          return *stop;
        }
      }
      push(*text, true);
      continue;
    }
    if (last && to != WalkTo::Folder) {
      return Walked{std::move(at), done.empty() ? "." : done, {name.text}};
    }
    // A file on the way is ENOTDIR here, and a link put in the folder's
    // place since it was looked at ELOOP.
    done = below(name.text);
    if (auto stop = enter(Fd(open_at(at.get(), name.text.c_str(), kFolderFlags)))) {
      return *stop;
    }
  }
  return Walked{std::move(at), done.empty() ? "." : done, {}};
}

}  // namespace

Result<Place, Failure> locate(const std::string& path, Last last) {
  TRY(Walked walked, walk(path, last == Last::Followed ? WalkTo::File : WalkTo::FileItself, false));
  // A path that ends in a folder ("/", "a/..") names that folder itself.
  std::string name = walked.rest.empty() ? "." : std::move(walked.rest.front());
  return Place{Folder(walked.folder.release(), std::move(walked.path)), std::move(name)};
}

Result<Folder, Failure> open_own_folder(const std::string& path, std::uint32_t mode) {
  // Judged down to the last existing folder before anything is made.
  TRY(Walked walked, walk(path, WalkTo::Folder, true));
  Fd at = std::move(walked.folder);
  std::string done = std::move(walked.path);
  for (const std::string& name : walked.rest) {
    if (::mkdirat(at.get(), name.c_str(), static_cast<mode_t>(mode)) == 0) {
      set_mode_of_new_folder(at.get(), name, mode);
    } else if (errno != EEXIST) {  // else made meanwhile, by another run of ours
      return failure(errno);
    }
    Fd next(open_at(at.get(), name.c_str(), kFolderFlags));
    if (next.get() < 0) {
      return failure(errno);
    }
    at = std::move(next);
    done = join_path(done, name, PathStyle::Posix);
  }
  // The folder itself is ours alone: nobody else may so much as add to it.
  struct stat info {};
  if (::fstat(at.get(), &info) != 0) {
    return failure(errno);
  }
  if (!own_folder(info)) {
    return Failure{Failure::Changeable, path};
  }
  return Folder(at.release(), std::move(done));
}

}  // namespace vellumo::files::system

namespace vellumo::files {

void inject_chmod_unsupported(bool unsupported) {
  system::chmod_unsupported.store(unsupported, std::memory_order_relaxed);
}

std::optional<std::string> other_users_folder(const std::string& path) {
  if (::geteuid() != 0) {
    return std::nullopt;
  }
  std::optional<std::string> folder = path;
  while (folder) {
    struct stat info {};
    if (::stat(folder->c_str(), &info) == 0) {
      return info.st_uid != 0 ? folder : std::nullopt;
    }
    folder = parent_folder(*folder, PathStyle::Posix);
  }
  return std::nullopt;
}

Result<LinkFacts, std::string> inspect_link(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return LinkFacts{};
    }
    return platform::system_error_text(errno);
  }
  if (!S_ISLNK(info.st_mode)) {
    return LinkFacts{true, std::nullopt};
  }
  auto text = system::link_text(AT_FDCWD, path, info);
  if (!text) {
    return platform::system_error_text(text.error());
  }
  return LinkFacts{true, std::move(text).value()};
}

std::optional<std::string> changeable_by_others(const std::string& path) {
  // Each folder passed through is judged, those holding a link on the way
  // as well as those of the file it leads to: whoever could change one of
  // them could put another program in its place. What cannot be looked at
  // counts as changeable: nothing vouches for it. A relative path is
  // judged from the root too.
  std::string absolute = path;
  if (!path.starts_with('/')) {
    std::string here(PATH_MAX, '\0');
    if (::getcwd(here.data(), here.size()) == nullptr) {
      return path;
    }
    here.resize(std::strlen(here.c_str()));
    absolute = join_path(here, path, PathStyle::Posix);
  }
  auto walked = system::walk(absolute, system::WalkTo::File, true);
  if (!walked) {
    return walked.error().kind == system::Failure::Missing ? std::nullopt
           : walked.error().kind == system::Failure::Other ? std::optional(path)
                                                           : std::optional(walked.error().text);
  }
  struct stat info {};
  const std::string name = walked->rest.empty() ? "." : walked->rest.front();
  if (::fstatat(walked->folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? std::nullopt : std::optional(path);
  }
  return system::others_could_change(info) ? std::optional(path) : std::nullopt;
}

}  // namespace vellumo::files
