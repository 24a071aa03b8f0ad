// The Windows command-line splitter, the quoting of the process runner that
// must survive it, and the sorting of the words into options.

#include <algorithm>
#include <string>
#include <vector>

#include "cli/parse_options.h"
#include "core/split_command_line.h"
#include "fuzz_support.h"
#include "process/quote_command_line.h"

namespace vellumo::fuzz {
namespace {

// Every list of arguments comes back word for word from the command line
// the runner builds for it.
void check_round_trip(const std::vector<std::string>& args) {
  // No program path holds a quote: it would end the quoted path early.
  FUZZ_CHECK(!process::windows_command_line(R"(C:\Tool "x\tool.exe)", args));
  auto line = process::windows_command_line(R"(C:\Program Files\Tool\tool.exe)", args);
  if (!line) {
    FUZZ_CHECK(line.error() == process::CommandLineError::NulInArgument);
    FUZZ_CHECK(std::any_of(args.begin(), args.end(),
                           [](const std::string& a) { return a.find('\0') != std::string::npos; }));
    return;
  }
  FUZZ_CHECK(split_windows_command_line(*line) == args);
  const auto with_program = split_windows_command_line_with_program(*line);
  FUZZ_CHECK(!with_program.empty() && with_program[0] == R"(C:\Program Files\Tool\tool.exe)");
}

bool is_flag(const std::string& word) {
  return word == "-h" || word == "--help" || word == "-V" || word == "--version" ||
         word == "--detach" || word == "--no-launch" || word == "--confirm" || word == "--yes" ||
         word == "--cleaned";
}

void check_sorting(const std::vector<std::string>& args) {
  auto line = parse_command_line(args);
  if (!line) {
    // Only a value option at the very end, with nothing to take, fails.
    FUZZ_CHECK(!args.empty());
    const std::string& last = args.back();
    FUZZ_CHECK(last.size() > 2 && last.starts_with("--") && !is_flag(last) &&
               last.find('=') == std::string::npos);
    FUZZ_CHECK(line.error().message == last + " needs a value.");
    return;
  }
  const auto given = [&](std::string_view word) {
    return std::find(args.begin(), args.end(), word) != args.end();
  };
  for (const std::string& word : line->words) {
    FUZZ_CHECK(given(word) || word == "help" || word == "version");
  }
  for (const auto& [name, value] : line->options.values) {
    FUZZ_CHECK(given("--" + name + "=" + value) || (given("--" + name) && given(value)));
  }
  FUZZ_CHECK(!line->options.detach || given("--detach"));
  FUZZ_CHECK(!line->options.no_launch || given("--no-launch"));
  FUZZ_CHECK(!line->options.confirm || given("--confirm") || given("--yes"));
  FUZZ_CHECK(!line->options.cleaned || given("--cleaned"));
  FUZZ_CHECK(line->words.size() + line->options.values.size() <= args.size());
}

}  // namespace
}  // namespace vellumo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo;
  using namespace vellumo::fuzz;
  const std::string_view input = as_text(data, size);

  // The input as a command line.
  const auto words = split_windows_command_line(input);
  const auto with_program = split_windows_command_line_with_program(input);
  if (input.empty()) {
    FUZZ_CHECK(words.empty() && with_program.empty());
  } else {
    FUZZ_CHECK(with_program.size() == words.size() + 1);
    FUZZ_CHECK(std::equal(words.begin(), words.end(), with_program.begin() + 1));
  }
  for (const std::string& word : words) {
    FUZZ_CHECK(word.size() <= input.size());
  }
  check_round_trip(words);
  check_sorting(words);

  // The input as arguments separated by NULs, which no argument can hold.
  std::vector<std::string> args;
  for (std::size_t start = 0;;) {
    const auto nul = input.find('\0', start);
    args.emplace_back(input.substr(start, nul == std::string_view::npos ? nul : nul - start));
    if (nul == std::string_view::npos) {
      break;
    }
    start = nul + 1;
  }
  check_round_trip(args);
  check_sorting(args);
  return 0;
}
