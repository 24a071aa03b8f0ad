#include "docs/usage_reader.h"

#include <algorithm>
#include <set>

#include "core/text.h"
#include "texts/texts.h"

namespace vellumo::docs {
namespace {

// What the placeholders of the usage text stand for. A placeholder missing
// here is an error: a new one needs its completion decided.
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

Strings split(std::string_view text, std::string_view separator) {
  Strings parts;
  std::size_t start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + separator.size();
  }
}

// Spaces only, as the usage text is laid out; core's trim is for text from outside.
std::string trimmed(std::string_view text) {
  const auto start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    return "";
  }
  return std::string(text.substr(start, text.find_last_not_of(' ') - start + 1));
}

// A command word, or alternatives of it: `start|stop|cancel`.
bool is_command_word(std::string_view token) {
  return !token.empty() && token[0] >= 'a' && token[0] <= 'z' && token.find("||") == token.npos &&
         token.back() != '|' &&
         token.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-|") == token.npos;
}

std::string without_brackets(std::string token) {
  std::erase_if(token, [](char c) { return c == '[' || c == ']'; });
  return token;
}

Error at_line(std::size_t number, std::string_view what, std::string_view line) {
  return Error{"usage text, line " + std::to_string(number) + ": expected " + std::string(what) +
               ", found `" + std::string(line) + "`"};
}

// The command part of one line (or of an extra command of the manual).
Result<UsageEntry, Error> read_entry(std::string_view syntax) {
  UsageEntry entry;
  entry.syntax = std::string(syntax);
  const Strings tokens = split(syntax, " ");
  const auto fail = [&](std::string what) -> Error {
    return Error{"the command `" + entry.syntax + "`: " + what};
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (entry.slots.empty() && entry.options.empty() && is_command_word(token)) {
      entry.words.push_back(split(token, "|"));
      continue;
    }
    if (entry.words.empty()) {
      return fail("expected a command word first, found `" + token + "`");
    }
    const std::string bare = without_brackets(token);
    if (bare.starts_with("--")) {
      std::string kind;
      const std::string next = i + 1 < tokens.size() ? without_brackets(tokens[i + 1]) : "";
      if (!next.empty() && !next.starts_with('-') && !next.starts_with('<') && next != "|" &&
          next != kRepeat) {
        if (is_command_word(next) && next.find('|') != std::string::npos) {
          kind = next;
        } else if (const auto known = kValueKinds.find(next); known != kValueKinds.end()) {
          kind = known->second;
        } else {
          return fail("the option " + bare + " takes `" + next + "`, a value of no known kind");
        }
        ++i;
      }
      entry.options.emplace_back(bare, kind);
    } else if (token == "|") {
      continue;  // between options that exclude each other
    } else if (token == kRepeat) {
      if (entry.slots.empty()) {
        return fail("`...` repeats nothing");
      }
      entry.slots.back() += kRepeat;
    } else if (token == kPagePlaceholder) {
      entry.slots.push_back(join_texts(kUsagePages, "|"));
    } else if (const auto known = kArgumentKinds.find(token); known != kArgumentKinds.end()) {
      entry.slots.emplace_back(known->second);
    } else if (is_command_word(token) && token.find('|') != std::string::npos) {
      entry.slots.push_back(token);  // words after an argument: `on|off`
    } else {
      return fail("`" + token + "` is a placeholder of no known kind");
    }
  }
  if (entry.words.empty()) {
    return fail("expected a command word");
  }
  return entry;
}

// Every path of command words an entry spells, its alternatives expanded.
std::vector<Strings> paths_of(const UsageEntry& entry) {
  std::vector<Strings> paths = {{}};
  for (const Strings& level : entry.words) {
    std::vector<Strings> longer;
    for (const Strings& path : paths) {
      for (const std::string& word : level) {
        longer.push_back(path);
        longer.back().push_back(word);
      }
    }
    paths = std::move(longer);
  }
  return paths;
}

Strings option_names(const Manual& manual) {
  Strings names;
  for (const auto& [key, text] : manual.options) {
    for (const std::string& name : split(key, ", ")) {
      names.push_back(name);
    }
  }
  return names;
}

// Records keyed by text, kept in the order of their first appearance.
class Records {
 public:
  Strings& operator[](const std::string& key) {
    for (auto& [k, words] : records_) {
      if (k == key) {
        return words;
      }
    }
    return records_.emplace_back(key, Strings{}).second;
  }
  const std::vector<std::pair<std::string, Strings>>& all() const { return records_; }

 private:
  std::vector<std::pair<std::string, Strings>> records_;
};

void add_unique(Strings& list, const std::string& word) {
  if (std::find(list.begin(), list.end(), word) == list.end()) {
    list.push_back(word);
  }
}

}  // namespace

Result<Usage, Error> read_usage(std::string_view text) {
  if (!text.ends_with('\n')) {
    return Error{"usage text: expected it to end with a line feed"};
  }
  const Strings lines = split(text.substr(0, text.size() - 1), "\n");
  std::size_t at = 0;
  const auto line = [&]() -> std::string_view {
    return at < lines.size() ? std::string_view(lines[at]) : std::string_view("<end of text>");
  };
  const auto blank = [&](std::string_view after) -> Result<void, Error> {
    if (at >= lines.size() || !lines[at].empty()) {
      return at_line(at + 1, "an empty line after " + std::string(after), line());
    }
    ++at;
    return {};
  };

  Usage usage;
  const std::string lead = "vellumo-cli " + std::string(kVersion) + ": ";
  if (!line().starts_with(lead) || !line().ends_with('.') || line().size() == lead.size() + 1) {
    return at_line(1, "`" + lead + "<summary>.`", line());
  }
  usage.summary = std::string(line().substr(lead.size(), line().size() - lead.size() - 1));
  ++at;
  TRY_STATUS(blank("the title"));

  constexpr std::string_view kUsageLead = "Usage: ";
  if (!line().starts_with(std::string(kUsageLead) + "vellumo-cli ")) {
    return at_line(at + 1, "`Usage: vellumo-cli ...`", line());
  }
  usage.synopsis = std::string(line().substr(kUsageLead.size()));
  ++at;
  TRY_STATUS(blank("the usage line"));

  constexpr std::string_view kExitLead = "Exit codes: ";
  while (at < lines.size() && !lines[at].empty() && !lines[at].starts_with(kExitLead)) {
    usage.description.push_back(lines[at++]);
  }
  if (usage.description.empty()) {
    return at_line(at + 1, "the paragraph that describes the program", line());
  }
  if (!line().starts_with(kExitLead) || !line().ends_with('.')) {
    return at_line(at + 1, "`Exit codes: 0 <meaning>, ....` after the paragraph", line());
  }
  const std::string_view codes =
      line().substr(kExitLead.size(), line().size() - kExitLead.size() - 1);
  for (const std::string& item : split(codes, ", ")) {
    const auto space = item.find(' ');
    if (space == 0 || space == std::string::npos || space + 1 == item.size() ||
        item.find_first_not_of("0123456789") != space) {
      return at_line(at + 1, "exit codes as `<number> <meaning>`", item);
    }
    usage.exit_codes.emplace_back(item.substr(0, space), item.substr(space + 1));
  }
  ++at;
  for (const std::string& paragraph_line : usage.description) {
    for (auto open = paragraph_line.find("(--"); open != std::string::npos;
         open = paragraph_line.find("(--", open + 1)) {
      const auto end = paragraph_line.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", open + 3);
      usage.named_options.push_back(paragraph_line.substr(open + 1, end - open - 1));
    }
  }
  if (usage.named_options.empty()) {
    return Error{"usage text: expected the opening paragraph to name an option as `(--name`"};
  }

  // Sections: a heading, perhaps with a note after two spaces, then command
  // lines indented by two spaces, each with its description after two or
  // more; lines indented deeper continue a description.
  while (at < lines.size()) {
    TRY_STATUS(blank("the exit codes or a section"));
    if (at >= lines.size() || lines[at].empty() || lines[at][0] == ' ') {
      return at_line(at + 1, "a section heading", line());
    }
    const std::string& heading = lines[at];
    const auto gap = heading.find("  ");
    UsageSection& section = usage.sections.emplace_back();
    section.title = heading.substr(0, gap);
    section.note = gap == std::string::npos ? "" : trimmed(heading.substr(gap));
    for (++at; at < lines.size() && !lines[at].empty(); ++at) {
      const std::string& entry_line = lines[at];
      if (entry_line.starts_with("   ") && !section.entries.empty() &&
          !section.entries.back().description.empty()) {
        section.entries.back().description += " " + trimmed(entry_line);
        continue;
      }
      if (!entry_line.starts_with("  ") || entry_line.size() < 3 || entry_line[2] == ' ') {
        return at_line(at + 1, "a command line (two spaces, then a command)", entry_line);
      }
      const auto columns = entry_line.find("  ", 2);
      auto entry = read_entry(std::string_view(entry_line).substr(2, columns - 2));
      if (!entry) {
        return Error{"usage text, line " + std::to_string(at + 1) + ": " + entry.error().message};
      }
      if (columns != std::string::npos) {
        entry->description = trimmed(entry_line.substr(columns));
      }
      section.entries.push_back(std::move(entry).value());
    }
    if (section.entries.empty()) {
      return at_line(at + 1, "the command lines of the section `" + section.title + "`", line());
    }
  }
  if (usage.sections.empty()) {
    return Error{"usage text: expected sections of commands after the exit codes"};
  }
  for (const UsageSection& section : usage.sections) {
    for (const UsageEntry& entry : section.entries) {
      if (std::find(entry.slots.begin(), entry.slots.end(), join_texts(kUsagePages, "|")) ==
          entry.slots.end()) {
        continue;
      }
      for (std::string_view page : kUsagePages) {
        if (entry.description.find(page) == std::string::npos) {
          return Error{"usage text: expected the line `" + entry.syntax + "` to name the page `" +
                       std::string(page) + "`"};
        }
      }
    }
  }
  return usage;
}

Result<Manual, Error> read_manual(std::string_view text) {
  Manual manual;
  std::string section;
  std::string key;
  std::string* body = nullptr;
  const auto close = [&](std::size_t number) -> Result<void, Error> {
    if (body != nullptr && body->empty()) {
      return Error{"manual, line " + std::to_string(number) + ": `" + key + "` has no text"};
    }
    body = nullptr;
    return {};
  };
  std::size_t number = 0;
  for (std::string_view line : split_lines(text)) {
    ++number;
    if (line.empty() || line.starts_with('#')) {
      continue;
    }
    if (line.starts_with("    ")) {
      if (body == nullptr) {
        return Error{"manual, line " + std::to_string(number) + ": text without a key above it"};
      }
      *body += (body->empty() ? "" : " ") + trimmed(line);
      continue;
    }
    TRY_STATUS(close(number));
    if (line.starts_with('[') && line.ends_with(']')) {
      section = std::string(line.substr(1, line.size() - 2));
      if (section != "descriptions" && section != "commands" && section != "options" &&
          section != "words") {
        return Error{"manual, line " + std::to_string(number) + ": unknown section [" + section +
                     "]"};
      }
      continue;
    }
    key = std::string(line);
    const auto duplicate = [&] {
      return Error{"manual, line " + std::to_string(number) + ": `" + key + "` a second time"};
    };
    if (section == "descriptions" || section == "words") {
      auto& map = section == "words" ? manual.words : manual.descriptions;
      auto [it, added] = map.emplace(key, "");
      if (!added) {
        return duplicate();
      }
      body = &it->second;
    } else if (section == "commands" || section == "options") {
      body =
          &(section == "commands" ? manual.commands : manual.options).emplace_back(key, "").second;
    } else {
      return Error{"manual, line " + std::to_string(number) + ": `" + key + "` outside a section"};
    }
  }
  TRY_STATUS(close(number));
  return manual;
}

Result<Docs, Error> combine(Usage usage, Manual manual) {
  std::set<std::string> used;
  for (UsageSection& section : usage.sections) {
    for (UsageEntry& entry : section.entries) {
      const auto own = manual.descriptions.find(entry.syntax);
      if (own == manual.descriptions.end()) {
        if (entry.description.empty()) {
          return Error{"the usage line `" + entry.syntax +
                       "` has no description, and the manual gives it none"};
        }
        continue;
      }
      if (!entry.description.empty()) {
        return Error{"the manual describes `" + entry.syntax +
                     "`, which the usage text describes itself"};
      }
      entry.description = own->second;
      used.insert(entry.syntax);
    }
  }
  for (const auto& [syntax, text] : manual.descriptions) {
    if (!used.contains(syntax)) {
      return Error{"the manual describes `" + syntax + "`, which is no line of the usage text"};
    }
  }
  for (const auto& [syntax, text] : manual.commands) {
    TRY(UsageEntry entry, read_entry(syntax));
    entry.description = text;
    usage.sections.back().entries.push_back(std::move(entry));
  }
  const Strings names = option_names(manual);
  for (const std::string& option : usage.named_options) {
    if (std::find(names.begin(), names.end(), option) == names.end()) {
      return Error{"the usage text names " + option +
                   ", which the manual's options do not describe"};
    }
  }
  return Docs{std::move(usage), std::move(manual)};
}

Result<std::string, Error> completion_table(const Docs& docs) {
  Records commands;
  Records options;
  Records arguments;
  Records values;
  commands[""];
  // Which entries each path of words belongs to, for its description.
  std::map<std::string, std::vector<const UsageEntry*>> owners;
  Strings word_paths;
  for (const UsageSection& section : docs.usage.sections) {
    for (const UsageEntry& entry : section.entries) {
      for (const Strings& path : paths_of(entry)) {
        std::string prefix;
        for (const std::string& word : path) {
          add_unique(commands[prefix], word);
          prefix += (prefix.empty() ? "" : " ") + word;
          add_unique(word_paths, prefix);
          auto& list = owners[prefix];
          if (std::find(list.begin(), list.end(), &entry) == list.end()) {
            list.push_back(&entry);
          }
        }
        for (const auto& [option, kind] : entry.options) {
          add_unique(options[prefix], option);
          if (kind.empty()) {
            continue;
          }
          Strings& known = values[option];
          if (!known.empty() && known.front() != kind) {
            return Error{"the option " + option + " takes `" + known.front() +
                         "` on one line and `" + kind + "` on another"};
          }
          known = {kind};
        }
        Strings& slots = arguments[prefix];
        if (!slots.empty() && slots != entry.slots) {
          return Error{"the command `" + prefix + "` has two different lists of arguments"};
        }
        slots = entry.slots;
      }
    }
  }
  std::string table = "globals::" + join_texts(option_names(docs.manual), " ") + "\n";
  for (const auto& [path, words] : commands.all()) {
    if (!words.empty()) {
      table += "commands:" + path + ":" + join_texts(words, " ") + "\n";
    }
  }
  for (const auto& [path, list] : options.all()) {
    table += "options:" + path + ":" + join_texts(list, " ") + "\n";
  }
  for (const auto& [option, kind] : values.all()) {
    table += "value:" + option + ":" + kind.front() + "\n";
  }
  for (const auto& [path, slots] : arguments.all()) {
    if (!slots.empty()) {
      table += "arguments:" + path + ":" + join_texts(slots, " ") + "\n";
    }
  }
  for (const std::string& path : word_paths) {
    std::string text;
    if (const auto own = docs.manual.words.find(path); own != docs.manual.words.end()) {
      text = own->second;
    } else if (owners[path].size() == 1) {
      text = owners[path].front()->description;
    } else {
      return Error{"the command word `" + path +
                   "` belongs to several lines: the manual's words must describe it"};
    }
    table += "describe:" + path + ":" + text + "\n";
  }
  for (const auto& [path, text] : docs.manual.words) {
    if (std::find(word_paths.begin(), word_paths.end(), path) == word_paths.end()) {
      return Error{"the manual's words describe `" + path + "`, which is no command"};
    }
  }
  return table;
}

}  // namespace vellumo::docs
