#pragma once

#include <map>
#include <string>

#include "app_link/app_link.h"

namespace vellumo {

/// The global options of one run, built once by the entry and read-only
/// afterwards.
struct CliOptions {
  /// `--name value` and `--name=value`, by name without the leading `--`;
  /// a later occurrence replaces an earlier one. Handlers read them through
  /// their Call, by the names their rows give.
  std::map<std::string, std::string, std::less<>> values;
  bool detach = false;     ///< --detach
  bool no_launch = false;  ///< --no-launch
  bool confirm = false;    ///< --confirm or --yes
  bool cleaned = false;    ///< --cleaned

  /// Whether a request may launch the app when nobody serves the link.
  app_link::Launch launch() const {
    return no_launch ? app_link::Launch::Never : app_link::Launch::Allowed;
  }

  /// Whether the app may answer at once, leaving the job running.
  Detach detaching() const { return detach ? Detach::Yes : Detach::No; }
};

}  // namespace vellumo
