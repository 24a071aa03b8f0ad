#include "agent_integration/user_path.h"

namespace vellumo::agents {
namespace {

constexpr std::string_view kWhitespace = " \t\r\n\v\f";

// Only ASCII whitespace around an entry is dropped: other Unicode spaces
// (core/text.h's trim drops them too) may begin or end a folder's name.
std::string_view trim_ascii_whitespace(std::string_view text) {
  const auto first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

// %NAME% references replaced by the variables' values, once, left to
// right; unknown names and a lone `%` stay as written.
std::string expand_references(std::string_view text, const EnvLookup& lookup) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto open = text.find('%', i);
    if (open == std::string_view::npos) {
      break;
    }
    const auto close = text.find('%', open + 1);
    if (close == std::string_view::npos) {
      break;
    }
    out.append(text, i, open - i);
    const std::string_view name = text.substr(open + 1, close - open - 1);
    if (auto value = lookup(name)) {
      out += *value;
    } else {
      out.append(text, open, close - open + 1);
    }
    i = close + 1;
  }
  out.append(text, i);
  return out;
}

std::string_view without_trailing_backslashes(std::string_view text) {
  while (!text.empty() && text.back() == '\\') {
    text.remove_suffix(1);
  }
  return text;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string join_entries(const std::vector<std::string_view>& entries) {
  std::string value;
  for (std::string_view entry : entries) {
    value += value.empty() ? "" : ";";
    value += entry;
  }
  return value;
}

}  // namespace

std::vector<std::string_view> path_entries(std::string_view value) {
  std::vector<std::string_view> entries;
  std::size_t start = 0;
  for (;;) {
    const auto end = value.find(';', start);
    const std::string_view piece =
        value.substr(start, end == std::string_view::npos ? value.npos : end - start);
    if (!trim_ascii_whitespace(piece).empty()) {
      entries.push_back(piece);
    }
    if (end == std::string_view::npos) {
      return entries;
    }
    start = end + 1;
  }
}

bool same_folder(std::string_view entry, std::string_view folder, const EnvLookup& lookup) {
  const std::string expanded = expand_references(trim_ascii_whitespace(entry), lookup);
  return equal_ignoring_ascii_case(without_trailing_backslashes(expanded),
                                   without_trailing_backslashes(folder));
}

PathPlan plan_user_path(Mode mode, std::string_view value, std::string_view folder,
                        const EnvLookup& lookup) {
  std::vector<std::string_view> entries = path_entries(value);
  std::vector<std::string_view> others;
  for (std::string_view entry : entries) {
    if (!same_folder(entry, folder, lookup)) {
      others.push_back(entry);
    }
  }
  const bool found = others.size() != entries.size();
  switch (mode) {
    case Mode::Status:
      return {found ? TargetState::Present : TargetState::Absent, std::nullopt};
    case Mode::Install:
      if (found) {
        return {TargetState::Present, std::nullopt};
      }
      entries.push_back(folder);
      return {TargetState::Added, join_entries(entries)};
    case Mode::Remove:
      if (!found) {
        return {TargetState::Absent, std::nullopt};
      }
      return {TargetState::Removed, join_entries(others)};
  }
  return {TargetState::Absent, std::nullopt};
}

}  // namespace vellumo::agents
