// The JSON configuration editor. The input's first line picks the mode
// (s, i or r), the entry shape (p plain, o opencode) and, after a space,
// the CLI path; the rest is the file's text.
//
// After any edit the text parses, every member other than the edited
// `vellumo` keeps its exact text and place, and the edit is done: a second
// install finds the entry present. A text that is not strict JSON is never
// written.

#include <algorithm>
#include <string>
#include <vector>

#include "agent_integration/json_config.h"
#include "core/utf8.h"
#include "fuzz_support.h"

namespace vellumo::fuzz {
namespace {

using agents::Member;
using agents::Mode;
using agents::TargetState;

constexpr std::string_view kPath = "/home/u/.gemini/settings.json";

std::vector<Member>::const_iterator first_named(const std::vector<Member>& members,
                                                std::string_view key) {
  return std::find_if(members.begin(), members.end(),
                      [&](const Member& m) { return m.key == key; });
}

agents::EditPlan plan(Mode mode, std::string_view text, std::string_view key,
                      agents::EntryShape shape, std::string_view cli) {
  return agents::plan_json_edit(mode, text, kPath, key, shape, cli);
}

void check_edit(Mode mode, std::string_view text, agents::EntryShape shape, std::string_view cli) {
  const std::string_view key = shape == agents::EntryShape::Plain ? "mcpServers" : "mcp";
  const agents::EditPlan result = plan(mode, text, key, shape, cli);
  FUZZ_CHECK(result.state != TargetState::Failed);
  const bool writes = result.state == TargetState::Added || result.state == TargetState::Updated ||
                      result.state == TargetState::Removed;
  FUZZ_CHECK(writes == result.new_text.has_value());
  FUZZ_CHECK(mode != Mode::Status || !writes);

  auto top = agents::read_member_list(text);
  if (!top) {
    FUZZ_CHECK(result.state == TargetState::Skipped &&
               result.detail == std::string(kPath) + ": not plain JSON, left alone");
    return;
  }
  if (!writes) {
    return;
  }

  // The old server list, and what it must become.
  const auto container = first_named(*top, key);
  std::vector<Member> servers;
  if (container != top->end()) {
    auto read = agents::read_member_list(container->raw_value);
    FUZZ_CHECK(read);
    servers = std::move(read).value();
  }
  const std::size_t own_entries = static_cast<std::size_t>(std::count_if(
      servers.begin(), servers.end(), [](const Member& m) { return m.key == "vellumo"; }));
  std::vector<Member> expected = servers;
  const auto entry = std::find_if(expected.begin(), expected.end(),
                                  [](const Member& m) { return m.key == "vellumo"; });
  const std::string pointer = agents::pointer_entry_text(shape, cli);
  if (result.state == TargetState::Added) {
    FUZZ_CHECK(entry == expected.end());
    expected.push_back({"vellumo", pointer});
  } else {
    FUZZ_CHECK(entry != expected.end());
    if (result.state == TargetState::Updated) {
      entry->raw_value = pointer;
    } else {
      expected.erase(entry);
    }
  }

  // The new text: strict JSON, ended by the line break of the old text.
  const std::string& out = *result.new_text;
  const std::string_view nl = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  FUZZ_CHECK(out.ends_with(nl));
  FUZZ_CHECK(is_valid_utf8(out));
  auto new_top = agents::read_member_list(out);
  FUZZ_CHECK(new_top);

  // The top level: the same members, only the container changed in place,
  // appended or (emptied) dropped.
  std::vector<Member> rest_old = *top;
  std::vector<Member> rest_new = *new_top;
  std::vector<Member> new_servers;
  if (container != top->end()) {
    const auto index = container - top->cbegin();
    rest_old.erase(rest_old.begin() + index);
    if (!expected.empty()) {
      FUZZ_CHECK(static_cast<std::size_t>(index) < rest_new.size() &&
                 rest_new[static_cast<std::size_t>(index)].key == key);
      auto read = agents::read_member_list(rest_new[static_cast<std::size_t>(index)].raw_value);
      FUZZ_CHECK(read);
      new_servers = std::move(read).value();
      rest_new.erase(rest_new.begin() + index);
    }
  } else {
    FUZZ_CHECK(!rest_new.empty() && rest_new.back().key == key);
    auto read = agents::read_member_list(rest_new.back().raw_value);
    FUZZ_CHECK(read);
    new_servers = std::move(read).value();
    rest_new.pop_back();
  }
  FUZZ_CHECK(rest_new == rest_old);
  FUZZ_CHECK(new_servers == expected);

  // The edit is done. (Of doubled containers only the first is edited.)
  if (result.state == TargetState::Removed) {
    const auto containers =
        std::count_if(top->begin(), top->end(), [&](const Member& m) { return m.key == key; });
    if (own_entries == 1 && containers == 1) {
      FUZZ_CHECK(plan(Mode::Status, out, key, shape, cli).state == TargetState::Absent);
    }
  } else {
    FUZZ_CHECK(plan(Mode::Status, out, key, shape, cli).state == TargetState::Present);
    const agents::EditPlan again = plan(Mode::Install, out, key, shape, cli);
    FUZZ_CHECK(again.state == TargetState::Present && !again.new_text);
  }
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo::fuzz;
  const Split input = split_first_line(as_text(data, size));
  if (input.head.size() < 2) {
    return 0;
  }
  const auto shape = input.head[1] == 'o' ? vellumo::agents::EntryShape::Opencode
                                          : vellumo::agents::EntryShape::Plain;
  const std::string_view cli = input.head.size() > 3 ? input.head.substr(3) : std::string_view();
  check_edit(mode_of(input.head[0]), input.rest, shape, cli);
  return 0;
}
