#include "core/split_command_line.h"

namespace vellumo {

namespace {

std::vector<std::string> split(std::string_view line, bool keep_program) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t i = 0;
  const std::size_t n = line.size();

  // The program name: quotes only switch quoting; it ends at a blank
  // outside quotes.
  std::string program;
  for (bool quoted = false; i < n && (quoted || !blank(line[i])); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else {
      program += line[i];
    }
  }

  std::vector<std::string> words;
  if (keep_program && !line.empty()) {
    words.push_back(std::move(program));
  }
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

}  // namespace

std::vector<std::string> split_windows_command_line(std::string_view line) {
  return split(line, false);
}

std::vector<std::string> split_windows_command_line_with_program(std::string_view line) {
  return split(line, true);
}

}  // namespace vellumo
