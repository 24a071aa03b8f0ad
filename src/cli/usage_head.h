#pragma once

// The usage text above its sections, as data: the title's summary, the
// usage line, the paragraph and the exit codes. The usage text renders it;
// the manual page takes its parts from it, unparsed.

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

#include "core/result.h"
#include "version.h"

namespace vellumo {

/// An exit code and what the usage text says it means.
struct ExitCodeText {
  int code;
  std::string_view meaning;
};

struct UsageHead {
  /// What the title says of the program, after its name and version.
  std::string_view summary;
  /// The usage line, after "Usage: ".
  std::string_view synopsis;
  /// The paragraph under it, one line each, as the text breaks them.
  std::span<const std::string_view> paragraph;
  /// The global options the paragraph names; the manual describes each.
  std::span<const std::string_view> named_options;
  /// The last sentence of the paragraph, in the order it lists them.
  std::span<const ExitCodeText> exit_codes;
};

namespace usage_head_parts {

inline constexpr std::string_view kParagraph[] = {
    "The CLI talks to the running Vellumo app and starts it in the background if",
    "needed (--no-launch to skip). Results print as JSON; errors go to stderr.",
};

inline constexpr std::string_view kNamedOptions[] = {"--no-launch"};

// The numbers are the program's own, so that the text cannot drift from
// what it returns.
inline constexpr ExitCodeText kExitCodes[] = {
    {0, "ok"},
    {exit_code(ErrorKind::Failed), "failed"},
    {exit_code(ErrorKind::Usage), "usage"},
    {exit_code(ErrorKind::NotRunning), "Vellumo not running"},
};

// Each option the paragraph names is in it; each code is listed once, in
// rising order.
static_assert(std::ranges::all_of(kNamedOptions, [](std::string_view option) {
  return std::ranges::any_of(kParagraph, [&](std::string_view line) {
    return line.find(option) != std::string_view::npos;
  });
}));
static_assert(std::ranges::adjacent_find(kExitCodes, std::ranges::greater_equal{},
                                         &ExitCodeText::code) == std::ranges::end(kExitCodes));

}  // namespace usage_head_parts

inline constexpr UsageHead kUsageHead = {
    .summary = "control Vellumo from a terminal, script or agent",
    .synopsis = "vellumo-cli <command> [options]",
    .paragraph = usage_head_parts::kParagraph,
    .named_options = usage_head_parts::kNamedOptions,
    .exit_codes = usage_head_parts::kExitCodes,
};

/// The head as the usage text prints it; each line ends in a line feed.
inline std::string usage_head_text(const UsageHead& head = kUsageHead) {
  std::string text = "vellumo-cli " VELLUMO_VERSION ": ";
  text.append(head.summary).append(".\n\nUsage: ").append(head.synopsis).append("\n\n");
  for (const std::string_view line : head.paragraph) {
    text.append(line).append("\n");
  }
  text += "Exit codes:";
  for (const ExitCodeText& exit : head.exit_codes) {
    text.append(&exit == head.exit_codes.data() ? " " : ", ");
    text.append(std::to_string(exit.code)).append(" ").append(exit.meaning);
  }
  return text + ".\n";
}

}  // namespace vellumo
