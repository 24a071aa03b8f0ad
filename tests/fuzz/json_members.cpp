// The strict member-list reader of the configuration editors: it accepts
// exactly the strict JSON objects, cuts out each member's exact value
// text, and what it renders reads back the same.

#include "agent_integration/json_members.h"

#include <string>
#include <vector>

#include "core/json.h"
#include "fuzz_support.h"

namespace vellumo::fuzz {
namespace {

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void check_members(std::string_view text) {
  using agents::Member;
  const bool strict = static_cast<bool>(agents::check_json(text));
  auto members = agents::read_member_list(text);
  const auto first = text.find_first_not_of(" \t\n\r");
  const bool object = first != std::string_view::npos && text[first] == '{';
  FUZZ_CHECK(static_cast<bool>(members) == (strict && object));
  if (!members) {
    FUZZ_CHECK(!members.error().starts_with("internal error"));
    return;
  }

  // Each value is a strict JSON text of its own, cut without surrounding
  // whitespace, and the values follow each other through the text.
  std::size_t at = 0;
  for (const Member& member : *members) {
    FUZZ_CHECK(!member.raw_value.empty());
    FUZZ_CHECK(!is_json_space(member.raw_value.front()) && !is_json_space(member.raw_value.back()));
    FUZZ_CHECK(agents::check_json(member.raw_value));
    const auto found = text.find(member.raw_value, at);
    FUZZ_CHECK(found != std::string_view::npos);
    at = found + member.raw_value.size();
  }

  // Where the library can build the object (no doubled names), every value
  // is what the library reads there.
  if (auto value = parse_json(text)) {
    FUZZ_CHECK(value->size() == members->size());
    for (const Member& member : *members) {
      auto item = parse_json(member.raw_value);
      FUZZ_CHECK(item && value->contains(member.key) && value->at(member.key) == *item);
    }
  }

  // Rendered at any indent with either line break, the list reads back as
  // the same list.
  for (const std::string_view nl : {std::string_view("\n"), std::string_view("\r\n")}) {
    for (const int indent : {0, 2}) {
      const std::string rendered = agents::render_member_list(*members, indent, nl);
      auto again = agents::read_member_list(rendered);
      FUZZ_CHECK(again && *again == *members);
    }
  }
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vellumo::fuzz::check_members(vellumo::fuzz::as_text(data, size));
  return 0;
}
