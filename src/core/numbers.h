#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellumo {

/// An unsigned decimal integer: at most one leading `+`, then one or more
/// ASCII digits, with a value that fits in 64 bits. nullopt for anything
/// else (empty, a sign alone, `-`, fractions, suffixes, overflow).
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

}  // namespace vellumo
