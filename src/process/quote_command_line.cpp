#include "process/quote_command_line.h"

#include <algorithm>
#include <cstddef>

namespace vellumo::process {

namespace {

bool holds_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool ends_with_ascii_nocase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) {
    return false;
  }
  return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                    [](char a, char b) { return ascii_lower(a) == ascii_lower(b); });
}

// Characters the command interpreter never acts on, which may stay outside
// quotes in a batch file argument.
bool batch_safe_unquoted(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
    return true;
  }
  return std::string_view("#$*+-./:?@\\_").find(c) != std::string_view::npos;
}

// "%" cannot be escaped on a command line given to cmd /c (^% and %% work
// only in scripts), but a reference to no variable is left as it is:
// "%%cd:~,%" reads as a lone "%" followed by an empty substring of %cd%.
void append_batch_text(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '%') {
      out += "%%cd:~,";
    }
    out += c;
  }
}

}  // namespace

std::string quote_windows_argument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') {
        // n backslashes before a literal quote become 2n + 1.
        out.append(backslashes + 1, '\\');
      }
      backslashes = 0;
    }
    out += c;
  }
  // Backslashes before the closing quote are doubled so that they stay
  // backslashes and the quote still closes.
  out.append(backslashes, '\\');
  out += '"';
  return out;
}

Result<std::string, CommandLineError> windows_command_line(
    std::string_view program, const std::vector<std::string>& arguments) {
  if (program.find('"') != std::string_view::npos) {
    return CommandLineError::InvalidProgramPath;
  }
  if (holds_nul(program)) {
    return CommandLineError::NulInArgument;
  }
  // The program name is read up to the next quote with backslashes taken
  // literally, so quoting the path is always enough.
  std::string line = "\"";
  line += program;
  line += '"';
  for (const std::string& argument : arguments) {
    if (holds_nul(argument)) {
      return CommandLineError::NulInArgument;
    }
    line += ' ';
    line += quote_windows_argument(argument);
  }
  return line;
}

bool is_batch_file(std::string_view program) {
  while (!program.empty() && (program.back() == '.' || program.back() == ' ')) {
    program.remove_suffix(1);
  }
  return ends_with_ascii_nocase(program, ".cmd") || ends_with_ascii_nocase(program, ".bat");
}

Result<std::string, CommandLineError> batch_command_line(
    std::string_view script, const std::vector<std::string>& arguments) {
  if (script.find('"') != std::string_view::npos || holds_nul(script) ||
      (!script.empty() && script.back() == '\\')) {
    return CommandLineError::InvalidProgramPath;
  }
  // With /c and more than two quotes, the interpreter drops the first and
  // the last quote of the rest of the line: the outer pair here.
  std::string line = "cmd.exe /e:ON /v:OFF /d /c \"\"";
  append_batch_text(line, script);
  line += '"';
  for (const std::string& argument : arguments) {
    if (argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      return CommandLineError::BatchArgumentInvalid;
    }
    const bool quote = argument.empty() || argument.back() == '\\' ||
                       !std::all_of(argument.begin(), argument.end(), batch_safe_unquoted);
    line += ' ';
    if (quote) {
      line += '"';
    }
    std::size_t backslashes = 0;
    for (char c : argument) {
      if (c == '\\') {
        ++backslashes;
        line += c;
        continue;
      }
      if (c == '"') {
        // n backslashes before it become 2n, and the quote is doubled: the
        // C runtime then reads n backslashes and one literal quote.
        line.append(backslashes, '\\');
        line += "\"\"";
      } else {
        append_batch_text(line, std::string_view(&c, 1));
      }
      backslashes = 0;
    }
    if (quote) {
      line.append(backslashes, '\\');
      line += '"';
    }
  }
  line += '"';
  return line;
}

}  // namespace vellumo::process
