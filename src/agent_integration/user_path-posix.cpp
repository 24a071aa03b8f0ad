// The PATH target on POSIX: the link ~/.local/bin/vellumo-cli, the usual
// place for a user's own commands, pointing at the CLI.

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "agent_integration/user_path.h"
#include "core/paths.h"
#include "platform/platform.h"

namespace vellumo::agents {
namespace {

TargetResult path_line(TargetState state, std::optional<std::string> detail) {
  return {"PATH", state, std::move(detail)};
}

std::optional<std::string> read_link(const std::string& path) {
  std::string text(PATH_MAX, '\0');
  const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
  if (n < 0) {
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(n));
  return text;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` and its missing parents with mode 0755. A part that
// exists as something else shows up when the link is made in it.
bool create_folders(const std::string& path) {
  std::size_t slash = 0;
  do {
    slash = path.find('/', slash + 1);
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      return false;
    }
  } while (slash != std::string::npos);
  return true;
}

// Points `link` at `target`, replacing whatever link is there in one step.
bool place_link(const std::string& target, const std::string& link) {
  const std::string temporary = link + ".vellumo-tmp";
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) {
    return false;
  }
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
  }
  return true;
}

}  // namespace

TargetResult update_user_path(Mode mode, std::string_view cli_path) {
  const auto home = platform::get_env("HOME");
  if (!home || home->empty() || !is_directory(*home)) {
    if (mode == Mode::Install) {
      return path_line(TargetState::Failed, "Cannot find the home folder (HOME).");
    }
    return path_line(TargetState::Absent, std::nullopt);
  }
  const std::string folder =
      join_path(join_path(*home, ".local", PathStyle::Posix), "bin", PathStyle::Posix);
  const std::string link = join_path(folder, "vellumo-cli", PathStyle::Posix);
  const auto cannot = [&](const char* what) {
    return path_line(TargetState::Failed, std::string("Cannot ") + what + " " + link + ": " +
                                              platform::last_error_text());
  };

  struct stat st;
  if (::lstat(link.c_str(), &st) != 0) {
    if (mode != Mode::Install) {
      return path_line(TargetState::Absent, link);
    }
    if (!create_folders(folder) || !place_link(std::string(cli_path), link)) {
      return cannot("create");
    }
    return path_line(TargetState::Added, link);
  }

  const auto text = S_ISLNK(st.st_mode) ? read_link(link) : std::nullopt;
  const bool ours = text && *text == cli_path;
  const bool another_cli = text && !ours && file_name(*text, PathStyle::Posix) == "vellumo-cli";
  if (!ours && !another_cli) {
    return path_line(TargetState::Skipped, link);
  }
  switch (mode) {
    case Mode::Status:
      return path_line(ours ? TargetState::Present : TargetState::Skipped, link);
    case Mode::Install:
      if (ours) {
        return path_line(TargetState::Present, link);
      }
      return place_link(std::string(cli_path), link) ? path_line(TargetState::Updated, link)
                                                     : cannot("create");
    case Mode::Remove:
      return ::unlink(link.c_str()) == 0 ? path_line(TargetState::Removed, link) : cannot("remove");
  }
  return path_line(TargetState::Skipped, link);
}

}  // namespace vellumo::agents
