#include "app_link/app_link.h"

#include <chrono>
#include <thread>

#include "app_link/launch.h"
#include "core/text.h"
#include "core/utf8.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

constexpr auto kBusyRetryFor = std::chrono::seconds(10);
constexpr auto kBusyRetryPause = std::chrono::milliseconds(50);

LinkError exchange_error(std::string message) {
  return {LinkErrorKind::Exchange, std::move(message)};
}

LinkError unreadable(std::string_view why) {
  return exchange_error("Vellumo sent an unreadable reply: " + std::string(why));
}

bool is_blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Opens the link, retrying for a while when all its instances are busy.
Result<platform::LinkStream, LinkError> open_with_retry(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    auto stream = platform::open_link(path);
    if (stream) {
      return std::move(stream).value();
    }
    if (stream.error().kind == platform::LinkOpenFailure::Untrusted) {
      return LinkError{LinkErrorKind::Exchange, "Refusing to send the request to " + path + ": " +
                                                    stream.error().text + "."};
    }
    if (stream.error().kind != platform::LinkOpenFailure::Busy ||
        std::chrono::steady_clock::now() - start >= kBusyRetryFor) {
      return LinkError{LinkErrorKind::Unreachable, std::move(stream).error().text};
    }
    std::this_thread::sleep_for(kBusyRetryPause);
  }
}

}  // namespace

Result<std::string, LinkError> read_reply_line(platform::LinkStream& stream, std::size_t limit) {
  auto line = stream.read_line(limit);
  if (!line) {
    if (line.error().kind == platform::LineError::Kind::TooLong) {
      return unreadable("the reply is longer than " + std::to_string(limit) + " bytes");
    }
    return exchange_error("Vellumo closed the connection: " + line.error().text);
  }
  std::string text = std::move(line).value().value_or(std::string());
  if (!is_valid_utf8(text)) {
    return exchange_error("Vellumo closed the connection: " + std::string(kNotUtf8Text));
  }
  return text;
}

std::string user_link_path() {
  return platform::link_path(user_tag(platform::get_env("USERNAME")));
}

std::string serialize_request(const Request& request) {
  std::string out;
  out.reserve(128);
  out += "{\"version\":";
  out += std::to_string(PROTOCOL_VERSION);
  out += ",\"command\":";
  write_json_string(out, request.command);
  out += ",\"args\":";
  write_json_compact(out, request.args);
  out += ",\"detach\":";
  out += request.detach == Detach::Yes ? "true" : "false";
  out += "}\n";
  return out;
}

Result<JsonTape, LinkError> parse_response(std::string line) {
  if (is_blank(line)) {
    return exchange_error("Vellumo closed the connection without replying.");
  }
  auto parsed = JsonTape::parse(std::move(line));
  if (!parsed) {
    return unreadable(parsed.error());
  }
  JsonTape& reply = *parsed;
  const JsonNode root = reply.root();
  if (!root.is_object()) {
    return unreadable("the reply is not a JSON object");
  }
  const auto ok = root.find("ok");
  if (!ok) {
    return unreadable("the reply has no `ok` member");
  }
  if (!ok->is_boolean()) {
    return unreadable("`ok` is neither true nor false");
  }
  const auto error = root.find("error");
  if (error && !error->is_string() && !error->is_null()) {
    return unreadable("`error` is neither a string nor null");
  }
  if (ok->boolean()) {
    const auto result = root.find("result");
    if (!result) {
      return JsonTape();
    }
    reply.narrow_to(*result);
    return std::move(reply);
  }
  // An error text with nothing to read in it tells no more than none.
  if (!error || error->is_null() || trim(error->string()).empty()) {
    return exchange_error("Vellumo reported an unknown error.");
  }
  return exchange_error(std::string(error->string()));
}

namespace app_link {

Result<JsonTape, LinkError> send(const Request& request) {
  auto stream = open_with_retry(user_link_path());
  if (!stream) {
    return std::move(stream).error();
  }
  if (auto sent = stream->write_all(serialize_request(request)); !sent) {
    return exchange_error("Cannot send the request to Vellumo: " + sent.error());
  }
  TRY(std::string line, read_reply_line(*stream));
  return parse_response(std::move(line));
}

Result<JsonTape> call_tape(Launch launch, std::string_view command, Json args, Detach detach) {
  const Request request{std::string(command), std::move(args), detach};
  auto reply = send(request);
  if (reply) {
    return std::move(reply).value();
  }
  LinkError& error = reply.error();
  if (error.kind == LinkErrorKind::Exchange) {
    return CliError::failed(std::move(error.message));
  }
  if (launch == Launch::Never) {
    return CliError::not_running("Vellumo is not running (" + error.message + ").");
  }
  return launch_and_resend(request);
}

}  // namespace app_link
}  // namespace vellumo
