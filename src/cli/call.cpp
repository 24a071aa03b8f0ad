#include "cli/call.h"

#include <algorithm>
#include <cstdlib>

#include "core/numbers.h"
#include "core/text.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

// The options without a value, as the command line sets them.
struct Flag {
  std::string_view name;
  bool CliOptions::*given;
};
constexpr Flag kFlags[] = {
    {"--detach", &CliOptions::detach},
    {"--no-launch", &CliOptions::no_launch},
    {"--confirm", &CliOptions::confirm},
    {"--cleaned", &CliOptions::cleaned},
};

}  // namespace

const std::string& Call::word(std::size_t level) const {
  if (level >= form_.word_count) {
    misread("command word " + std::to_string(level));
  }
  return words_[level];
}

const std::string& Call::arg(std::string_view name) const {
  const SyntaxArgument* argument = argument_named(name);
  if (argument->optional) {
    misread(name);
  }
  return words_[position_of(*argument)];
}

const std::string* Call::optional_arg(std::string_view name) const {
  const SyntaxArgument* argument = argument_named(name);
  if (!argument->optional) {
    misread(name);
  }
  const std::size_t at = position_of(*argument);
  return at < words_.size() ? &words_[at] : nullptr;
}

std::span<const std::string> Call::args(std::string_view name) const {
  const SyntaxArgument* first = argument_named(name);
  const auto rest = form_.arguments().subspan(position_of(*first) - form_.word_count);
  if (!rest.back().repeats ||
      !std::ranges::all_of(rest, [name](const auto& a) { return a.text == name; })) {
    misread(name);
  }
  return words_.subspan(position_of(*first));
}

const std::string* Call::option(std::string_view name) const {
  option_named(name, true);
  const auto it = options_.values.find(name.substr(2));
  return it == options_.values.end() ? nullptr : &it->second;
}

Result<std::uint64_t> Call::number(std::string_view name, std::uint64_t fallback,
                                   std::string_view usage) const {
  const std::string* given = option(name);
  if (!given) {
    return fallback;
  }
  const auto parsed = parse_unsigned(*given);
  if (!parsed) {
    return CliError::usage(std::string(usage));
  }
  return *parsed;
}

bool Call::flag(std::string_view name) const {
  option_named(name, false);
  const auto flag = std::ranges::find(kFlags, name, &Flag::name);
  if (flag == std::end(kFlags)) {
    misread(name);
  }
  return options_.*flag->given;
}

std::optional<std::string_view> Call::choice(std::string_view name, std::span<const WireWord> wire,
                                             std::string_view word) const {
  const std::string_view choices = option_named(name, true).value;
  const auto known = [wire](std::string_view w) {
    return std::ranges::find(wire, w, &WireWord::word);
  };
  for (std::size_t at = 0; at <= choices.size();) {
    const std::size_t bar = std::min(choices.find('|', at), choices.size());
    if (known(choices.substr(at, bar - at)) == wire.end()) {
      misread(name);
    }
    at = bar + 1;
  }
  const auto found = known(word);
  return found == wire.end() ? std::nullopt : std::optional(found->value);
}

std::string Call::choices(std::string_view name) const {
  std::string text(option_named(name, true).value);
  const auto last = text.rfind('|');
  if (last == std::string::npos) {
    misread(name);
  }
  text.replace(last, 1, " or ");
  for (auto bar = text.find('|'); bar != std::string::npos; bar = text.find('|', bar)) {
    text.replace(bar, 1, ", ");
  }
  return text;
}

const SyntaxArgument* Call::argument_named(std::string_view name) const {
  const auto arguments = form_.arguments();
  const auto found = std::ranges::find(arguments, name, &SyntaxArgument::text);
  if (found == arguments.end()) {
    misread(name);
  }
  return &*found;
}

std::size_t Call::position_of(const SyntaxArgument& argument) const {
  return form_.word_count + static_cast<std::size_t>(&argument - form_.argument_list.data());
}

const SyntaxOption& Call::option_named(std::string_view name, bool with_value) const {
  const auto options = form_.options();
  const auto found = std::ranges::find(options, name, &SyntaxOption::name);
  if (found == options.end() || found->value.empty() == with_value) {
    misread(name);
  }
  return *found;
}

void Call::misread(std::string_view name) const {
  platform::write_stderr("vellumo-cli: internal error: the command `" +
                         join_texts(form_.words(), " ") + "` has no " + std::string(name) + "\n");
  std::abort();
}

}  // namespace vellumo
