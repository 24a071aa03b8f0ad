#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "core/result.h"

namespace vellumo {

/// The command words sorted into positional words and global options.
struct CommandLine {
  std::vector<std::string> words;
  CliOptions options;
};

/// Sorts `args` (the words after the program name), left to right:
/// -h/--help and -V/--version put `help`/`version` before the positional
/// words collected so far; --detach, --no-launch, --confirm/--yes and
/// --cleaned set their flags; any other word longer than two characters
/// starting with `--` is a value option (`--name=value`, or `--name` and the
/// next word, whatever it is); everything else is positional.
Result<CommandLine> parse_command_line(const std::vector<std::string>& args);

}  // namespace vellumo
