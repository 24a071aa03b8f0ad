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

/// The whole life of one process: sorts the command words, dispatches,
/// reports an error; returns the exit code.
int run_cli(const std::vector<std::string>& args);

}  // namespace vellumo
