#include "core/command_line.h"

namespace vellumo {

std::vector<std::string> split_windows_command_line(std::string_view line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t i = 0;
  const std::size_t n = line.size();

  // The program name: quotes only switch quoting; it ends at a blank
  // outside quotes.
  for (bool quoted = false; i < n && (quoted || !blank(line[i])); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    }
  }

  std::vector<std::string> words;
  std::string word;
  bool in_word = false;  // has characters, or quoting was on while reading it
  bool quoted = false;
  while (i < n) {
    const char c = line[i];
    if (!quoted && blank(c)) {
      if (in_word) {
        words.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
      ++i;
      continue;
    }
    in_word = true;
    if (c == '\\') {
      std::size_t run = 0;
      while (i + run < n && line[i + run] == '\\') {
        ++run;
      }
      if (i + run < n && line[i + run] == '"') {
        word.append(run / 2, '\\');
        if (run % 2 == 1) {
          word += '"';
          i += run + 1;
        } else {
          i += run;  // the quote is read next, as a quote
        }
      } else {
        word.append(run, '\\');
        i += run;
      }
    } else if (c == '"') {
      if (quoted && i + 1 < n && line[i + 1] == '"') {
        word += '"';
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
    } else {
      word += c;
      ++i;
    }
  }
  if (in_word) {
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace vellumo
