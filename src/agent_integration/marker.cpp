#include "agent_integration/marker.h"

#include "agent_integration/json_members.h"
#include "core/json.h"
#include "core/text.h"
#include "core/utf8.h"
#include "platform/files.h"

namespace vellumo::agents {

std::string marker_text(std::string_view cli_path, bool removed) {
  std::string text = "{\n  \"cli\": ";
  write_json_string(text, cli_path);
  text += ",\n  \"removed\": ";
  text += removed ? "true" : "false";
  text += "\n}";
  return text;
}

std::optional<Marker> parse_marker(std::string_view text) {
  if (!check_json(text)) {
    return std::nullopt;
  }
  // The text is strict JSON now; the object form goes through the member
  // list so that a doubled `cli` or `removed` is seen.
  if (auto members = read_member_list(text)) {
    std::optional<std::string> cli;
    std::optional<bool> removed;
    for (const Member& member : *members) {
      if (member.key != "cli" && member.key != "removed") {
        continue;
      }
      const Json value = Json::parse(member.raw_value, nullptr, false, false);
      if (member.key == "cli") {
        if (cli || !value.is_string()) {
          return std::nullopt;
        }
        cli = value.get<std::string>();
      } else {
        if (removed || !value.is_boolean()) {
          return std::nullopt;
        }
        removed = value.get<bool>();
      }
    }
    if (!cli || !removed) {
      return std::nullopt;
    }
    return Marker{std::move(*cli), *removed};
  }
  const Json value = Json::parse(text, nullptr, false, false);
  if (value.is_array() && value.size() == 2 && value[0].is_string() && value[1].is_boolean()) {
    return Marker{value[0].get<std::string>(), value[1].get<bool>()};
  }
  return std::nullopt;
}

void write_marker(const files::Folder& data, std::string_view cli_path, bool removed) {
  if (!is_valid_utf8(cli_path)) {
    return;
  }
  // Replaced, never truncated: a full disk leaves the old marker. What is
  // no marker of ours (a link at its name, a file someone else made) is
  // replaced too, never followed; a failure leaves things as they were.
  (void)files::write_own_file(data, std::string(kMarkerFileName), marker_text(cli_path, removed));
}

std::optional<Marker> read_marker(const files::Folder& data) {
  auto read = files::read_own_file(data, std::string(kMarkerFileName));
  if (!read || !read->text) {
    return std::nullopt;
  }
  return parse_marker(*read->text);
}

}  // namespace vellumo::agents
