#pragma once

// Byte searches eight bytes at a time in a plain 64-bit word, for the JSON
// scanner and writer: the loops that look at every byte of long strings.
// Internal to src/core.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellumo::swar {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

inline std::uint64_t load(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    // Byte k of the text is always bits 8k..8k+7 of the word.
    std::uint64_t swapped = 0;
    for (int k = 0; k < 8; ++k) {
      swapped |= ((word >> (8 * (7 - k))) & 0xFF) << (8 * k);
    }
    word = swapped;
  }
  return word;
}

/// The high bit of every byte of `word` that equals `byte`, and possibly of
/// bytes after such a byte: only the lowest flag is exact.
inline std::uint64_t equal_to(std::uint64_t word, unsigned char byte) {
  const std::uint64_t x = word ^ (kOnes * byte);
  return (x - kOnes) & ~x & kHighs;
}

/// The high bit of every byte below 0x20 (lowest flag exact, as above).
inline std::uint64_t controls(std::uint64_t word) { return (word - kOnes * 0x20) & ~word & kHighs; }

/// Index (0..7) of the byte of the lowest flag in a non-zero mask.
inline std::size_t first(std::uint64_t mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) >> 3;
}

}  // namespace vellumo::swar
