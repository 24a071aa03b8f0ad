#include "mcp/mcp_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "version.h"

namespace vellumo {
namespace {

// A Windows path, so that backslashes and the quotation marks around the
// path in the instructions have to be escaped.
constexpr std::string_view kPath = R"(C:\Program Files\Vellumo\vellumo-cli.exe)";
constexpr std::string_view kGuide =
    "# Guide\n\nCLI: C:\\Program Files\\Vellumo\\vellumo-cli.exe\n\t\"x\" \x01 \xc3\xa9\n";

// The same texts as they must appear inside the JSON replies.
constexpr std::string_view kInstructionsJson =
    R"("Vellumo is controlled through its command-line tool, not MCP. Run `\"C:\\Program Files\\Vellumo\\vellumo-cli.exe\" guide` for the full reference; every GUI action is available, for example `meetings list`, `meetings transcribe <id>` and `invoke <command> <json>`.")";
constexpr std::string_view kGuideJson =
    "\"# Guide\\n\\nCLI: C:\\\\Program Files\\\\Vellumo\\\\vellumo-cli.exe\\n\\t\\\"x\\\" \\u0001 "
    "\xc3\xa9\\n\"";

struct Session {
  std::vector<std::string> writes;
  std::size_t reads = 0;
  McpEnd end = McpEnd::InputEnded;

  std::string output() const {
    std::string all;
    for (const auto& w : writes) {
      all += w;
    }
    return all;
  }
};

struct Options {
  std::size_t chunk = 4096;                  // bytes handed over per read
  bool read_error_at_end = false;            // fail the read after the input instead of ending
  std::optional<std::size_t> failing_write;  // index of the write that fails
};

Options chunked(std::size_t chunk) {
  Options options;
  options.chunk = chunk;
  return options;
}

Session serve(std::string_view input, Options options = {}) {
  Session session;
  std::size_t at = 0;
  const std::string instructions = mcp_instructions_text(kPath);
  session.end = serve_mcp(
      [&](char* buffer, std::size_t size) -> Result<std::size_t, std::string> {
        ++session.reads;
        if (at == input.size() && options.read_error_at_end) {
          return std::string("Input/output error (os error 5)");
        }
        const std::size_t n = std::min({size, options.chunk, input.size() - at});
        std::copy_n(input.data() + at, n, buffer);
        at += n;
        return n;
      },
      [&](std::string_view bytes) {
        session.writes.emplace_back(bytes);
        return !(options.failing_write && *options.failing_write == session.writes.size() - 1);
      },
      kGuide, instructions);
  return session;
}

std::string answer(std::string_view line) { return serve(std::string(line) + "\n").output(); }

std::string result_line(std::string_view id, std::string_view result) {
  return "{\"id\":" + std::string(id) + ",\"jsonrpc\":\"2.0\",\"result\":" + std::string(result) +
         "}\n";
}

std::string error_line(std::string_view id) {
  return "{\"error\":{\"code\":-32601,\"message\":" + std::string(kInstructionsJson) +
         "},\"id\":" + std::string(id) + ",\"jsonrpc\":\"2.0\"}\n";
}

TEST(McpServer, AnswersEachMethodWithItsExactLine) {
  const std::string initialize_result =
      "{\"capabilities\":{\"tools\":{}},\"instructions\":" + std::string(kInstructionsJson) +
      ",\"protocolVersion\":\"2025-06-18\","
      "\"serverInfo\":{\"name\":\"vellumo\",\"version\":\"" VELLUMO_VERSION "\"}}";
  const std::string input =
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":0,\"method\":\"initialize\",\"params\":{}}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"tools/list\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"tools/call\","
      "\"params\":{\"name\":\"vellumo_use_cli\"}}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":\"a\",\"method\":\"resources/list\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":\"prompts/list\"}\n"
      "{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":\"prompts/get\"}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n";
  const std::vector<std::string> expected = {
      result_line("1", "{}"),
      result_line("0", initialize_result),
      result_line("2", "{\"tools\":[{\"description\":" + std::string(kInstructionsJson) +
                           ",\"inputSchema\":{\"properties\":{},\"type\":\"object\"},\"name\":"
                           "\"vellumo_use_cli\"}]}"),
      result_line("3", "{\"content\":[{\"text\":" + std::string(kGuideJson) +
                           ",\"type\":\"text\"}],\"isError\":false}"),
      result_line("\"a\"", "{\"resources\":[]}"),
      result_line("5", "{\"prompts\":[]}"),
      error_line("6"),
  };
  // One write per reply, whatever size the input arrives in.
  for (std::size_t chunk : {std::size_t{1}, std::size_t{13}, std::size_t{1} << 20}) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(serve(input, chunked(chunk)).writes, expected);
  }
}

TEST(McpServer, EchoesTheIdAsReceived) {
  const std::vector<std::pair<std::string, std::string>> ids = {
      {"null", "null"},
      {"\"a\\\"b\\u00e9\\n\"", "\"a\\\"b\xc3\xa9\\n\""},
      {"{ \"z\" : 1, \"a\" : [true, {}] }", "{\"a\":[true,{}],\"z\":1}"},
      {"[1, \"x\", null]", "[1,\"x\",null]"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"18446744073709551615", "18446744073709551615"},
      {"9007199254740993", "9007199254740993"},
      {"123456789012345678901234567890", "123456789012345678901234567890"},
      {"-98765432109876543210", "-98765432109876543210"},
      {"1.50", "1.5"},
      {"1e2", "100.0"},
      {"-0.25E-3", "-0.00025"},
  };
  for (const auto& [sent, echoed] : ids) {
    SCOPED_TRACE(sent);
    EXPECT_EQ(answer("{\"method\":\"ping\",\"id\":" + sent + "}"), result_line(echoed, "{}"));
    EXPECT_EQ(answer("{\"id\":" + sent + ",\"method\":\"nope\"}"), error_line(echoed));
    // After members the server skips, nested and null among them.
    EXPECT_EQ(answer(R"({"a":{"id":[1.5,{}]},"b":null,"method":"ping","id":)" + sent + "}"),
              result_line(echoed, "{}"));
  }
  // A large integer deeper inside an object id goes through the value tree.
  EXPECT_EQ(answer(R"({"id":{"n":123456789012345678901234567890},"method":"ping"})"),
            result_line(R"({"n":1.2345678901234568e29})", "{}"));
}

TEST(McpServer, InitializeEchoesAStringProtocolVersionOnly) {
  const auto version_of = [](std::string_view request) {
    const std::string reply = answer(request);
    const auto at = reply.find("\"protocolVersion\":");
    return at == std::string::npos ? reply : reply.substr(at, reply.find(",\"serverInfo\"") - at);
  };
  EXPECT_EQ(
      version_of(R"({"id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})"),
      R"("protocolVersion":"2024-11-05")");
  EXPECT_EQ(version_of(R"({"id":1,"method":"initialize","params":{"protocolVersion":"x\"\\"}})"),
            R"("protocolVersion":"x\"\\")");
  for (const char* request : {
           R"({"id":1,"method":"initialize","params":{"protocolVersion":20241105}})",
           R"({"id":1,"method":"initialize","params":{"protocolVersion":null}})",
           R"({"id":1,"method":"initialize","params":[{"protocolVersion":"2024-11-05"}]})",
           R"({"id":1,"method":"initialize","protocolVersion":"2024-11-05"})",
           R"({"id":1,"method":"initialize"})",
       }) {
    SCOPED_TRACE(request);
    EXPECT_EQ(version_of(request), R"("protocolVersion":"2025-06-18")");
  }
}

TEST(McpServer, MethodsCompareExactly) {
  for (const char* request : {
           R"({"id":7})",
           R"({"id":7,"method":null})",
           R"({"id":7,"method":5})",
           R"({"id":7,"method":["ping"]})",
           R"({"id":7,"method":"PING"})",
           R"({"id":7,"method":"ping "})",
           R"({"id":7,"method":""})",
           R"({"id":7,"method":"ping\u0000"})",
       }) {
    SCOPED_TRACE(request);
    EXPECT_EQ(answer(request), error_line("7"));
  }
  // The tool name and arguments are not looked at.
  const std::string guide = result_line("8", "{\"content\":[{\"text\":" + std::string(kGuideJson) +
                                                 ",\"type\":\"text\"}],\"isError\":false}");
  EXPECT_EQ(answer(R"({"id":8,"method":"tools/call"})"), guide);
  EXPECT_EQ(answer(R"({"id":8,"method":"tools/call","params":{"name":"other","arguments":[1]}})"),
            guide);
}

TEST(McpServer, IgnoresWhatIsNotARequestAndKeepsGoing) {
  const std::string input =
      "\n"
      "   \t\n"
      "[1,2]\n"
      "[{\"id\":1,\"method\":\"ping\"}]\n"
      "{\n"
      "\"ping\"\n"
      "42\n"
      "null\n"
      "{\"id\":1,\"method\":\"ping\"} x\n"
      "{\"id\":1,\"method\":\"ping\"}{\"id\":2,\"method\":\"ping\"}\n"
      "{\"id\":1,\"method\":'ping'}\n"
      "{\"method\":\"notifications/initialized\"}\n"
      "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/cancelled\",\"params\":{\"requestId\":1}}\n"
      "{\n  \"id\": 3,\n  \"method\": \"ping\"\n}\n"
      "  {\"id\":9,\"method\":\"ping\"}  \n";
  EXPECT_EQ(serve(input).output(), result_line("9", "{}"));
}

TEST(McpServer, LineEndings) {
  // CR LF, a lone CR that is only whitespace, and a last line without a
  // line feed (with or without a carriage return).
  EXPECT_EQ(serve("{\"id\":1,\"method\":\"ping\"}\r\n{\"id\":2,\"method\":\"ping\"}\r\r\n"
                  "{\"id\":3,\"method\":\"ping\"}")
                .output(),
            result_line("1", "{}") + result_line("2", "{}") + result_line("3", "{}"));
  EXPECT_EQ(serve("{\"id\":4,\"method\":\"ping\"}\r", chunked(1)).output(), result_line("4", "{}"));
  EXPECT_EQ(serve("").writes.size(), 0u);
}

TEST(McpServer, StopsAtInputThatIsNotUtf8) {
  const std::string ping = "{\"id\":1,\"method\":\"ping\"}\n";
  // Valid multi-byte text passes through.
  EXPECT_EQ(answer("{\"id\":\"\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\",\"method\":\"ping\"}"),
            result_line("\"\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\"", "{}"));
  for (const std::string bad : {
           "\xff",
           "\xc0\xaf",
           "\xe0\x80\xaf",
           "\xed\xa0\x80",
           "\xf4\x90\x80\x80",
           "\xe2\x82",
           "\x80",
           "\xc3\x28",
           "abcdefgh\xfe",
       }) {
    SCOPED_TRACE(testing::PrintToString(bad));
    // Bad bytes inside a string, and bad bytes on a line that is not JSON:
    // either way nothing after them is answered.
    const Session inside = serve(ping + "{\"id\":2,\"method\":\"" + bad + "\"}\n" + ping);
    EXPECT_EQ(inside.output(), result_line("1", "{}"));
    const Session outside = serve(ping + bad + "\n" + ping, chunked(1));
    EXPECT_EQ(outside.output(), result_line("1", "{}"));
  }
}

TEST(McpServer, StopsOnReadErrorAndFailedWrite) {
  const std::string ping = "{\"id\":1,\"method\":\"ping\"}\n";
  // A read error ends the server; the unfinished line is not answered.
  Options read_error;
  read_error.read_error_at_end = true;
  EXPECT_EQ(serve(ping + "{\"id\":2,\"method\":\"ping\"}", read_error).output(),
            result_line("1", "{}"));
  // After a failed write nothing more is written or read.
  std::string many;
  for (int i = 0; i < 100; ++i) {
    many += ping;
  }
  Options write_error = chunked(ping.size());
  write_error.failing_write = 1;
  const Session failed = serve(many, write_error);
  EXPECT_EQ(failed.writes.size(), 2u);
  EXPECT_EQ(failed.reads, 2u);
  EXPECT_EQ(failed.end, McpEnd::WriteFailed);
  // So does one for a last line without a line feed, which the server
  // tells from the end of the input.
  Options first_write_fails;
  first_write_fails.failing_write = 0;
  EXPECT_EQ(serve("{\"id\":1,\"method\":\"ping\"}", first_write_fails).end, McpEnd::WriteFailed);
  EXPECT_EQ(serve(many).end, McpEnd::InputEnded);
}

// A member that comes twice is no reason to leave a request unanswered
// unless the server reads it: then the message means two things and is
// ignored like any malformed one.
TEST(McpServer, DoubledMembersMatterOnlyWhereTheServerReads) {
  const std::vector<std::pair<std::string, std::string>> answered = {
      {R"({"jsonrpc":"2.0","id":12,"method":"ping","params":{"a":1,"a":2}})",
       result_line("12", "{}")},
      {R"({"jsonrpc":"2.0","jsonrpc":"1.0","id":12,"method":"ping"})", result_line("12", "{}")},
      {R"({"id":12,"method":"ping","params":1,"params":2})", result_line("12", "{}")},
      {R"({"id":{"a":1,"b":[{"c":1,"c":2}],"a":2},"method":"ping"})",
       result_line(R"({"a":2,"b":[{"c":2}]})", "{}")},
  };
  for (const auto& [request, reply] : answered) {
    SCOPED_TRACE(request);
    EXPECT_EQ(answer(request), reply);
  }
  const std::string initialize =
      answer(R"({"id":1,"method":"initialize","params":{"x":1,"x":2,"protocolVersion":"v1"}})");
  EXPECT_NE(initialize.find(R"("protocolVersion":"v1")"), std::string::npos) << initialize;

  for (
      const char* request : {
          R"({"id":1,"id":2,"method":"ping"})",
          R"({"id":1,"method":"ping","method":"ping"})",
          R"({"id":1,"method":"initialize","params":{},"params":{}})",
          R"({"id":1,"method":"initialize","params":{"protocolVersion":"a","protocolVersion":"a"}})",
          R"({"params":{"protocolVersion":"a","protocolVersion":"b"},"id":1,"method":"initialize"})",
      }) {
    SCOPED_TRACE(request);
    EXPECT_EQ(answer(request), "");
  }
}

TEST(McpServer, DropsOverlongLines) {
  const auto padded = [](std::size_t size) {
    std::string line = "{\"id\":1,\"method\":\"ping\",\"pad\":\"";
    line.append(size - line.size() - 2, 'x');
    return line + "\"}\n";
  };
  const std::string next = "{\"id\":2,\"method\":\"ping\"}\n";
  // Up to the limit a line is answered; one byte more and it is dropped,
  // also when its end comes in the same read as the next line.
  EXPECT_EQ(serve(padded(kMaxMcpLineBytes) + next).output(),
            result_line("1", "{}") + result_line("2", "{}"));
  for (std::size_t chunk : {std::size_t{65536}, std::size_t{1} << 24}) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(serve(padded(kMaxMcpLineBytes + 1) + next, chunked(chunk)).output(),
              result_line("2", "{}"));
  }
}

}  // namespace
}  // namespace vellumo
