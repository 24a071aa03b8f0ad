#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the rows that shape the app's reply rather than relay it
// as it comes; their rows are in the command table.

/// The app's state reduced to the status object.
Status status(const CliOptions& options);
/// The settings, or the one of `key` (null when there is none).
Status settings_get(const CliOptions& options, const std::string* key);
/// Each key=value pair checked against the settings the app has, then all
/// of them saved.
Status settings_set(const CliOptions& options, const std::vector<std::string>& words);
/// Any app command, the JSON checked first.
Status invoke(const CliOptions& options, const std::vector<std::string>& words);

}  // namespace vellumo
