#include "core/numbers.h"

#include <charconv>

namespace vellumo {

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
  }
  if (text.empty() || text[0] < '0' || text[0] > '9') {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace vellumo
