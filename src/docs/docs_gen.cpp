// Writes the manual page and the shell completions of vellumo-cli at build
// time. Each comes from a template beside this file: a completion template
// holds the shell's whole script and takes only the word tables, which are
// made from the CLI's command table (and the manual's words); the page's
// template takes the parts that the command table, the usage text's head,
// the agents' targets, the guide and the README's session make. Any text
// that does not read as expected stops the build with a message naming what
// was expected.
//
//   vellumo_docs bash|zsh|fish|powershell TEMPLATE MANUAL OUTPUT
//   vellumo_docs man TEMPLATE MANUAL OUTPUT README SOURCE_DATE_EPOCH

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "agent_integration/target_table.h"
#include "cli/command_table.h"
#include "cli/usage_head.h"
#include "core/text.h"
#include "docs/docs_model.h"
#include "texts/texts.h"

namespace {

using vellumo::kVersion;
using vellumo::Result;
using vellumo::docs::Docs;
using vellumo::docs::Error;

Result<std::string, Error> read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) {
    return Error{"cannot read " + path};
  }
  return text.str();
}

// The template with each @NAME@ replaced by its part, in one pass, so a
// part is never read for markers. Every marker must be known, and every
// part but VERSION placed exactly once.
Result<std::string, Error> fill(std::string_view text, const std::string& name,
                                const std::map<std::string, std::string>& parts) {
  std::map<std::string, int> placed;
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const auto open = text.find('@', at);
    const auto close = open == text.npos ? text.npos : text.find('@', open + 1);
    if (close == text.npos) {
      out += text.substr(at);
      break;
    }
    const std::string marker(text.substr(open + 1, close - open - 1));
    const auto part = parts.find(marker);
    if (part == parts.end()) {
      out += text.substr(at, close - at);
      at = close;
      continue;
    }
    out += text.substr(at, open - at);
    out += part->second;
    ++placed[marker];
    at = close + 1;
    // A part of whole lines stands on the marker's line.
    if (part->second.ends_with('\n') && text.substr(at, 1) == "\n") {
      ++at;
    }
  }
  for (const auto& [marker, part] : parts) {
    if (marker != "VERSION" && placed[marker] != 1) {
      return Error{name + ": expected the marker @" + marker + "@ once, found it " +
                   std::to_string(placed[marker]) + " times"};
    }
  }
  return out;
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

// A line of roff text broken at spaces into lines of at most `width`
// bytes, none of them starting with a control character.
std::string wrap(const std::string& line, std::size_t width = 79) {
  std::string out;
  std::size_t start = 0;
  while (start < line.size()) {
    std::size_t end = line.size();
    if (end - start > width) {
      const auto space = line.rfind(' ', start + width);
      end = space == std::string::npos || space <= start ? line.find(' ', start + width) : space;
      end = end == std::string::npos ? line.size() : end;
    }
    const std::string piece = line.substr(start, end - start);
    out += (piece.starts_with('.') || piece.starts_with('\'') ? "\\&" : "") + piece + "\n";
    start = end + 1;
  }
  return out;
}

// A command's syntax as the tag of its entry: long lines of alternatives
// may break after each `|`.
std::string roff_syntax(std::string_view syntax) {
  std::string out;
  for (char c : roff(syntax)) {
    out += c;
    if (c == '|') {
      out += "\\:";
    }
  }
  return out;
}

Result<std::string, Error> synopsis(std::string_view line) {
  std::string out;
  std::istringstream words{std::string(line)};
  for (std::string token; words >> token;) {
    if (token == "vellumo-cli") {
      out += ".B vellumo\\-cli\n";
    } else if (token.size() > 2 && token.front() == '<' && token.back() == '>') {
      out += ".I " + roff(token.substr(1, token.size() - 2)) + "\n";
    } else if (token.size() > 2 && token.front() == '[' && token.back() == ']') {
      out += ".RI [ " + roff(token.substr(1, token.size() - 2)) + " ]\n";
    } else {
      return Error{
          "usage text: expected the usage line to hold vellumo-cli, <word> and [word], found `" +
          token + "`"};
    }
  }
  return out;
}

std::string commands(const Docs& docs) {
  std::string out;
  for (const auto& section : docs.usage.sections) {
    out += ".SS " + roff(section.title) + "\n";
    if (!section.note.empty()) {
      out += wrap(roff(section.note));
    }
    for (const auto& entry : section.entries) {
      out += ".TP\n.B " + roff_syntax(entry.syntax) + "\n" + wrap(roff(entry.description));
    }
  }
  return out;
}

std::string options(const Docs& docs) {
  std::string out;
  for (const auto& [names, text] : docs.manual.options) {
    std::string tag;
    std::size_t start = 0;
    for (std::size_t comma = 0; comma != std::string::npos; start = comma + 2) {
      comma = names.find(", ", start);
      tag += (tag.empty() ? "\\fB" : ", \\fB") + roff(names.substr(start, comma - start)) + "\\fR";
    }
    out += ".TP\n" + tag + "\n" + wrap(roff(text));
  }
  return out;
}

std::string exit_status(const Docs& docs) {
  std::string out;
  for (const auto& [code, meaning] : docs.usage.exit_codes) {
    out += ".TP\n.B " + code + "\n" + wrap(roff(meaning));
  }
  return out;
}

// The agents' configuration files, from the table of targets: each file
// where the manual says it is, then the sentence that names their agents
// (and a file's other name), up to its comma. The sentence is broken at 72
// columns, as the template's text around it.
std::string agent_files() {
  std::vector<const vellumo::agents::Target*> agents;
  std::string out;
  for (const auto& target : vellumo::agents::targets()) {
    if (!target.file.name.empty()) {
      out += (agents.empty() ? ".B " : ".TQ\n.B ") +
             roff("~/" + std::string(target.file.folder) + "/" + std::string(target.file.name)) +
             "\n";
      agents.push_back(&target);
    }
  }
  std::string text = "The configuration files of";
  for (std::size_t i = 0; i < agents.size(); ++i) {
    // A comma after each name but the one before "and", and after the last.
    const std::string after = i + 2 == agents.size() ? "" : ",";
    if (!text.empty()) {
      text += ' ';
    }
    if (i > 0 && i + 1 == agents.size()) {
      text += "and ";
    }
    text += roff(agents[i]->name);
    const std::string_view other = agents[i]->file.other_name;
    if (other.empty()) {
      text += after;
      continue;
    }
    out += wrap(text + " (or", 72) + ".BR " + roff(other) + " )" + after + "\n";
    text.clear();
  }
  return out + wrap(text, 72);
}

// Markdown as the guide and the README write it, to roff: headings,
// paragraphs, bullets with their continuation lines, indented examples.
class Prose {
 public:
  void heading(std::string_view title) {
    end_example();
    out_ += ".SS " + roff(title) + "\n";
    after_text_ = blank_ = false;
  }
  void text(std::string_view line) {
    end_example();
    if (blank_ && after_text_) {
      out_ += ".PP\n";
    }
    out_ += wrap(roff(line));
    after_text_ = true;
    blank_ = false;
  }
  void bullet(std::string_view line) {
    end_example();
    out_ += ".IP \\(bu 2\n" + wrap(roff(line));
    after_text_ = true;
    blank_ = false;
  }
  void example(std::string_view line) {
    if (!example_) {
      out_ += after_text_ ? ".PP\n.EX\n" : ".EX\n";
      example_ = true;
    }
    out_ += roff(line) + "\n";
    ++examples_;
    blank_ = false;
  }
  void blank() { blank_ = true; }
  int examples() const { return examples_; }
  std::string finish() {
    end_example();
    return out_;
  }

 private:
  void end_example() {
    if (example_) {
      out_ += ".EE\n";
      example_ = false;
      after_text_ = true;
    }
  }
  std::string out_;
  bool after_text_ = false;  // the last line written belongs to a paragraph
  bool blank_ = false;       // an empty line since
  bool example_ = false;
  int examples_ = 0;
};

std::string guide(std::string_view text) {
  Prose prose;
  for (std::string_view line : vellumo::split_lines(text)) {
    if (line.starts_with("# ")) {
      continue;  // the section's own heading
    }
    if (line.starts_with("## ")) {
      prose.heading(line.substr(3));
    } else if (line.starts_with("    ")) {
      prose.example(line.substr(4));
    } else if (line.starts_with("- ")) {
      prose.bullet(line.substr(2));
    } else if (line.empty()) {
      prose.blank();
    } else {
      prose.text(vellumo::trim(line));
    }
  }
  return prose.finish();
}

// The README's session: its paragraph, then its indented commands.
Result<std::string, Error> examples(std::string_view readme) {
  constexpr std::string_view kHeading = "## A session";
  Prose prose;
  bool in_section = false;
  for (std::string_view line : vellumo::split_lines(readme)) {
    if (!in_section) {
      in_section = line == kHeading;
    } else if (line.starts_with('#')) {
      break;
    } else if (line.starts_with("    ")) {
      prose.example(line.substr(4));
    } else if (prose.examples() > 0) {
      break;
    } else if (line.empty()) {
      prose.blank();
    } else {
      prose.text(line);
    }
  }
  if (!in_section || prose.examples() == 0) {
    return Error{"README: expected the section `" + std::string(kHeading) +
                 "` with indented commands"};
  }
  return prose.finish();
}

Result<std::string, Error> page_date(std::string_view epoch) {
  if (epoch.empty() || epoch.size() > 12 || epoch.find_first_not_of("0123456789") != epoch.npos) {
    return Error{"expected the source's date in seconds since 1970, found `" + std::string(epoch) +
                 "`"};
  }
  const std::chrono::sys_seconds time{std::chrono::seconds(std::stoll(std::string(epoch)))};
  const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(time)};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return std::string(text);
}

Result<std::string, Error> man_page(const Docs& docs, std::string_view page_template,
                                    const std::string& readme_path, std::string_view epoch) {
  TRY(const std::string readme, read_file(readme_path));
  TRY(const std::string date, page_date(epoch));
  TRY(const std::string usage_line, synopsis(docs.usage.synopsis));
  TRY(const std::string session, examples(readme));
  std::string description;
  for (const std::string& line : docs.usage.description) {
    description += wrap(roff(line));
  }
  const std::map<std::string, std::string> parts = {
      {"VERSION", std::string(kVersion)},
      {"DATE", date},
      {"SUMMARY", roff(docs.usage.summary)},
      {"SYNOPSIS", usage_line},
      {"DESCRIPTION", description},
      {"COMMANDS", commands(docs)},
      {"OPTIONS", options(docs)},
      {"EXIT_STATUS", exit_status(docs)},
      {"AGENT_FILES", agent_files()},
      {"AGENTS", guide(vellumo::guide_text("vellumo-cli"))},
      {"EXAMPLES", session},
  };
  return fill(page_template, "the manual page's template", parts);
}

// The table as a string of each shell, to stand between the template's
// quotes around @WORDS@.
Result<std::string, Error> quoted_table(const std::string& kind, const std::string& table) {
  std::string out;
  for (char c : table) {
    if (c == '\'' && (kind == "bash" || kind == "zsh")) {
      out += "'\\''";
    } else if ((c == '\'' || c == '\\') && kind == "fish") {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  // PowerShell's here-string ends at a line that starts with '@.
  if (kind == "powershell" && (out.starts_with("'@") || out.find("\n'@") != std::string::npos)) {
    return Error{"a line of the word table starts with '@"};
  }
  return "\n" + out;
}

Result<std::string, Error> generate(const std::vector<std::string>& args) {
  const std::string& kind = args[0];
  TRY(const std::string page_template, read_file(args[1]));
  TRY(const std::string manual_text, read_file(args[2]));
  TRY(vellumo::docs::Usage usage,
      vellumo::docs::read_usage(vellumo::kUsageHead, vellumo::command_table()));
  TRY(vellumo::docs::Manual manual, vellumo::docs::read_manual(manual_text));
  TRY(const Docs docs, vellumo::docs::combine(std::move(usage), std::move(manual)));
  if (kind == "man") {
    return man_page(docs, page_template, args[4], args[5]);
  }
  TRY(const std::string table, vellumo::docs::completion_table(docs));
  TRY(const std::string words, quoted_table(kind, table));
  return fill(page_template, args[1], {{"VERSION", std::string(kVersion)}, {"WORDS", words}});
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool man = !args.empty() && args[0] == "man";
  const bool shell = !args.empty() && (args[0] == "bash" || args[0] == "zsh" || args[0] == "fish" ||
                                       args[0] == "powershell");
  if (!(man && args.size() == 6) && !(shell && args.size() == 4)) {
    std::cerr << "usage: vellumo_docs bash|zsh|fish|powershell TEMPLATE MANUAL OUTPUT\n"
                 "       vellumo_docs man TEMPLATE MANUAL OUTPUT README SOURCE_DATE_EPOCH\n";
    return 2;
  }
  const auto text = generate(args);
  if (!text) {
    std::cerr << "vellumo_docs: " << text.error().message << "\n";
    return 1;
  }
  // Written beside and renamed over, so a failed run leaves the old file.
  const std::string temporary = args[3] + ".new";
  std::ofstream file(temporary, std::ios::binary);
  file << text.value();
  file.close();
  if (!file || std::rename(temporary.c_str(), args[3].c_str()) != 0) {
    std::cerr << "vellumo_docs: cannot write " << args[3] << "\n";
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}
