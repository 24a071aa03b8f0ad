#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "core/result.h"

namespace vellumo {

/// Runs the command named by the positional `words` (`help` when there are
/// none, `meeting` read as `meetings`): the handler of the first row of the
/// command table whose syntax they fit, once every meeting reference among
/// them is checked; a usage error when none fits.
Status dispatch(const std::vector<std::string>& words, const CliOptions& options);

// The handlers of the rows that shape the app's reply; their rows are in
// the command table.

/// `status`: the app's state reduced to the status object.
Status status(const CliOptions& options);
/// `settings get [key]`: the settings, or the one of `key` (null when
/// there is none).
Status settings_get(const CliOptions& options, const std::string* key);
/// `settings set key=value ...`: each pair checked against the settings
/// the app has, then all of them saved.
Status settings_set(const CliOptions& options, const std::vector<std::string>& words);
/// `invoke <command> [json]`: any app command, the JSON checked first.
Status invoke(const CliOptions& options, const std::vector<std::string>& words);

/// The whole life of one process: sorts the command words, dispatches,
/// reports an error; returns the exit code.
int run_cli(const std::vector<std::string>& args);

}  // namespace vellumo
