#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "standin_app/app.h"
#include "standin_app/commands.h"

namespace vellumo::standin {
namespace {

TEST(StandinRequests, ReadingAndArguments) {
  auto request =
      parse_request(R"({"version":1,"command":"get_meeting","args":{"id":"x"},"detach":true})");
  ASSERT_TRUE(request) << request.error();
  EXPECT_EQ(request->command, "get_meeting");
  EXPECT_EQ(request->args, (Json{{"id", "x"}}));
  EXPECT_TRUE(request->detach);
  auto bare = parse_request(R"({"version":1,"command":"ping"})");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->args, Json::object());
  EXPECT_FALSE(bare->detach);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "The request is not JSON: "},
      {"[1]", "The request is not a JSON object."},
      {R"({"version":2,"command":"ping"})", "The request does not speak protocol version 1."},
      {R"({"command":"ping"})", "The request does not speak protocol version 1."},
      {R"({"version":1,"command":7})", "The request has no command."},
      {R"({"version":1,"command":"ping","detach":1})", "`detach` must be true or false."},
      {"{\"version\":1,\"command\":\"\xFF\"}", "The request is not valid UTF-8."},
      {R"({"version":1,"command":"a","command":"b"})", "The request is not JSON: "},
  };
  for (const auto& [line, message] : bad) {
    auto outcome = parse_request(line);
    ASSERT_FALSE(outcome) << line;
    EXPECT_EQ(outcome.error().substr(0, message.size()), message) << line;
  }

  const CommandSpec& labels = *App::find_command("set_meeting_speaker_labels");
  EXPECT_TRUE(check_args(labels, Json{{"id", "a"}, {"enabled", true}}));
  EXPECT_TRUE(check_args(labels, Json{{"id", "a"}, {"enabled", false}, {"confirmed", nullptr}}));
  const std::vector<std::pair<Json, std::string>> refused = {
      {Json{{"id", "a"}}, "set_meeting_speaker_labels needs the argument `enabled`."},
      {Json{{"id", "a"}, {"enabled", "yes"}},
       "The argument `enabled` of set_meeting_speaker_labels must be true or false."},
      {Json{{"id", "a"}, {"enabled", true}, {"colour", 1}},
       "set_meeting_speaker_labels takes no argument `colour`."},
      {Json::array(), "The arguments of set_meeting_speaker_labels must be a JSON object."},
  };
  for (const auto& [args, message] : refused) {
    auto outcome = check_args(labels, args);
    ASSERT_FALSE(outcome) << args;
    EXPECT_EQ(outcome.error(), message);
  }
  EXPECT_EQ(*check_args(*App::find_command("ping"), nullptr), Json::object());
  EXPECT_FALSE(
      check_args(*App::find_command("join_meetings"), Json{{"ids", Json::array({"a", 2})}}));
  EXPECT_FALSE(check_args(*App::find_command("list_dictations"), Json{{"limit", -1}}));
  EXPECT_TRUE(check_args(*App::find_command("list_dictations"), Json::object()));
  EXPECT_FALSE(App::find_command("Ping"));

  // Every command of the table is answered, and `commands` lists each once.
  std::set<std::string> names;
  for (const Json& entry : App::commands_json()) {
    const std::string name = entry.at("name").get<std::string>();
    EXPECT_TRUE(App::find_command(name)) << name;
    EXPECT_TRUE(names.insert(name).second) << name;
  }
  EXPECT_EQ(names.size(), 33u);
  EXPECT_EQ(App::commands_json()[3],
            (Json{{"name", "get_meeting"}, {"args", Json::array({"id"})}}));

  EXPECT_EQ(reply_line(Result<Json, std::string>(Json{{"b", 1}, {"a", nullptr}})),
            "{\"ok\":true,\"result\":{\"a\":null,\"b\":1}}\n");
  EXPECT_EQ(reply_line(Result<Json, std::string>(Err{std::string("No \"x\".")})),
            "{\"error\":\"No \\\"x\\\".\",\"ok\":false}\n");
}

}  // namespace
}  // namespace vellumo::standin
