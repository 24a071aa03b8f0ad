#pragma once

#include <string>
#include <vector>

#include "core/cli_options.h"
#include "core/result.h"

namespace vellumo {

/// Runs the command named by the positional `words`: prints a text,
/// relays one app command, or hands a whole family on.
Status dispatch(const std::vector<std::string>& words, const CliOptions& options);

/// The whole life of one process: sorts the command words, dispatches,
/// reports an error; returns the exit code.
int run_cli(const std::vector<std::string>& args);

}  // namespace vellumo
