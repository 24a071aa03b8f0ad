#pragma once

#include <string>

#include "core/result.h"

namespace vellumo {

/// `agents <word>`: status, install, remove (or uninstall) or ensure. Prints
/// the report as a JSON array, then fails when any target failed.
Status run_agents_command(const std::string& word);

}  // namespace vellumo
