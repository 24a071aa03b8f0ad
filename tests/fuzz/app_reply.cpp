// The app's reply: read off the link with a size limit, then interpreted.
// The input's first line is the limit in bytes (anything that is not a
// number stands for the real limit); the rest is what the app sends.

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "app_link/app_link.h"
#include "core/json.h"
#include "core/text.h"
#include "core/utf8.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "support/json_text.h"

namespace vellumo::fuzz {
namespace {

std::size_t parse_limit(std::string_view head) {
  if (head.empty() || head.size() > 6 ||
      !std::all_of(head.begin(), head.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return kMaxReplyBytes;
  }
  return std::stoul(std::string(head));
}

// The reply as the app would send it, through a real socket.
void check_reader(std::string_view sent, std::size_t limit) {
  int ends[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0);
  FUZZ_CHECK(write(ends[0], sent.data(), sent.size()) == static_cast<ssize_t>(sent.size()));
  FUZZ_CHECK(shutdown(ends[0], SHUT_WR) == 0);
  platform::LinkStream stream(ends[1]);
  auto line = read_reply_line(stream, limit);
  close(ends[0]);

  const std::string_view expected = sent.substr(0, sent.find('\n'));
  if (expected.size() > limit) {
    FUZZ_CHECK(!line && line.error().kind == LinkErrorKind::Exchange);
    FUZZ_CHECK(line.error().message ==
               "Vellumo sent an unreadable reply: the reply is longer than " +
                   std::to_string(limit) + " bytes");
  } else if (!is_valid_utf8(expected)) {
    FUZZ_CHECK(!line && line.error().message ==
                            "Vellumo closed the connection: stream did not contain valid UTF-8");
  } else {
    FUZZ_CHECK(line && *line == expected);
  }
}

std::size_t depth_of(const Json& value) {
  std::size_t deepest = 0;
  if (value.is_array() || value.is_object()) {
    for (const Json& item : value) {
      deepest = std::max(deepest, depth_of(item));
    }
    return deepest + 1;
  }
  return 0;
}

std::string nested(std::string_view inner, std::size_t levels) {
  return std::string(levels, '[') + std::string(inner) + std::string(levels, ']');
}

// Whatever parses comes back the same through both writers, and the
// nesting limit falls exactly at kMaxJsonDepth.
void check_json_value(std::string_view text) {
  auto value = parse_json(text);
  if (!value) {
    return;
  }
  const std::string compact = to_json_compact(*value);
  auto again = parse_json(compact);
  FUZZ_CHECK(again && *again == *value);
  FUZZ_CHECK(to_json_compact(*again) == compact);
  auto pretty = parse_json(test::to_json_pretty(*value));
  FUZZ_CHECK(pretty && *pretty == *value);

  const std::size_t depth = depth_of(*value);
  FUZZ_CHECK(depth <= kMaxJsonDepth);
  FUZZ_CHECK(parse_json(nested(compact, kMaxJsonDepth - depth)));
  auto too_deep = parse_json(nested(compact, kMaxJsonDepth - depth + 1));
  FUZZ_CHECK(!too_deep && too_deep.error() == "nesting deeper than 128 levels");
}

void check_response(std::string_view line) {
  auto reply = parse_response(std::string(line));
  auto parsed = parse_json(line);
  if (reply) {
    FUZZ_CHECK(parsed && parsed->is_object());
    FUZZ_CHECK(parsed->at("ok") == true);
    FUZZ_CHECK(reply->root().to_json() ==
               (parsed->contains("result") ? parsed->at("result") : Json(nullptr)));
    return;
  }
  FUZZ_CHECK(reply.error().kind == LinkErrorKind::Exchange);
  FUZZ_CHECK(!reply.error().message.empty());
  if (!parsed) {
    FUZZ_CHECK(reply.error().message.starts_with("Vellumo sent an unreadable reply: ") ||
               reply.error().message == "Vellumo closed the connection without replying.");
  } else if (parsed->is_object() && parsed->contains("ok") && parsed->at("ok") == false &&
             parsed->contains("error") && parsed->at("error").is_string()) {
    // A blank error text tells no more than none.
    const std::string& text = parsed->at("error").get_ref<const std::string&>();
    FUZZ_CHECK(reply.error().message ==
               (trim(text).empty() ? "Vellumo reported an unknown error." : text));
  }
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo::fuzz;
  const Split input = split_first_line(as_text(data, size));
  check_reader(input.rest, parse_limit(input.head));
  check_response(input.rest);
  check_json_value(input.rest);
  return 0;
}
