// The PATH target on POSIX: the link ~/.local/bin/vellumo-cli, the usual
// place for a user's own commands, pointing at the CLI.

#include <string>

#include "agent_integration/agent_paths.h"
#include "agent_integration/user_path.h"
#include "core/paths.h"
#include "platform/files.h"

namespace vellumo::agents {

std::optional<std::string> user_path_link() {
  const auto home = home_folder();
  if (!home || !files::is_directory(*home)) {
    return std::nullopt;
  }
  return files::join(files::join(files::join(*home, ".local"), "bin"), "vellumo-cli");
}

TargetResult update_user_path(Mode mode, std::string_view name, std::string_view cli_path) {
  const auto path_line = [&](TargetState state, std::optional<std::string> detail) {
    return TargetResult{std::string(name), state, std::move(detail)};
  };
  const auto link = user_path_link();
  if (!link) {
    if (mode == Mode::Install) {
      return path_line(TargetState::Failed, "Cannot find the home folder (HOME).");
    }
    return path_line(TargetState::Absent, std::nullopt);
  }
  const auto cannot = [&](const char* what, const std::string& why) {
    return path_line(TargetState::Failed, std::string("Cannot ") + what + " " + *link + ": " + why);
  };
  // The link itself is replaced, never followed; a link among the folders
  // above it is followed only when no one else can have planted it.
  const auto folder = parent_folder(*link, PathStyle::Posix);
  if (files::reached_through_foreign_link(*folder)) {
    return path_line(TargetState::Skipped, files::foreign_link_left_alone(*link));
  }
  const auto place = [&](TargetState done) {
    auto placed = files::create_folders(*folder, 0755);
    if (placed) {
      placed = files::place_link(std::string(cli_path), *link);
    }
    return placed ? path_line(done, *link) : cannot("create", placed.error());
  };

  const auto found = files::inspect_link(*link);
  if (!found) {
    // Status only looks: what it cannot see is not there for it.
    return mode == Mode::Status
               ? path_line(TargetState::Absent, *link)
               : cannot(mode == Mode::Install ? "create" : "remove", found.error());
  }
  if (!found->exists) {
    return mode == Mode::Install ? place(TargetState::Added)
                                 : path_line(TargetState::Absent, *link);
  }

  const auto& text = found->link_text;
  const bool ours = text && *text == cli_path;
  const bool another_cli = text && !ours && file_name(*text, PathStyle::Posix) == "vellumo-cli";
  if (!ours && !another_cli) {
    return path_line(TargetState::Skipped, *link);
  }
  switch (mode) {
    case Mode::Status:
      return path_line(ours ? TargetState::Present : TargetState::Skipped, *link);
    case Mode::Install:
      return ours ? path_line(TargetState::Present, *link) : place(TargetState::Updated);
    case Mode::Remove:
      if (auto removed = files::remove_file(*link); !removed) {
        return cannot("remove", removed.error());
      }
      return path_line(TargetState::Removed, *link);
  }
  return path_line(TargetState::Skipped, *link);
}

}  // namespace vellumo::agents
