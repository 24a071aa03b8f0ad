#pragma once

// The fixed texts the program prints, and its version. They ask nothing of
// the system: a text that names the CLI's path is handed it by its caller.

#include <array>
#include <string>
#include <string_view>

#include "version.h"

namespace vellumo {

inline constexpr std::string_view kVersion = VELLUMO_VERSION;

/// The pages `open` offers in the usage text, in its order.
inline constexpr std::array<std::string_view, 6> kUsagePages = {
    "dictation", "meetings", "setup", "appearance", "microphone", "shortcuts"};

/// The guide for agents, with `cli_path` after "CLI: ", inserted unchanged.
std::string guide_text(std::string_view cli_path);

}  // namespace vellumo
