#pragma once

#include <string>
#include <vector>

#include "core/cli_options.h"
#include "core/result.h"

namespace vellumo {

/// The `dictation` family; `words` are the positional words after
/// `dictation`.
Status run_dictation(const std::vector<std::string>& words, const CliOptions& options);

}  // namespace vellumo
