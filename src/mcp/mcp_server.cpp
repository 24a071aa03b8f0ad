#include "mcp/mcp_server.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "core/json.h"
#include "core/utf8.h"
#include "texts/texts.h"

namespace vellumo {
namespace {

constexpr std::size_t kReadBlock = std::size_t{64} << 10;
constexpr std::string_view kDefaultProtocolVersion = "2025-06-18";
constexpr std::string_view kToolName = "vellumo_use_cli";
constexpr std::int64_t kMethodNotFound = -32601;

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Finds the source text of the top-level member `id` when it is a number.
// Only wanted for integers too large for 64 bits, which the value tree
// holds as doubles.
class TopLevelIdNumber final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t& source) override {
    if (depth_ == 1 && at_id_) {
      text_ = source;
      return false;  // found: stop reading
    }
    return true;
  }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return open(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& name) override {
    at_id_ = depth_ == 1 && name == "id";
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  const std::string& text() const { return text_; }

 private:
  bool open() {
    ++depth_;
    return true;
  }
  bool close() {
    --depth_;
    return true;
  }

  int depth_ = 0;
  bool at_id_ = false;
  std::string text_;
};

bool is_integer_literal(std::string_view number) {
  return number.find_first_of(".eE") == std::string_view::npos;
}

// Writes the request's `id` back as it came. Integers beyond 64 bits are
// copied digit for digit from the request line: as doubles they would come
// back as a different number, and a client that keeps exact integers could
// not match the reply to its request.
void write_id(std::string& out, const Json& id, std::string_view line) {
  if (id.is_number_float()) {
    TopLevelIdNumber finder;
    (void)Json::sax_parse(line, &finder, nlohmann::detail::input_format_t::json, true);
    if (!finder.text().empty() && is_integer_literal(finder.text())) {
      out += finder.text();
      return;
    }
  }
  write_json_compact(out, id);
}

// The request's method; empty when it has none that is a string.
std::string_view method_of(const Json& message) {
  if (const auto found = message.find("method"); found != message.end() && found->is_string()) {
    return found->get_ref<const std::string&>();
  }
  return {};
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

  // Appends the reply line to the request `message`, read from `line`.
  void append(std::string& out, const Json& message, const Json& id, std::string_view line) const {
    const std::string_view method = method_of(message);
    if (method == "initialize") {
      open_result(out, id, line);
      out += initialize_head_;
      write_json_string(out, protocol_version(message));
      out += initialize_tail_;
      out += "}\n";
      return;
    }
    for (const auto& [name, result] : results_) {
      if (method == name) {
        open_result(out, id, line);
        out += result;
        out += "}\n";
        return;
      }
    }
    out += error_head_;
    write_id(out, id, line);
    out += ",\"jsonrpc\":\"2.0\"}\n";
  }

 private:
  static void open_result(std::string& out, const Json& id, std::string_view line) {
    out += "{\"id\":";
    write_id(out, id, line);
    out += ",\"jsonrpc\":\"2.0\",\"result\":";
  }

  static std::string_view protocol_version(const Json& message) {
    const auto params = message.find("params");
    if (params != message.end() && params->is_object()) {
      const auto version = params->find("protocolVersion");
      if (version != params->end() && version->is_string()) {
        return version->get_ref<const std::string&>();
      }
    }
    return kDefaultProtocolVersion;
  }

  std::array<std::pair<std::string_view, std::string>, 5> results_;
  std::string error_head_;
  std::string initialize_head_;
  std::string initialize_tail_;
};

// Appends the reply to one input line, or nothing when the line is not a
// request: not JSON, not an object, or an object without `id`.
void answer_line(const Replies& replies, std::string_view line, std::string& out) {
  // Only an object can be a request; anything else is dropped unparsed.
  std::size_t first = 0;
  while (first < line.size() && is_json_space(line[first])) {
    ++first;
  }
  if (first == line.size() || line[first] != '{') {
    return;
  }
  // A member the server does not read may come twice; one it reads may
  // not, or the message would mean two things.
  bool doubled_id_or_method = false;
  bool doubled_params = false;
  auto message = parse_json_tolerant(line, [&](const JsonKeyPath& path) {
    if (path.size() == 1) {
      doubled_id_or_method |= path[0] == "id" || path[0] == "method";
      doubled_params |= path[0] == "params";
    } else if (path.size() == 2 && path[0] == "params" && path[1] == "protocolVersion") {
      doubled_params = true;
    }
  });
  if (!message || !message->is_object() || doubled_id_or_method) {
    return;
  }
  const auto id = message->find("id");
  if (id == message->end()) {
    return;  // a notification
  }
  if (doubled_params && method_of(*message) == "initialize") {
    return;  // only initialize reads its params
  }
  replies.append(out, *message, *id, line);
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
