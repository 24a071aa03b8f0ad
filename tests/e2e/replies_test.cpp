// How the CLI reads the app's reply: errors the app reports, replies it
// cannot read, the largest reply it takes, and a request it cannot send.

#include "harness.h"

// Whether the programs carry AddressSanitizer, as this test does (gcc says
// so one way, clang another).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUMO_ADDRESS_SANITIZER
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VELLUMO_ADDRESS_SANITIZER)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace vellumo::e2e {
namespace {

using Replies = E2eTest;

Json reply(Json value) { return Json{{"reply", std::move(value)}}; }
Json raw(std::string text) { return Json{{"raw", std::move(text)}}; }

constexpr std::size_t kMaxReply = 33554432;

TEST_F(Replies, AppErrorsAndBrokenReplies) {
  Json s = scenario();
  Json& r = s["replies"];
  r["error_text"] = reply({{"ok", false}, {"error", "Meeting not found: \"x\"."}});
  r["error_missing"] = reply({{"ok", false}});
  r["error_null"] = reply({{"ok", false}, {"error", nullptr}});
  r["error_empty"] = reply({{"ok", false}, {"error", ""}});
  r["error_blank"] = reply({{"ok", false}, {"error", " \t\n\u00a0"}});
  r["no_ok"] = reply({{"result", 1}});
  r["ok_text"] = reply({{"ok", "yes"}});
  r["duplicate"] = raw("{\"ok\":true,\"ok\":true}\n");
  r["two_lines"] = raw("{\"ok\":true,\n\"result\":1}\n");
  r["trailing"] = raw("{\"ok\":true} x\n");
  r["not_an_object"] = raw("[true]\n");
  r["closed"] = Json::object();
  r["blank"] = raw(" \t \n");
  r["not_utf8"] = Json{{"hex", "7b226f6b223a747275652c22726573756c74223a2280ff227d0a"}};
  r["deep"] = Json{{"fill", {{"byte", "["}, {"count", 1000000}, {"suffix", "\n"}}}};
  r["no_result"] = reply({{"ok", true}});
  r["extra"] = reply({{"ok", true}, {"result", {1, 2}}, {"extra", 5}});
  r["no_line_feed"] = raw(R"({"ok":true,"result":7})");
  r["texts"] =
      reply({{"ok", true}, {"result", Json::array({"\xC3\xA9/\x01\"\\\t", 1.0, 0.5, 1e21, -3})}});
  r["slow"] = Json{{"delay_ms", 2500}, {"reply", {{"ok", true}, {"result", "late"}}}};
  start_app(s);

  auto invoke = [&](const char* name) { return cli({"invoke", name}); };
  expect_error(invoke("error_text"), 1, "Meeting not found: \"x\".");
  expect_error(invoke("error_missing"), 1, "Vellumo reported an unknown error.");
  expect_error(invoke("error_null"), 1, "Vellumo reported an unknown error.");
  expect_error(invoke("error_empty"), 1, "Vellumo reported an unknown error.");
  expect_error(invoke("error_blank"), 1, "Vellumo reported an unknown error.");
  for (const char* name :
       {"no_ok", "ok_text", "duplicate", "two_lines", "trailing", "not_an_object", "deep"}) {
    SCOPED_TRACE(name);
    expect_error_around(invoke(name), 1, "Vellumo sent an unreadable reply: ", "");
  }
  expect_error(invoke("closed"), 1, "Vellumo closed the connection without replying.");
  expect_error(invoke("blank"), 1, "Vellumo closed the connection without replying.");
  expect_error_around(invoke("not_utf8"), 1, "Vellumo closed the connection: ", "");

  expect_output(invoke("no_result"), "null\n");
  expect_output(invoke("extra"), "[\n  1,\n  2\n]\n");
  expect_output(invoke("no_line_feed"), "7\n");
  expect_output(invoke("texts"),
                "[\n  \"\xC3\xA9/\\u0001\\\"\\\\\\t\",\n  1.0,\n  0.5,\n  1e21,\n  -3\n]\n");
  // No time limit on the reply.
  const RunResult slow = invoke("slow");
  expect_output(slow, "\"late\"\n");
  EXPECT_GE(slow.took, 2.5s);
}

TEST_F(Replies, LargestReplyAndOneByteMore) {
  const std::string head = R"({"ok":true,"result":")";
  const std::string tail = R"("})";
  const std::size_t fill = kMaxReply - head.size() - tail.size();
  Json s = scenario();
  s["replies"]["largest"] =
      Json{{"fill", {{"prefix", head}, {"byte", "a"}, {"count", fill}, {"suffix", tail + "\n"}}}};
  s["replies"]["too_large"] = Json{
      {"fill", {{"prefix", head}, {"byte", "a"}, {"count", fill + 1}, {"suffix", tail + "\n"}}}};
  start_app(s);

  const RunResult largest = cli({"invoke", "largest"});
  EXPECT_EQ(largest.exit_code, 0) << largest.err;
  EXPECT_EQ(largest.err, "");
  ASSERT_EQ(largest.out.size(), fill + 3);
  std::string expected = "\"";
  expected.append(fill, 'a');
  expected += "\"\n";
  EXPECT_EQ(largest.out, expected);

  expect_error_around(cli({"invoke", "too_large"}), 1, "Vellumo sent an unreadable reply: ", "");
}

// Every command reads the largest reply of the costliest shape (11 million
// empty objects) from its text, taking only the members it uses: as a Json
// tree it cost over 1 GiB, read so it costs what printing it does (about
// 300 MiB, natively and under Wine).
TEST_F(Replies, LargestReplyOfEmptyObjectsStaysWithinItsBound) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer's shadow memory is no measure of the program's";
  }
  const std::string head = R"({"ok":true,"result":[)";
  const std::string tail = "{}]}";
  const std::size_t count = (kMaxReply - head.size() - tail.size()) / 3;
  Json s = scenario();
  s["default"] = Json{
      {"fill", {{"prefix", head}, {"text", "{},"}, {"count", count}, {"suffix", tail + "\n"}}}};
  start_app(s);

  constexpr long kBoundKib = 400 << 10;
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{"status"}, 0},
      {{"settings", "set", "a=1"}, 1},  // no settings in the reply
      {{"dictation", "start"}, 0},
      {{"meetings", "wait", std::string(32, 'a')}, 0},
  };
  for (const auto& [words, exit_code] : runs) {
    SCOPED_TRACE(words[0] + " " + words[1 % words.size()]);
    const RunResult run = cli(words);
    EXPECT_EQ(run.exit_code, exit_code) << run.err;
    EXPECT_LT(run.peak_kib, kBoundKib);
  }
}

// A large reply of every kind of value (escapes, text beyond ASCII, numbers
// of each kind, nesting, keys out of order, a string longer than one output
// block) prints exactly as its value does.
TEST_F(Replies, LargeReplyPrintsAsItsValue) {
  std::string result = "[";
  for (int i = 0; i < 6000; ++i) {
    result += i ? "," : "";
    result += R"({"title":"Sync \"week\" )" + std::to_string(i) +
              R"( caf\u00e9 \ud83d\ude00 \u0007","id":")" + std::to_string(i * 7919) +
              R"(","duration":)" + std::to_string(i) + ".25" + R"(,"count":-)" + std::to_string(i) +
              R"(,"big":18446744073709551615,"tiny":1e-7,"notes":null,)" +
              R"("speakers":[{"name":"Ana\tMar\u00eda","on":true},{"name":"Bo\/b","on":false}],)" +
              R"("a":{"z":[],"y":{},"x":[[1],[2.5e300]]}})";
  }
  std::string transcript;
  for (int i = 0; i < 200000; ++i) {
    transcript += R"(\u00e9t\u00e9 \u2014 \\ line\n €)";
  }
  result += R"(,{"transcript":")" + transcript + R"("}])";
  auto value = parse_json(result);
  ASSERT_TRUE(value) << value.error();

  Json s = scenario();
  s["replies"]["big"] = raw(R"({"result":)" + result + R"(,"ok":true})" + "\n");
  start_app(s);
  expect_output(cli({"invoke", "big"}), to_json_pretty(*value) + "\n");
}

// The app stops reading the request early and hangs up: the CLI's write
// fails. The request must outgrow what the link buffers, so it is large.
TEST_F(Replies, RequestTheAppDoesNotTake) {
  const int keys = 8;
  const std::size_t value_size = target().wine ? 3000 : 120000;
  Json settings = Json::object();
  std::vector<std::string> words = {"settings", "set"};
  for (int i = 0; i < keys; ++i) {
    std::string key = "k";
    key += std::to_string(i);
    settings[key] = "";
    std::string pair = key + "=";
    pair.append(value_size, 'v');
    words.push_back(pair);
  }
  Json s = scenario();
  s["read_limit"] = 1024;
  s["buffer_size"] = 1024;
  s["replies"]["get_state"] = Json{{"reply", {{"ok", true}, {"result", {{"settings", settings}}}}}};
  s["replies"]["save_settings"] = Json::object();
  start_app(s);

  expect_error_around(cli(words), 1, "Cannot send the request to Vellumo: ", "");
  EXPECT_EQ(commands(), (std::vector<std::string>{"get_state", "<unreadable request>"}));
}

}  // namespace
}  // namespace vellumo::e2e
