#pragma once

// What both ends of the app link agree on: the protocol version a request
// carries and the user tag that names a user's link. The client lives in
// app_link; the stand-in app and the test app serve the other end.

#include <cstdint>
#include <optional>
#include <string>

namespace vellumo {

inline constexpr std::uint32_t PROTOCOL_VERSION = 1;

/// The user tag of the link name: ASCII letters, digits, `-`, `.` and `_`
/// of `username`, in order, at most 64 of them; "user" when none is left
/// or the name is unknown.
std::string user_tag(const std::optional<std::string>& username);

}  // namespace vellumo
