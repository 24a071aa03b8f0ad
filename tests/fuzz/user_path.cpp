// The PATH entries: `same_folder` with %NAME% references, and the plan of
// an install or removal. The input's first line is the CLI folder; then
// NAME=value lines set variables up to an empty line; the rest is the
// PATH value.

#include "agent_integration/user_path.h"

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace vellumo::fuzz {
namespace {

using agents::Mode;
using agents::TargetState;

// An ASCII blank: isspace in the C locale, which the harness keeps.
bool blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void check_plans(std::string_view value, std::string_view folder, const agents::EnvLookup& lookup) {
  const auto entries = agents::path_entries(value);
  const auto status = agents::plan_user_path(Mode::Status, value, folder, lookup);
  const auto install = agents::plan_user_path(Mode::Install, value, folder, lookup);
  const auto remove = agents::plan_user_path(Mode::Remove, value, folder, lookup);
  const bool found = status.state == TargetState::Present;
  FUZZ_CHECK(!status.new_value);
  FUZZ_CHECK(found || status.state == TargetState::Absent);
  FUZZ_CHECK(install.state == (found ? TargetState::Present : TargetState::Added));
  FUZZ_CHECK(remove.state == (found ? TargetState::Removed : TargetState::Absent));
  FUZZ_CHECK(install.new_value.has_value() == !found);
  FUZZ_CHECK(remove.new_value.has_value() == found);

  // A folder that is a plain entry of its own: an install makes it found,
  // a removal makes it gone, and other entries keep their text and order.
  const bool plain = !folder.empty() && !blank(folder.front()) && !blank(folder.back()) &&
                     folder.find_first_of(";%") == std::string_view::npos &&
                     folder.find_first_not_of('\\') != std::string_view::npos;
  if (install.new_value) {
    auto added = agents::path_entries(*install.new_value);
    FUZZ_CHECK(!plain || (!added.empty() && added.back() == folder));
    if (plain) {
      added.pop_back();
      FUZZ_CHECK(added == entries);
      FUZZ_CHECK(agents::plan_user_path(Mode::Status, *install.new_value, folder, lookup).state ==
                 TargetState::Present);
    }
  }
  if (remove.new_value) {
    std::vector<std::string_view> others;
    for (std::string_view entry : entries) {
      if (!agents::same_folder(entry, folder, lookup)) {
        others.push_back(entry);
      }
    }
    FUZZ_CHECK(others.size() < entries.size());
    FUZZ_CHECK(agents::path_entries(*remove.new_value) == others);
    FUZZ_CHECK(agents::plan_user_path(Mode::Status, *remove.new_value, folder, lookup).state ==
               TargetState::Absent);
  }
}

void check_same_folder(std::string_view value, const std::map<std::string, std::string>& env,
                       const agents::EnvLookup& lookup) {
  const agents::EnvLookup nothing_set = [](std::string_view) { return std::nullopt; };
  for (std::string_view text : agents::path_entries(value)) {
    if (blank(text.front()) || blank(text.back())) {
      continue;
    }
    // Without variables every entry stands for its text without the ASCII
    // blanks around it, and only those: other spaces may begin or end a
    // folder's name. Trailing backslashes and ASCII case make no difference.
    const std::string entry = " \t\r\n\v\f" + std::string(text) + "\f\v\n\r\t ";
    FUZZ_CHECK(agents::same_folder(entry, text, nothing_set));
    FUZZ_CHECK(!agents::same_folder("\xc2\xa0" + std::string(text), text, nothing_set));
    FUZZ_CHECK(!agents::same_folder(std::string(text) + "\xc2\xa0", text, nothing_set));
    FUZZ_CHECK(agents::same_folder(entry, std::string(text) + "\\\\", nothing_set));
    std::string upper(text);
    for (char& c : upper) {
      c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    FUZZ_CHECK(agents::same_folder(entry, upper, nothing_set));

    // A reference to a set variable in front of a plain tail stands for the
    // value (not scanned again) and the tail.
    if (text.find('%') == std::string_view::npos) {
      for (const auto& [name, replacement] : env) {
        if (name.find('%') != std::string::npos) {
          continue;
        }
        FUZZ_CHECK(agents::same_folder("%" + name + "%" + std::string(text),
                                       replacement + std::string(text), lookup));
      }
    }
  }
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo::fuzz;
  Split input = split_first_line(as_text(data, size));
  const std::string_view folder = input.head;
  std::map<std::string, std::string> env;
  for (;;) {
    const Split line = split_first_line(input.rest);
    input.rest = line.rest;
    if (line.head.empty()) {
      break;
    }
    const auto equals = line.head.find('=');
    env[std::string(line.head.substr(0, equals))] =
        equals == std::string_view::npos ? "" : std::string(line.head.substr(equals + 1));
  }
  const vellumo::agents::EnvLookup lookup =
      [&](std::string_view name) -> std::optional<std::string> {
    const auto found = env.find(std::string(name));
    return found == env.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
  check_plans(input.rest, folder, lookup);
  check_same_folder(input.rest, env, lookup);
  return 0;
}
