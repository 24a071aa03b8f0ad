#pragma once

// What the fuzz harnesses share: a check that stays on in release builds
// (the harnesses are built with NDEBUG like everything else), and the
// splitting of an input into a first line of settings and the rest, and
// the mode those settings name.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "agent_integration/target.h"

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace vellumo::fuzz {

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

/// The input's first line (without its line feed) and everything after it.
struct Split {
  std::string_view head;
  std::string_view rest;
};

inline Split split_first_line(std::string_view input) {
  const auto feed = input.find('\n');
  if (feed == std::string_view::npos) {
    return {input, {}};
  }
  return {input.substr(0, feed), input.substr(feed + 1)};
}

/// The mode an input's settings name: `s`, `i` or `r`, any other byte
/// taken modulo the three.
inline agents::Mode mode_of(char c) {
  switch (c) {
    case 's':
      return agents::Mode::Status;
    case 'i':
      return agents::Mode::Install;
    case 'r':
      return agents::Mode::Remove;
    default:
      return static_cast<agents::Mode>(static_cast<unsigned char>(c) % 3);
  }
}

}  // namespace vellumo::fuzz
