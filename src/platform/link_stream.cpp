// The part of LinkStream that is the same on every system: reading a line,
// for both ends of the app link.

#include <cstring>

#include "platform/platform.h"

namespace vellumo::platform {
namespace {

// Lines are read through a buffer of this size, and a line that grows past
// it gets room for the longest at once.
constexpr std::size_t kReadBuffer = std::size_t{1} << 16;

}  // namespace

Result<std::optional<std::string>, LineError> LinkStream::read_line(std::size_t limit) {
  std::string line;
  bool any = false;
  char buffer[kReadBuffer];
  for (;;) {
    auto got = read(buffer, sizeof buffer);
    if (!got) {
      return LineError{LineError::Kind::Read, std::move(got).error()};
    }
    if (*got == 0) {
      break;
    }
    any = true;
    const auto* feed = static_cast<const char*>(std::memchr(buffer, '\n', *got));
    const std::size_t take = feed ? static_cast<std::size_t>(feed - buffer) : *got;
    if (line.size() + take > limit) {
      return LineError{LineError::Kind::TooLong, {}};
    }
    if (line.size() + take > kReadBuffer && line.capacity() < limit) {
      // Room for the longest at once rather than a copy at every doubling;
      // the pages it never fills cost nothing.
      line.reserve(limit);
    }
    line.append(buffer, take);
    if (feed) {
      break;
    }
  }
  if (!any) {
    return std::optional<std::string>();
  }
  return std::optional<std::string>(std::move(line));
}

}  // namespace vellumo::platform
