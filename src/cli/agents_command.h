#pragma once

#include "cli/call.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the `agents` rows. Each prints the report as a JSON
// array, then fails when any target failed.

/// `agents status|install|remove`, and `uninstall` for remove.
Status agents_command(const Call& call);

/// `agents ensure`: installs once per location unless the user removed it.
Status ensure_agents(const Call& call);

}  // namespace vellumo
