#include "standin_app/commands.h"

#include "core/link_protocol.h"
#include "core/text.h"
#include "core/utf8.h"

namespace vellumo::standin {
namespace {

// Makes every text in `value`, keys included, valid UTF-8: a message may
// quote bytes of a damaged file, and a client refuses a reply that is not
// UTF-8 as a whole.
void make_valid_utf8(Json& value) {
  if (value.is_string()) {
    auto& text = value.get_ref<std::string&>();
    if (!is_valid_utf8(text)) {
      text = lossy_utf8(text);
    }
  } else if (value.is_array()) {
    for (Json& item : value) {
      make_valid_utf8(item);
    }
  } else if (value.is_object()) {
    auto& members = value.get_ref<Json::object_t&>();
    std::vector<std::string> bad_keys;
    for (auto& [key, member] : members) {
      make_valid_utf8(member);
      if (!is_valid_utf8(key)) {
        bad_keys.push_back(key);
      }
    }
    for (const std::string& key : bad_keys) {
      auto node = members.extract(key);
      node.key() = lossy_utf8(key);
      members.insert(std::move(node));
    }
  }
}

using enum ArgType;

bool required(ArgType type) {
  return type != OptionalText && type != OptionalFlag && type != Count;
}

bool fits(ArgType type, const Json& value) {
  switch (type) {
    case Text:
      return value.is_string();
    case OptionalText:
      return value.is_string() || value.is_null();
    case Flag:
      return value.is_boolean();
    case OptionalFlag:
      return value.is_boolean() || value.is_null();
    case Texts:
      if (!value.is_array()) {
        return false;
      }
      for (const Json& item : value) {
        if (!item.is_string()) {
          return false;
        }
      }
      return true;
    case Count:
      return value.is_number_unsigned() ||
             (value.is_number_integer() && value.get<std::int64_t>() >= 0);
    case Object:
      return value.is_object();
  }
  return false;
}

std::string_view type_text(ArgType type) {
  switch (type) {
    case Text:
      return "a string";
    case OptionalText:
      return "a string or null";
    case Flag:
      return "true or false";
    case OptionalFlag:
      return "true, false or null";
    case Texts:
      return "an array of strings";
    case Count:
      return "a whole number of at least 0";
    case Object:
      return "an object";
  }
  return "";
}

}  // namespace

Result<AppRequest, std::string> parse_request(std::string_view line) {
  if (!is_valid_utf8(line)) {
    return Err{std::string("The request is not valid UTF-8.")};
  }
  auto parsed = parse_json(line);
  if (!parsed) {
    return Err{"The request is not JSON: " + parsed.error()};
  }
  Json& request = *parsed;
  if (!request.is_object()) {
    return Err{std::string("The request is not a JSON object.")};
  }
  auto version = request.find("version");
  if (version == request.end() || !version->is_number_unsigned() ||
      version->get<std::uint64_t>() != PROTOCOL_VERSION) {
    return Err{"The request does not speak protocol version " + std::to_string(PROTOCOL_VERSION) +
               "."};
  }
  auto command = request.find("command");
  if (command == request.end() || !command->is_string()) {
    return Err{std::string("The request has no command.")};
  }
  AppRequest out;
  out.command = command->get<std::string>();
  if (auto args = request.find("args"); args != request.end() && !args->is_null()) {
    out.args = std::move(*args);
  }
  if (auto detach = request.find("detach"); detach != request.end()) {
    if (!detach->is_boolean()) {
      return Err{std::string("`detach` must be true or false.")};
    }
    out.detach = detach->get<bool>();
  }
  return out;
}

std::string reply_line(const Result<Json, std::string>& outcome) {
  Json reply = Json::object();
  reply["ok"] = outcome.ok();
  if (outcome) {
    reply["result"] = outcome.value();
  } else {
    reply["error"] = outcome.error();
  }
  make_valid_utf8(reply);
  std::string line;
  write_json_compact(line, reply);
  line += '\n';
  return line;
}

Result<Json, std::string> check_args(const CommandSpec& command_info, const Json& args) {
  const std::string command(command_info.name);
  if (args.is_null()) {
    return check_args(command_info, Json::object());
  }
  if (!args.is_object()) {
    return Err{"The arguments of " + command + " must be a JSON object."};
  }
  for (const auto& [name, value] : args.items()) {
    const ArgSpec* arg = nullptr;
    for (const ArgSpec& candidate : command_info.args) {
      if (candidate.name == name) {
        arg = &candidate;
      }
    }
    if (!arg) {
      return Err{command + " takes no argument `" + name + "`."};
    }
    if (!fits(arg->type, value)) {
      return Err{"The argument `" + name + "` of " + command + " must be " +
                 std::string(type_text(arg->type)) + "."};
    }
  }
  for (const ArgSpec& arg : command_info.args) {
    if (required(arg.type) && !args.contains(arg.name)) {
      return Err{command + " needs the argument `" + std::string(arg.name) + "`."};
    }
  }
  return args;
}

std::optional<std::string> optional_text(const Json& args, std::string_view name) {
  auto it = args.find(name);
  if (it == args.end() || !it->is_string()) {
    return std::nullopt;
  }
  return it->get<std::string>();
}

}  // namespace vellumo::standin
