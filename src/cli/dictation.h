#pragma once

#include "cli/call.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the `dictation` rows of the command table.

/// Prints the dictation's state, error and text as the reply gives them.
Status change_dictation(const Call& call);

/// The most recent dictations, as many as --limit says (20 unless given;
/// checked before anything is sent).
Status dictation_history(const Call& call);

}  // namespace vellumo
