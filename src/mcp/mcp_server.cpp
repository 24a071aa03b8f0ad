#include "mcp/mcp_server.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "core/json.h"
#include "core/json_tape.h"
#include "core/utf8.h"
#include "texts/texts.h"

namespace vellumo {
namespace {

constexpr std::size_t kReadBlock = std::size_t{64} << 10;
constexpr std::string_view kDefaultProtocolVersion = "2025-06-18";
constexpr std::string_view kToolName = "vellumo_use_cli";
constexpr std::int64_t kMethodNotFound = -32601;

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A request is read from its line without building it: the line is checked
// whole, then only the members the server reads are cut out of it and read
// on their own. So a line costs little more than its own bytes, however
// much it holds that the server does not look at.

// Reads one value cut from a checked line.
JsonTape read_value(std::string_view text, JsonDuplicates duplicates = JsonDuplicates::Refused) {
  auto tape = JsonTape::parse(std::string(text), duplicates);
  return tape ? std::move(tape).value() : JsonTape();  // cut from a checked line: it parses
}

// The longest name of a member the server reads, and of a method it knows.
// No escape is longer than six bytes per byte it stands for, so a string
// written longer than six times these cannot be one of them.
constexpr std::size_t kLongestName = 15;    // protocolVersion
constexpr std::size_t kLongestMethod = 14;  // resources/list

// A string value, read only when it is one and, written with its quotation
// marks, at most `longest` bytes long; nullopt otherwise.
std::optional<JsonTape> string_value(std::optional<std::string_view> text,
                                     std::size_t longest = JsonTape::kMaxText) {
  if (!text || text->front() != '"' || text->size() > longest) {
    return std::nullopt;
  }
  return read_value(*text);
}

// The request's `id`: its value, and its text as it came.
struct RequestId {
  JsonTape value;
  std::string_view text;
};

bool is_integer_literal(std::string_view number) {
  return number.find_first_of(".eE") == std::string_view::npos;
}

// Writes the request's `id` back as it came. Integers beyond 64 bits are
// copied digit for digit from the request line: as doubles they would come
// back as a different number, and a client that keeps exact integers could
// not match the reply to its request.
void write_id(std::string& out, const RequestId& id) {
  const JsonNode value = id.value.root();
  if (value.kind() == JsonKind::Float && is_integer_literal(id.text)) {
    out += id.text;
    return;
  }
  write_json_compact(out, value);
}

// Every reply the server can give, written once from the two texts; a
// request only adds its `id` (and, for `initialize`, its protocol version).
class Replies {
 public:
  Replies(std::string_view guide, std::string_view instructions) {
    Json tool = Json::object();
    tool["name"] = kToolName;
    tool["description"] = instructions;
    tool["inputSchema"] = Json::object();
    tool["inputSchema"]["type"] = "object";
    tool["inputSchema"]["properties"] = Json::object();
    Json tools_list = Json::object();
    tools_list["tools"] = Json::array();
    tools_list["tools"].push_back(std::move(tool));

    Json content = Json::object();
    content["type"] = "text";
    content["text"] = guide;
    Json tools_call = Json::object();
    tools_call["content"] = Json::array();
    tools_call["content"].push_back(std::move(content));
    tools_call["isError"] = false;

    Json resources_list = Json::object();
    resources_list["resources"] = Json::array();
    Json prompts_list = Json::object();
    prompts_list["prompts"] = Json::array();

    results_ = {{
        {"tools/list", to_json_compact(tools_list)},
        {"tools/call", to_json_compact(tools_call)},
        {"resources/list", to_json_compact(resources_list)},
        {"prompts/list", to_json_compact(prompts_list)},
        {"ping", to_json_compact(Json::object())},
    }};

    Json error = Json::object();
    error["code"] = kMethodNotFound;
    error["message"] = instructions;
    error_head_ = "{\"error\":" + to_json_compact(error) + ",\"id\":";

    // The initialize result, members in key order, split where the
    // request's protocol version goes.
    Json capabilities = Json::object();
    capabilities["tools"] = Json::object();
    Json server_info = Json::object();
    server_info["name"] = "vellumo";
    server_info["version"] = kVersion;
    initialize_head_ = "{\"capabilities\":" + to_json_compact(capabilities) + ",\"instructions\":";
    write_json_string(initialize_head_, instructions);
    initialize_head_ += ",\"protocolVersion\":";
    initialize_tail_ = ",\"serverInfo\":" + to_json_compact(server_info) + "}";
  }

  // Appends the reply line to a request for `method`; `protocol_version` is
  // what an initialize request asks for, if anything.
  void append(std::string& out, std::string_view method, const RequestId& id,
              std::optional<std::string_view> protocol_version) const {
    if (method == "initialize") {
      open_result(out, id);
      out += initialize_head_;
      write_json_string(out, protocol_version.value_or(kDefaultProtocolVersion));
      out += initialize_tail_;
      out += "}\n";
      return;
    }
    for (const auto& [name, result] : results_) {
      if (method == name) {
        open_result(out, id);
        out += result;
        out += "}\n";
        return;
      }
    }
    out += error_head_;
    write_id(out, id);
    out += ",\"jsonrpc\":\"2.0\"}\n";
  }

 private:
  static void open_result(std::string& out, const RequestId& id) {
    out += "{\"id\":";
    write_id(out, id);
    out += ",\"jsonrpc\":\"2.0\",\"result\":";
  }

  std::array<std::pair<std::string_view, std::string>, 5> results_;
  std::string error_head_;
  std::string initialize_head_;
  std::string initialize_tail_;
};

// The members of an object the server reads: how often each comes, and
// the last value of each.
template <std::size_t N>
struct ReadMembers {
  std::array<std::string_view, N> names;
  std::array<std::size_t, N> counts{};
  std::array<std::optional<std::string_view>, N> values{};

  void read(std::string_view object) {
    JsonTextMembers members(object);
    std::string_view key, value;
    std::optional<JsonTape> decoded;
    while (members.next(key, value)) {
      if (key.find('\\') != std::string_view::npos) {
        // The key with its quotation marks, which the reader cut off.
        decoded =
            string_value(std::string_view(key.data() - 1, key.size() + 2), 2 + 6 * kLongestName);
        key = decoded ? decoded->root().string() : std::string_view();
      }
      for (std::size_t i = 0; i < N; ++i) {
        if (key == names[i]) {
          ++counts[i];
          values[i] = value;
        }
      }
    }
  }
};

// Appends the reply to one input line, or nothing when the line is not a
// request: not JSON, not an object, or an object without `id`.
void answer_line(const Replies& replies, std::string_view line, std::string& out) {
  // Only an object can be a request; anything else is dropped unparsed.
  std::size_t first = 0;
  while (first < line.size() && is_json_space(line[first])) {
    ++first;
  }
  if (first == line.size() || line[first] != '{' || !JsonTape::check(line)) {
    return;
  }
  ReadMembers<3> request{{"id", "method", "params"}};
  request.read(line);
  const auto& [ids, methods, params] = request.counts;
  // A member the server does not read may come twice; one it reads may
  // not, or the message would mean two things.
  if (ids > 1 || methods > 1) {
    return;
  }
  if (ids == 0) {
    return;  // a notification
  }
  // A method too long to be one the server knows is answered as any other
  // unknown one, without being read.
  const std::optional<JsonTape> method_value =
      string_value(request.values[1], 2 + 6 * kLongestMethod);
  const std::string_view method = method_value ? method_value->root().string() : "";
  std::optional<JsonTape> version;
  if (method == "initialize") {  // only initialize reads its params
    if (params > 1) {
      return;
    }
    if (const auto& text = request.values[2]; text && text->front() == '{') {
      ReadMembers<1> read{{"protocolVersion"}};
      read.read(*text);
      if (read.counts[0] > 1) {
        return;
      }
      version = string_value(read.values[0]);
    }
  }
  const std::string_view id_text = *request.values[0];
  const RequestId id{read_value(id_text, JsonDuplicates::LaterWins), id_text};
  replies.append(out, method, id, version ? std::optional(version->root().string()) : std::nullopt);
}

}  // namespace

std::string mcp_instructions_text(std::string_view cli_path) {
  std::string text = "Vellumo is controlled through its command-line tool, not MCP. Run `\"";
  text += cli_path;
  text +=
      "\" guide` for the full reference; every GUI action is available, for example `meetings "
      "list`, `meetings transcribe <id>` and `invoke <command> <json>`.";
  return text;
}

McpEnd serve_mcp(const McpReader& read, const McpWriter& write, std::string_view guide,
                 std::string_view instructions) {
  const Replies replies(guide, instructions);
  std::string reply;

  // Answers one line; the reason to stop, if any.
  const auto answer = [&](std::string_view line) -> std::optional<McpEnd> {
    if (!is_valid_utf8(line)) {
      return McpEnd::InputEnded;
    }
    reply.clear();
    answer_line(replies, line, reply);
    if (!reply.empty() && !write(reply)) {
      return McpEnd::WriteFailed;
    }
    return std::nullopt;
  };

  // Input waits in buffer[begin, end); bytes before `scan` hold no line feed.
  std::vector<char> buffer(kReadBlock);
  std::size_t begin = 0;
  std::size_t scan = 0;
  std::size_t end = 0;
  bool dropping = false;  // inside a line longer than kMaxMcpLineBytes
  for (;;) {
    while (const void* found = std::memchr(buffer.data() + scan, '\n', end - scan)) {
      const auto line_end =
          static_cast<std::size_t>(static_cast<const char*>(found) - buffer.data());
      if (dropping || line_end - begin > kMaxMcpLineBytes) {
        dropping = false;
      } else {
        std::string_view line(buffer.data() + begin, line_end - begin);
        if (!line.empty() && line.back() == '\r') {
          line.remove_suffix(1);
        }
        if (const auto end = answer(line)) {
          return *end;
        }
      }
      begin = scan = line_end + 1;
    }

    if (dropping || end - begin > kMaxMcpLineBytes) {
      dropping = true;
      begin = end;
    }
    if (begin > 0) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    scan = end;
    if (buffer.size() - end < kReadBlock) {
      buffer.resize(end + kReadBlock);
    }

    auto count = read(buffer.data() + end, buffer.size() - end);
    if (!count) {
      return McpEnd::InputEnded;  // a read error: stop as at the end of the input
    }
    if (*count == 0) {
      if (!dropping && end > begin) {
        return answer(std::string_view(buffer.data() + begin, end - begin))
            .value_or(McpEnd::InputEnded);
      }
      return McpEnd::InputEnded;
    }
    end += std::min(*count, buffer.size() - end);
  }
}

}  // namespace vellumo
