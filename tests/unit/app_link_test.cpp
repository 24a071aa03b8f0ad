#include "app_link/app_link.h"

#include <gtest/gtest.h>

namespace vellumo {
namespace {

TEST(UserTag, KeepsOnlySafeAsciiUpTo64) {
  EXPECT_EQ(user_tag(std::nullopt), "user");
  EXPECT_EQ(user_tag(std::string("")), "user");
  EXPECT_EQ(user_tag(std::string("Jos\xc3\xa9 M. O'Neil_2-x")), "JosM.ONeil_2-x");
  EXPECT_EQ(user_tag(std::string(" !@#\xc3\xa9")), "user");
  EXPECT_EQ(user_tag(std::string(70, 'a')), std::string(64, 'a'));
  EXPECT_EQ(user_tag(std::string(10, '!') + std::string(70, 'b')), std::string(64, 'b'));
}

TEST(Request, WireFormat) {
  EXPECT_EQ(serialize_request({"get_state", Json::object(), Detach::No}),
            "{\"version\":1,\"command\":\"get_state\",\"args\":{},\"detach\":false}\n");
  Json args = {{"z", 1.5}, {"a", "x\"y\n"}, {"m", {1, nullptr}}};
  EXPECT_EQ(serialize_request({"n\xc3\xa9", args, Detach::Yes}),
            "{\"version\":1,\"command\":\"n\xc3\xa9\",\"args\":{\"a\":\"x\\\"y\\n\",\"m\":[1,null],"
            "\"z\":1.5},\"detach\":true}\n");
}

std::string failure(std::string_view line) {
  auto reply = parse_response(std::string(line));
  EXPECT_FALSE(reply);
  if (reply) {
    return "";
  }
  EXPECT_EQ(reply.error().kind, LinkErrorKind::Exchange);
  return reply.error().message;
}

Json result(std::string line) {
  auto reply = parse_response(std::move(line));
  EXPECT_TRUE(reply) << reply.error().message;
  return reply ? reply->root().to_json() : Json();
}

TEST(Response, ResultsAndAppErrors) {
  EXPECT_EQ(result("{\"ok\":true}"), Json(nullptr));
  EXPECT_EQ(result(" {\"ok\":true,\"result\":[1,2],\"extra\":5}\r\n"), Json({1, 2}));
  EXPECT_EQ(result("{\"ok\":true,\"error\":null,\"result\":{\"a\":1}}"), Json({{"a", 1}}));
  EXPECT_EQ(result("{\"result\":\"caf\\u00e9\",\"ok\":true}"), Json("caf\xc3\xa9"));
  EXPECT_EQ(failure("{\"ok\":false}"), "Vellumo reported an unknown error.");
  EXPECT_EQ(failure("{\"ok\":false,\"error\":null}"), "Vellumo reported an unknown error.");
  EXPECT_EQ(failure("{\"ok\":false,\"error\":\"No meeting 42.\"}"), "No meeting 42.");
  EXPECT_EQ(failure(""), "Vellumo closed the connection without replying.");
  EXPECT_EQ(failure(" \t\r"), "Vellumo closed the connection without replying.");
}

TEST(Response, UnreadableReplies) {
  const std::string prefix = "Vellumo sent an unreadable reply: ";
  for (std::string_view line :
       {"{\"result\":1}", "{\"ok\":1}", "{\"ok\":\"true\"}", "[true]", "true",
        "{\"ok\":true,\"ok\":true}", "{\"ok\":false,\"error\":5}", "{\"ok\":true,\"error\":[]}",
        "{\"ok\":true} {}", "{\"ok\":true", "{\"ok\":true,\"result\":[[[[[[[[[["}) {
    EXPECT_EQ(failure(line).rfind(prefix, 0), 0u) << line;
  }
  EXPECT_EQ(failure("{\"ok\":true,\"ok\":false}"), prefix + "duplicate member \"ok\"");
  std::string deep =
      "{\"ok\":true,\"result\":" + std::string(200, '[') + std::string(200, ']') + "}";
  EXPECT_EQ(failure(deep), prefix + "nesting deeper than 128 levels");
}

}  // namespace
}  // namespace vellumo
