// The MCP server's line handling: the input is the whole of standard
// input, handed over in pieces of varying size. Every line that is a JSON
// object with an `id` (and no doubled member the server reads) gets exactly
// one reply line, in order, that parses and carries the same `id`; nothing
// else is answered.

#include "mcp/mcp_server.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/utf8.h"
#include "fuzz_support.h"

namespace vellumo::fuzz {
namespace {

// The ids of the requests in `input`, as the server must see them: lines
// split at line feeds, one carriage return before it dropped, up to the
// first line that is not UTF-8.
std::vector<Json> request_ids(std::string_view input) {
  std::vector<Json> ids;
  while (!input.empty()) {
    const auto feed = input.find('\n');
    std::string_view line = input.substr(0, feed);
    input = feed == std::string_view::npos ? std::string_view() : input.substr(feed + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (!is_valid_utf8(line)) {
      break;
    }
    // A byte order mark is neither JSON nor whitespace, though the
    // library would read past it.
    if (line.starts_with("\xEF\xBB\xBF")) {
      continue;
    }
    // A member that comes twice makes a request malformed only where the
    // server reads it: `id`, `method`, and an initialize request's params
    // and their protocolVersion.
    bool doubled_read = false;
    bool doubled_params = false;
    auto message = parse_json_tolerant(line, [&](const JsonKeyPath& path) {
      doubled_read |= path == JsonKeyPath{"id"} || path == JsonKeyPath{"method"};
      doubled_params |=
          path == JsonKeyPath{"params"} || path == JsonKeyPath{"params", "protocolVersion"};
    });
    if (!message || !message->is_object() || !message->contains("id") || doubled_read) {
      continue;
    }
    if (doubled_params && message->value("method", Json()) == "initialize") {
      continue;
    }
    ids.push_back(message->at("id"));
  }
  return ids;
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo;
  using namespace vellumo::fuzz;
  const std::string_view input = as_text(data, size);

  std::size_t offset = 0;
  std::size_t turn = 0;
  const McpReader read = [&](char* buffer, std::size_t room) -> Result<std::size_t, std::string> {
    static constexpr std::size_t kPieces[] = {1, 7, 64, 3, 4096, 2};
    const std::size_t n = std::min({room, input.size() - offset, kPieces[turn++ % 6]});
    std::copy_n(input.data() + offset, n, buffer);
    offset += n;
    return n;
  };
  std::string output;
  std::size_t writes = 0;
  const McpWriter write = [&](std::string_view bytes) {
    ++writes;
    FUZZ_CHECK(!bytes.empty() && bytes.back() == '\n');
    FUZZ_CHECK(std::count(bytes.begin(), bytes.end(), '\n') == 1);
    output += bytes;
    return true;
  };
  serve_mcp(read, write, "The guide.\n", mcp_instructions_text("/opt/vellumo/vellumo-cli"));

  const std::vector<Json> ids = request_ids(input);
  FUZZ_CHECK(writes == ids.size());
  std::size_t i = 0;
  for (std::string_view rest = output; !rest.empty(); ++i) {
    const auto feed = rest.find('\n');
    auto reply = parse_json(rest.substr(0, feed));
    rest.remove_prefix(feed + 1);
    FUZZ_CHECK(reply && reply->is_object());
    FUZZ_CHECK(reply->at("jsonrpc") == "2.0");
    FUZZ_CHECK(reply->contains("result") != reply->contains("error"));
    FUZZ_CHECK(i < ids.size() && reply->at("id") == ids[i]);
  }
  FUZZ_CHECK(i == ids.size());
  return 0;
}
