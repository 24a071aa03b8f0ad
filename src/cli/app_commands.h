#pragma once

#include "cli/call.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the rows that shape the app's reply rather than relay it
// as it comes; their rows are in the command table.

/// The app's state reduced to the status object.
Status status(const Call& call);
/// The settings, or with [key] the one of that key (null when there is
/// none).
Status settings_get(const Call& call);
/// All the settings.
Status settings(const Call& call);
/// Each key=value pair checked against the settings the app has, then all
/// of them saved.
Status settings_set(const Call& call);
/// Any app command, the JSON checked first.
Status invoke(const Call& call);

}  // namespace vellumo
