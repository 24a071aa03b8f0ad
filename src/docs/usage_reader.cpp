#include "docs/usage_reader.h"

#include <algorithm>
#include <map>

#include "cli/syntax.h"
#include "core/text.h"
#include "texts/texts.h"

namespace vellumo::docs {
namespace {

// What the placeholders of the syntax stand for.
const std::map<std::string_view, std::string_view> kArgumentKinds = {
    {"<id>", kRef},    {"<file>", kFile},    {"<path>", kFile},    {"<title>", kText},
    {"<from>", kText}, {"<to>", kText},      {"<command>", kText}, {"[json]", kText},
    {"[key]", kText},  {"key=value", kText},
};
const std::map<std::string_view, std::string_view> kValueKinds = {
    {"F", kFile}, {"T", kText}, {"N", kText}, {"S", kText}, {"M", kText},
};
// `open` takes the pages that texts.h lists; its usage line names them.
constexpr std::string_view kPagePlaceholder = "[page]";

Strings split(std::string_view text, char separator) {
  Strings parts;
  for (std::size_t start = 0;;) {
    const auto end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

}  // namespace

Result<UsageEntry, Error> read_entry(std::string_view text) {
  UsageEntry entry;
  entry.syntax = std::string(text);
  const auto fail = [&](std::string what) -> Error {
    return Error{"the command `" + entry.syntax + "`: " + what};
  };
  const Syntax syntax = read_syntax(text);
  if (!syntax.error.empty()) {
    return fail(std::string(syntax.error));
  }
  for (std::string_view level : syntax.words()) {
    entry.words.push_back(split(level, '|'));
  }
  for (const SyntaxArgument& argument : syntax.arguments()) {
    std::string slot;
    if (argument.text == kPagePlaceholder) {
      slot = join_texts(kUsagePages, "|");
    } else if (const auto known = kArgumentKinds.find(argument.text);
               known != kArgumentKinds.end()) {
      slot = known->second;
    } else if (argument.choice) {
      slot = argument.text;  // words after an argument: `on|off`
    } else {
      return fail("`" + std::string(argument.text) + "` is a placeholder of no known kind");
    }
    entry.slots.push_back(slot + (argument.repeats ? std::string(kRepeat) : ""));
  }
  for (const SyntaxOption& option : syntax.options()) {
    std::string kind;
    if (option.value.find('|') != std::string_view::npos) {
      kind = option.value;
    } else if (const auto known = kValueKinds.find(option.value); known != kValueKinds.end()) {
      kind = known->second;
    } else if (!option.value.empty()) {
      return fail("the option " + std::string(option.name) + " takes `" +
                  std::string(option.value) + "`, a value of no known kind");
    }
    entry.options.emplace_back(option.name, kind);
  }
  return entry;
}

Result<std::vector<UsageSection>, Error> read_commands(std::span<const CommandRow> rows) {
  std::vector<UsageSection> sections;
  const vellumo::UsageSection* section = nullptr;
  for (const CommandRow& row : rows) {
    if (row.section == nullptr) {
      continue;
    }
    if (row.section != section) {
      section = row.section;
      sections.push_back({std::string(section->title), std::string(section->note), {}});
    }
    TRY(UsageEntry entry, read_entry(row.syntax));
    if (row.column.empty()) {
      entry.description = row.sentence;
    } else {
      entry.description = join_texts(split(row.column, '\n'), " ");
    }
    const auto pages =
        std::find(entry.slots.begin(), entry.slots.end(), join_texts(kUsagePages, "|"));
    for (std::string_view page : kUsagePages) {
      if (pages != entry.slots.end() && entry.description.find(page) == std::string::npos) {
        return Error{"expected the line `" + entry.syntax + "` to name the page `" +
                     std::string(page) + "`"};
      }
    }
    sections.back().entries.push_back(std::move(entry));
  }
  return sections;
}

}  // namespace vellumo::docs
