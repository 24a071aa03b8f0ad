#pragma once

// The stand-in app's side of the wire: reading a request line, the shape of
// a row of the command table (which App holds), and checking arguments
// against a row.

#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/result.h"

namespace vellumo::standin {

/// Requests longer than this (line feed not counted) are refused unread.
inline constexpr std::size_t kMaxRequestBytes = std::size_t{64} << 20;

struct AppRequest {
  std::string command;
  Json args = Json::object();
  bool detach = false;
};

/// Reads one request line: a JSON object with `version` (1), `command` (a
/// string), `args` (an object or null; absent means {}) and `detach` (a
/// boolean; absent means false). The error says what is wrong.
Result<AppRequest, std::string> parse_request(std::string_view line);

/// One line of reply: {"ok":true,"result":...} or {"ok":false,"error":...},
/// compact, with its line feed; always UTF-8, bytes that are not made
/// U+FFFD.
std::string reply_line(const Result<Json, std::string>& outcome);

enum class ArgType {
  Text,          ///< a string
  OptionalText,  ///< a string, null, or absent
  Flag,          ///< true or false
  OptionalFlag,  ///< true, false, null or absent (false)
  Texts,         ///< an array of strings
  Count,         ///< an unsigned integer; absent for the default
  Object,        ///< an object
};

struct ArgSpec {
  std::string_view name;
  ArgType type;
};

class App;

/// What answers a command: a member of App, called with the app's lock held
/// and the checked arguments.
using Handler = Result<Json, std::string> (App::*)(std::unique_lock<std::mutex>& lock,
                                                   const Json& args, bool detach);

/// One row of the app's command table: a command's name, the arguments it
/// takes and its handler.
struct CommandSpec {
  std::string_view name;
  std::span<const ArgSpec> args;
  Handler handler = nullptr;
};

/// Whether `args` fit `command_info`: an object (null counts as {}) with no member
/// the command does not take, every required member present, each of the
/// type its entry says. Returns the arguments as an object.
Result<Json, std::string> check_args(const CommandSpec& command_info, const Json& args);

/// A checked argument of type OptionalText: nullopt when null or absent.
std::optional<std::string> optional_text(const Json& args, std::string_view name);

}  // namespace vellumo::standin
