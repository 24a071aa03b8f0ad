#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the `dictation` rows of the command table; each takes all
// the positional words, `dictation` first.

/// `dictation start|stop|cancel`: prints the dictation's state, error and
/// text as the reply gives them.
Status change_dictation(const CliOptions& options, const std::vector<std::string>& words);

/// `dictation history`: the most recent dictations, as many as --limit says
/// (20 unless given; checked before anything is sent).
Status dictation_history(const CliOptions& options, const std::vector<std::string>& words);

}  // namespace vellumo
