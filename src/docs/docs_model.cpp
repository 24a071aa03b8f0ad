#include "docs/docs_model.h"

#include <algorithm>

#include "core/text.h"

namespace vellumo::docs {
namespace {

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

Result<Usage, Error> read_usage(const UsageHead& head, std::span<const CommandRow> rows) {
  Usage usage;
  usage.summary = head.summary;
  usage.synopsis = head.synopsis;
  usage.description.assign(head.paragraph.begin(), head.paragraph.end());
  for (const ExitCodeText& exit : head.exit_codes) {
    usage.exit_codes.emplace_back(std::to_string(exit.code), exit.meaning);
  }
  usage.named_options.assign(head.named_options.begin(), head.named_options.end());
  TRY(usage.sections, read_commands(rows));
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
      if (!body->empty()) {
        *body += ' ';
      }
      *body += trim(line);
      continue;
    }
    TRY_STATUS(close(number));
    if (line.starts_with('[') && line.ends_with(']')) {
      section = std::string(line.substr(1, line.size() - 2));
      if (section != "options" && section != "words") {
        return Error{"manual, line " + std::to_string(number) + ": unknown section [" + section +
                     "]"};
      }
      continue;
    }
    key = std::string(line);
    const auto duplicate = [&] {
      return Error{"manual, line " + std::to_string(number) + ": `" + key + "` a second time"};
    };
    if (section == "words") {
      auto [it, added] = manual.words.emplace(key, "");
      if (!added) {
        return duplicate();
      }
      body = &it->second;
    } else if (section == "options") {
      body = &manual.options.emplace_back(key, "").second;
    } else {
      return Error{"manual, line " + std::to_string(number) + ": `" + key + "` outside a section"};
    }
  }
  TRY_STATUS(close(number));
  return manual;
}

Result<Docs, Error> combine(Usage usage, Manual manual) {
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
