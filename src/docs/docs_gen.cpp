// Writes the manual page and the shell completions of vellumo-cli, at build
// time, from the texts the program itself prints: the command words, the
// options and their listed values come from the usage text, the exit codes
// from its "Exit codes:" line, and the guide becomes the page's agents
// section. A command added to the usage text is thus in the page and in
// every completion with the next build.
//
//   vellumo_docs man|bash|zsh|fish|powershell [FILE]

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "texts/texts.h"

namespace {

using vellumo::join_texts;
using vellumo::kVersion;
using Strings = std::vector<std::string>;

Strings split(std::string_view text, char separator) {
  Strings parts;
  std::size_t start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

void add_unique(Strings& list, const std::string& word) {
  if (std::find(list.begin(), list.end(), word) == list.end()) {
    list.push_back(word);
  }
}

// A command word, or alternatives of it: `start|stop|cancel`.
bool is_command_word(std::string_view token) {
  return !token.empty() && token[0] >= 'a' && token[0] <= 'z' && token.find("||") == token.npos &&
         token.back() != '|' &&
         token.find_first_not_of("abcdefghijklmnopqrstuvwxyz-|") == std::string_view::npos;
}

std::string strip_brackets(std::string token) {
  std::erase_if(token, [](char c) { return c == '[' || c == ']'; });
  return token;
}

// What the usage text says about the command line.
struct CommandWords {
  // The words that may follow each command path ("" is the program itself,
  // "meetings record" a path of two words), in the order of the text.
  std::map<std::string, Strings> children;
  // The options each full command path shows.
  std::map<std::string, Strings> options;
  Strings value_options;                  // options followed by a value
  std::map<std::string, Strings> values;  // the values an option lists
  Strings global_options;                 // options of every command
};

// The entry also takes these; the usage text shows only `--no-launch` among
// the options of every command.
const Strings kEntryOptions = {"--help", "--version"};

CommandWords read_usage(std::string_view usage) {
  CommandWords words;
  words.children[""];
  for (const std::string& line : split(usage, '\n')) {
    // Commands are indented by two spaces; descriptions follow after two
    // or more; deeper indented lines continue a description.
    if (line.size() < 3 || !line.starts_with("  ") || line[2] == ' ') {
      for (std::size_t at = line.find("(--"); at != std::string::npos;
           at = line.find("(--", at + 1)) {
        const auto end = line.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 3);
        add_unique(words.global_options, line.substr(at + 1, end - at - 1));
      }
      continue;
    }
    const Strings tokens = split(std::string_view(line).substr(2, line.find("  ", 2) - 2), ' ');
    std::vector<Strings> levels;
    std::size_t i = 0;
    for (; i < tokens.size() && is_command_word(tokens[i]); ++i) {
      levels.push_back(split(tokens[i], '|'));
    }
    Strings options;
    for (std::size_t j = i; j < tokens.size(); ++j) {
      const std::string option = strip_brackets(tokens[j]);
      if (!option.starts_with("--")) {
        continue;
      }
      options.push_back(option);
      const std::string next = j + 1 < tokens.size() ? strip_brackets(tokens[j + 1]) : "";
      if (next.empty() || next.starts_with('-') || next == "|") {
        continue;
      }
      add_unique(words.value_options, option);
      if (is_command_word(next) && next.find('|') != std::string::npos) {
        words.values[option] = split(next, '|');
      }
    }
    // Every path the line spells, alternatives expanded.
    std::vector<Strings> paths = {{}};
    for (const Strings& level : levels) {
      std::vector<Strings> longer;
      for (const Strings& path : paths) {
        for (const std::string& word : level) {
          add_unique(words.children[join_texts(path, " ")], word);
          longer.push_back(path);
          longer.back().push_back(word);
        }
      }
      paths = std::move(longer);
    }
    for (const Strings& path : paths) {
      Strings& known = words.options[join_texts(path, " ")];
      for (const std::string& option : options) {
        add_unique(known, option);
      }
    }
  }
  for (const std::string& option : kEntryOptions) {
    add_unique(words.global_options, option);
  }
  std::erase_if(words.options, [](const auto& entry) { return entry.second.empty(); });
  return words;
}

// Each shell's script walks the words before the cursor the same way: an
// option that takes a value skips that value, other options are skipped,
// and the remaining words form the command path. It then offers the listed
// values of a value option before the cursor; or, for a word starting with
// `-`, the global options and those of the command; or else the words that
// may follow the path. With nothing to offer, the shell completes file
// names. Meeting IDs are never offered: listing them would start the app.

void write_bash(std::ostream& out, const CommandWords& words) {
  out << "# bash completion for vellumo-cli " << kVersion
      << ", generated from its usage text.\n"
         "_vellumo_cli() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  local command= skip= word i offer=\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    if [ -n \"$skip\" ]; then skip=; continue; fi\n"
         "    case $word in\n"
         "      "
      << join_texts(words.value_options, "|")
      << ") skip=1 ;;\n"
         "      -*) ;;\n"
         "      *) command+=${command:+ }$word ;;\n"
         "    esac\n"
         "  done\n"
         "  case $prev in\n";
  for (const auto& [option, values] : words.values) {
    out << "    " << option << ") offer=\"" << join_texts(values, " ") << "\" ;;\n";
  }
  out << "    " << join_texts(words.value_options, "|") << ") ;;\n"
      << "    *)\n"
         "      if [[ $cur == -* ]]; then\n"
         "        offer=\""
      << join_texts(words.global_options, " ")
      << "\"\n"
         "        case $command in\n";
  for (const auto& [path, options] : words.options) {
    out << "          \"" << path << "\" | \"" << path << " \"*) offer+=\" "
        << join_texts(options, " ") << "\" ;;\n";
  }
  out << "        esac\n"
         "      else\n"
         "        case $command in\n";
  for (const auto& [path, children] : words.children) {
    out << "          \"" << path << "\") offer=\"" << join_texts(children, " ") << "\" ;;\n";
  }
  out << "        esac\n"
         "      fi ;;\n"
         "  esac\n"
         "  COMPREPLY=()\n"
         "  [ -n \"$offer\" ] && mapfile -t COMPREPLY < <(compgen -W \"$offer\" -- \"$cur\")\n"
         "  return 0\n"
         "}\n"
         "complete -o default -F _vellumo_cli vellumo-cli\n";
}

void write_zsh(std::ostream& out, const CommandWords& words) {
  out << "#compdef vellumo-cli\n"
         "# zsh completion for vellumo-cli "
      << kVersion
      << ", generated from its usage text.\n"
         "_vellumo_cli() {\n"
         "  local command= skip= word i\n"
         "  local -a offer\n"
         "  for ((i = 2; i < CURRENT; i++)); do\n"
         "    word=${words[i]}\n"
         "    if [[ -n $skip ]]; then skip=; continue; fi\n"
         "    case $word in\n"
         "      ("
      << join_texts(words.value_options, "|")
      << ") skip=1 ;;\n"
         "      (-*) ;;\n"
         "      (*) command+=${command:+ }$word ;;\n"
         "    esac\n"
         "  done\n"
         "  case ${words[CURRENT-1]} in\n";
  for (const auto& [option, values] : words.values) {
    out << "    (" << option << ") offer=(" << join_texts(values, " ") << ") ;;\n";
  }
  out << "    (" << join_texts(words.value_options, "|") << ") ;;\n"
      << "    (*)\n"
         "      if [[ $PREFIX == -* ]]; then\n"
         "        offer=("
      << join_texts(words.global_options, " ")
      << ")\n"
         "        case $command in\n";
  for (const auto& [path, options] : words.options) {
    out << "          (\"" << path << "\" | \"" << path << " \"*) offer+=("
        << join_texts(options, " ") << ") ;;\n";
  }
  out << "        esac\n"
         "      else\n"
         "        case $command in\n";
  for (const auto& [path, children] : words.children) {
    out << "          (\"" << path << "\") offer=(" << join_texts(children, " ") << ") ;;\n";
  }
  out << "        esac\n"
         "      fi ;;\n"
         "  esac\n"
         "  if (( ${#offer} )); then\n"
         "    compadd -- \"${offer[@]}\"\n"
         "  else\n"
         "    _files\n"
         "  fi\n"
         "}\n"
         "if [[ ${funcstack[1]} == _vellumo_cli ]]; then\n"
         "  _vellumo_cli \"$@\"\n"
         "else\n"
         "  compdef _vellumo_cli vellumo-cli\n"
         "fi\n";
}

void write_fish(std::ostream& out, const CommandWords& words) {
  out << "# fish completion for vellumo-cli " << kVersion
      << ", generated from its usage text.\n"
         "function __vellumo_cli_complete\n"
         "    set -l tokens (commandline -opc)\n"
         "    set -l cur (commandline -ct)\n"
         "    set -e tokens[1]\n"
         "    set -l command\n"
         "    set -l skip\n"
         "    for word in $tokens\n"
         "        if test -n \"$skip\"\n"
         "            set skip\n"
         "            continue\n"
         "        end\n"
         "        switch $word\n"
         "            case "
      << join_texts(words.value_options, " ")
      << "\n"
         "                set skip 1\n"
         "            case '-*'\n"
         "            case '*'\n"
         "                set -a command $word\n"
         "        end\n"
         "    end\n"
         "    set command (string join ' ' -- $command)\n"
         "    set -l offer\n"
         "    switch \"$tokens[-1]\"\n";
  for (const auto& [option, values] : words.values) {
    out << "        case " << option << "\n            set offer " << join_texts(values, " ")
        << "\n";
  }
  out << "        case " << join_texts(words.value_options, " ") << "\n"
      << "        case '*'\n"
         "            if string match -q -- '-*' \"$cur\"\n"
         "                set offer "
      << join_texts(words.global_options, " ")
      << "\n"
         "                switch $command\n";
  for (const auto& [path, options] : words.options) {
    out << "                    case '" << path << "' '" << path << " *'\n"
        << "                        set -a offer " << join_texts(options, " ") << "\n";
  }
  out << "                end\n"
         "            else\n"
         "                switch $command\n";
  for (const auto& [path, children] : words.children) {
    out << "                    case '" << path << "'\n"
        << "                        set offer " << join_texts(children, " ") << "\n";
  }
  out << "                end\n"
         "            end\n"
         "    end\n"
         "    if set -q offer[1]\n"
         "        printf '%s\\n' $offer\n"
         "    else\n"
         "        __fish_complete_path \"$cur\"\n"
         "    end\n"
         "end\n"
         "complete -c vellumo-cli -f -a '(__vellumo_cli_complete)'\n";
}

std::string powershell_list(const Strings& words) {
  std::string list;
  for (const std::string& word : words) {
    list += list.empty() ? "'" : ", '";
    list += word + "'";
  }
  return list;
}

void write_powershell(std::ostream& out, const CommandWords& words) {
  out << "# PowerShell completion for vellumo-cli " << kVersion
      << ", generated from its usage text.\n"
         "# Load it from your profile: . path\\to\\vellumo-cli-completion.ps1\n"
         "Register-ArgumentCompleter -Native -CommandName 'vellumo-cli', 'vellumo-cli.exe' "
         "-ScriptBlock {\n"
         "    param($wordToComplete, $commandAst, $cursorPosition)\n"
         "    $valueOptions = @("
      << powershell_list(words.value_options)
      << ")\n"
         "    $command = @()\n"
         "    $prev = ''\n"
         "    $skip = $false\n"
         "    foreach ($element in ($commandAst.CommandElements | Select-Object -Skip 1)) {\n"
         "        if ($element.Extent.EndOffset -ge $cursorPosition) { break }\n"
         "        $word = $element.Extent.Text\n"
         "        $prev = $word\n"
         "        if ($skip) { $skip = $false }\n"
         "        elseif ($valueOptions -contains $word) { $skip = $true }\n"
         "        elseif (-not $word.StartsWith('-')) { $command += $word }\n"
         "    }\n"
         "    $command = $command -join ' '\n"
         "    $offer = @()\n"
         "    if ($valueOptions -contains $prev) {\n"
         "        switch -Exact ($prev) {\n";
  for (const auto& [option, values] : words.values) {
    out << "            '" << option << "' { $offer = @(" << powershell_list(values) << ") }\n";
  }
  out << "        }\n"
         "    } elseif ($wordToComplete.StartsWith('-')) {\n"
         "        $offer = @("
      << powershell_list(words.global_options)
      << ")\n"
         "        switch -Regex ($command) {\n";
  for (const auto& [path, options] : words.options) {
    out << "            '^" << path << "( |$)' { $offer += @(" << powershell_list(options)
        << ") }\n";
  }
  out << "        }\n"
         "    } else {\n"
         "        switch -Exact ($command) {\n";
  for (const auto& [path, children] : words.children) {
    out << "            '" << path << "' { $offer = @(" << powershell_list(children) << ") }\n";
  }
  out << "        }\n"
         "    }\n"
         "    $offer | Where-Object { $_ -like \"$wordToComplete*\" } | ForEach-Object {\n"
         "        [System.Management.Automation.CompletionResult]::new($_, $_, 'ParameterValue', "
         "$_)\n"
         "    }\n"
         "}\n";
}

// Text for roff: backslashes and hyphens escaped, backquoted words in bold,
// and a line that would start with a control character protected.
std::string roff(std::string_view text) {
  std::string out;
  bool bold = false;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c == '`') {
      out += bold ? "\\fR" : "\\fB";
      bold = !bold;
    } else {
      out += c;
    }
  }
  if (bold) {
    out += "\\fR";
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
    out.insert(0, "\\&");
  }
  return out;
}

std::string trim(std::string_view text) {
  const auto start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    return "";
  }
  return std::string(text.substr(start, text.find_last_not_of(' ') - start + 1));
}

// The usage text's sections, each command with its description.
void write_commands(std::ostream& out, std::string_view usage) {
  const Strings lines = split(usage, '\n');
  std::size_t i = 0;
  while (i < lines.size() && lines[i] != "App") {
    ++i;
  }
  for (; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) {
      continue;
    }
    if (line[0] != ' ') {
      // A section heading, perhaps with a note: "Meetings  (<id> is ...)".
      const auto gap = line.find("  ");
      out << ".SS " << roff(line.substr(0, gap)) << "\n";
      if (gap != std::string::npos) {
        out << ".PP\n" << roff(trim(line.substr(gap))) << "\n";
      }
      continue;
    }
    const auto gap = line.find("  ", 2);
    std::string description = gap == std::string::npos ? "" : trim(line.substr(gap));
    while (i + 1 < lines.size() && lines[i + 1].starts_with("   ")) {
      description += " " + trim(lines[++i]);
    }
    out << ".TP\n.B " << roff(line.substr(2, gap == std::string::npos ? gap : gap - 2)) << "\n";
    if (!description.empty()) {
      out << roff(description) << "\n";
    }
  }
}

// The exit codes of the usage text's "Exit codes: 0 ok, 1 failed, ..." line.
void write_exit_codes(std::ostream& out, std::string_view usage) {
  constexpr std::string_view kLead = "Exit codes: ";
  for (const std::string& line : split(usage, '\n')) {
    if (!line.starts_with(kLead)) {
      continue;
    }
    std::string list = line.substr(kLead.size());
    if (list.ends_with('.')) {
      list.pop_back();
    }
    for (const std::string& item : split(list, ',')) {
      const std::string entry = trim(item);
      const auto space = entry.find(' ');
      out << ".TP\n.B " << entry.substr(0, space) << "\n" << roff(entry.substr(space + 1)) << "\n";
    }
  }
}

// The guide's Markdown: headings, bullets with their continuation lines,
// and indented examples.
void write_guide(std::ostream& out, std::string_view guide) {
  bool example = false;
  for (const std::string& line : split(guide, '\n')) {
    const bool example_line = line.starts_with("    ");
    if (example && !example_line) {
      out << ".EE\n";
      example = false;
    }
    if (line.starts_with("# ")) {
      continue;  // the section's own heading
    }
    if (line.starts_with("## ")) {
      out << ".SS " << roff(line.substr(3)) << "\n";
    } else if (example_line) {
      if (!example) {
        out << ".PP\n.EX\n";
        example = true;
      }
      out << roff(line.substr(4)) << "\n";
    } else if (line.starts_with("- ")) {
      out << ".IP \\(bu 2\n" << roff(line.substr(2)) << "\n";
    } else if (line.empty()) {
      out << ".PP\n";
    } else {
      out << roff(trim(line)) << "\n";
    }
  }
  if (example) {
    out << ".EE\n";
  }
}

void write_man(std::ostream& out) {
  const std::string_view usage = vellumo::usage_text();
  const std::string title = split(usage, '\n')[0];
  const std::string summary = title.substr(title.find(": ") + 2);
  out << ".\\\" The manual page of vellumo-cli, generated from its usage text and guide.\n"
      << ".TH VELLUMO\\-CLI 1 \"\" \"vellumo-cli " << kVersion << "\" \"User Commands\"\n"
      << ".nh\n"  // no hyphens inside command and option names
      << ".SH NAME\nvellumo\\-cli \\- " << roff(summary.substr(0, summary.size() - 1)) << "\n"
      << ".SH SYNOPSIS\n.B vellumo\\-cli\n.I command\n.RI [ options ]\n"
      << ".SH DESCRIPTION\n";
  for (const std::string& line : split(usage, '\n')) {
    if (line.starts_with("The CLI talks") || line.starts_with("needed (")) {
      out << roff(line) << "\n";
    }
  }
  out << ".PP\nOptions may stand anywhere among the command words.\n"
      << ".B \\-\\-no\\-launch\nnever starts the app;\n"
      << ".BR \\-h \", \" \\-\\-help\nprint the usage;\n"
      << ".BR \\-V \", \" \\-\\-version\nthe version.\n"
      << ".SH COMMANDS\n";
  write_commands(out, usage);
  out << ".SH EXIT STATUS\n";
  write_exit_codes(out, usage);
  out << ".SH AGENTS\nThe text that\n.B vellumo\\-cli guide\nprints for AI agents:\n";
  write_guide(out, vellumo::guide_text("vellumo-cli"));
  out << ".SH SEE ALSO\nThe README of vellumo\\-cli.\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "";
  std::ostringstream text;
  const CommandWords words = read_usage(vellumo::usage_text());
  if (kind == "man") {
    write_man(text);
  } else if (kind == "bash") {
    write_bash(text, words);
  } else if (kind == "zsh") {
    write_zsh(text, words);
  } else if (kind == "fish") {
    write_fish(text, words);
  } else if (kind == "powershell") {
    write_powershell(text, words);
  } else {
    std::cerr << "usage: vellumo_docs man|bash|zsh|fish|powershell [FILE]\n";
    return 2;
  }
  if (argc > 2) {
    std::ofstream file(argv[2], std::ios::binary);
    file << text.str();
    return file.flush() ? 0 : 1;
  }
  std::cout << text.str();
  return std::cout.flush() ? 0 : 1;
}
