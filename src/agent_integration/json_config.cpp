#include "agent_integration/json_config.h"

#include <algorithm>

#include "core/json.h"

namespace vellumo::agents {
namespace {

constexpr std::string_view kEntryName = "vellumo";

Json pointer_entry_value(EntryShape shape, std::string_view cli_path) {
  Json entry = Json::object();
  if (shape == EntryShape::Plain) {
    Json args = Json::array();
    args.push_back("mcp");
    entry["args"] = std::move(args);
    entry["command"] = std::string(cli_path);
  } else {
    Json command = Json::array();
    command.push_back(std::string(cli_path));
    command.push_back("mcp");
    entry["command"] = std::move(command);
    entry["enabled"] = true;
    entry["type"] = "local";
  }
  return entry;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

std::vector<Member>::iterator find_member(std::vector<Member>& members, std::string_view key) {
  return std::find_if(members.begin(), members.end(),
                      [&](const Member& m) { return m.key == key; });
}

// A member that decides the edit and is there twice: a reader of the file
// may take either one, so neither is ours to judge or change.
std::optional<std::string> doubled(const std::vector<Member>& members, std::string_view key,
                                   std::string_view file_path) {
  if (std::count_if(members.begin(), members.end(), [&](const Member& m) { return m.key == key; }) <
      2) {
    return std::nullopt;
  }
  return std::string(file_path) + ": `" + std::string(key) + "` appears more than once, left alone";
}

}  // namespace

std::string pointer_entry_text(EntryShape shape, std::string_view cli_path) {
  std::string out;
  if (shape == EntryShape::Plain) {
    out = R"({"args":["mcp"],"command":)";
    write_json_string(out, cli_path);
    out += '}';
  } else {
    out = R"({"command":[)";
    write_json_string(out, cli_path);
    out += R"(,"mcp"],"enabled":true,"type":"local"})";
  }
  return out;
}

bool names_vellumo_cli(std::string_view path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  while (!path.empty() && separator(path.back())) {
    path.remove_suffix(1);
  }
  std::size_t start = path.size();
  while (start > 0 && !separator(path[start - 1])) {
    --start;
  }
  const std::string_view name = path.substr(start);
  return ascii_iequals(name, "vellumo-cli") || ascii_iequals(name, "vellumo-cli.exe");
}

EntryFacts entry_facts(const std::vector<Member>& servers, EntryShape shape,
                       std::string_view cli_path) {
  EntryFacts facts;
  const auto it = std::find_if(servers.begin(), servers.end(),
                               [](const Member& m) { return m.key == kEntryName; });
  if (it == servers.end()) {
    facts.absent = true;
    return facts;
  }
  // The raw text was checked already. The library keeps the last of
  // duplicate names here, as a plain reading of the value would.
  const Json value = Json::parse(it->raw_value, nullptr, false, false);
  if (!value.is_object()) {
    return facts;
  }
  facts.equal = value == pointer_entry_value(shape, cli_path);
  const auto command = value.find("command");
  if (command != value.end()) {
    const Json* text = nullptr;
    if (command->is_string()) {
      text = &*command;
    } else if (command->is_array() && !command->empty() && command->front().is_string()) {
      text = &command->front();
    }
    facts.own = text != nullptr && names_vellumo_cli(text->get_ref<const std::string&>());
  }
  return facts;
}

EditPlan plan_json_edit(Mode mode, std::string_view text, std::string_view file_path,
                        std::string_view container_key, EntryShape shape,
                        std::string_view cli_path) {
  auto top = read_member_list(text);
  if (!top) {
    return {TargetState::Skipped, std::string(file_path) + ": not plain JSON, left alone", {}};
  }
  if (auto reason = doubled(*top, container_key, file_path)) {
    return {TargetState::Skipped, std::move(reason), {}};
  }
  const auto container = find_member(*top, container_key);
  std::vector<Member> servers;
  if (container != top->end()) {
    auto read = read_member_list(container->raw_value);
    if (!read) {
      return {TargetState::Skipped,
              std::string(file_path) + ": `" + std::string(container_key) + "` is not an object",
              {}};
    }
    servers = std::move(read).value();
  }
  if (auto reason = doubled(servers, kEntryName, file_path)) {
    return {TargetState::Skipped, std::move(reason), {}};
  }

  const TargetState state = decide_entry(mode, entry_facts(servers, shape, cli_path));
  if (state != TargetState::Added && state != TargetState::Updated &&
      state != TargetState::Removed) {
    return {state, {}, {}};
  }

  auto check_failed = [&](std::string error) {
    return EditPlan{TargetState::Skipped, std::string(file_path) + ": " + error, {}};
  };
  const auto entry = find_member(servers, kEntryName);
  if (state == TargetState::Removed) {
    servers.erase(entry);
  } else {
    std::string pointer = pointer_entry_text(shape, cli_path);
    if (auto checked = check_json(pointer); !checked) {
      return check_failed(std::move(checked).error());
    }
    if (state == TargetState::Added) {
      servers.push_back({std::string(kEntryName), std::move(pointer)});
    } else {
      entry->raw_value = std::move(pointer);
    }
  }

  const std::string_view nl = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::string rendered = render_member_list(servers, 2, nl);
  if (auto checked = check_json(rendered); !checked) {
    return check_failed(std::move(checked).error());
  }
  if (container == top->end()) {
    top->push_back({std::string(container_key), std::move(rendered)});
  } else if (servers.empty()) {
    top->erase(container);
  } else {
    container->raw_value = std::move(rendered);
  }
  std::string new_text = render_member_list(*top, 0, nl);
  new_text += nl;
  return {state, {}, std::move(new_text)};
}

TargetResult edit_json_target(Mode mode, const JsonTarget& target, std::string_view cli_path) {
  return edit_target(target.display_name, target.file_path, "{}", [&](std::string_view text) {
    return plan_json_edit(mode, text, target.file_path, target.container_key, target.shape,
                          cli_path);
  });
}

}  // namespace vellumo::agents
