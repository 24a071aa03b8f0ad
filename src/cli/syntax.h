#pragma once

// The notation of a command's syntax, as the usage text shows it:
//
//   meetings labels <id> on|off [--confirm]
//
// Command words come first, `a|b` for alternatives. Then the arguments:
// `<name>`, `[name]` when it may be left out, `name=value`, or `a|b` for one
// of these words; `...` after the last one lets it repeat. Then the options:
// `--name`, perhaps with a word for its value after it, in brackets when
// optional, `|` between two that exclude each other. Tokens are separated
// by one space. It is read at compile time for the command table, so a
// syntax that does not read fails the build.

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vellumo {

struct SyntaxArgument {
  std::string_view text;  ///< as written, brackets included: "<id>", "[page]", "on|off"
  bool optional = false;  ///< in brackets
  bool repeats = false;   ///< followed by `...`
  bool choice = false;    ///< one of the words that `text` separates by `|`
};

struct SyntaxOption {
  std::string_view name;           ///< "--limit"
  std::string_view value;          ///< the word for its value ("N", "md|txt"), empty for a flag
  bool optional = false;           ///< in brackets
  bool excludes_previous = false;  ///< a `|` stands between it and the option before
};

struct Syntax {
  static constexpr std::size_t kMax = 4;
  /// The command words, a level each, with its alternatives: "start|stop".
  std::array<std::string_view, kMax> word_levels{};
  std::size_t word_count = 0;
  std::array<SyntaxArgument, kMax> argument_list{};
  std::size_t argument_count = 0;
  std::array<SyntaxOption, kMax> option_list{};
  std::size_t option_count = 0;
  /// What does not read, empty when all of it does.
  std::string_view error;

  constexpr std::span<const std::string_view> words() const {
    return {word_levels.data(), word_count};
  }
  constexpr std::span<const SyntaxArgument> arguments() const {
    return {argument_list.data(), argument_count};
  }
  constexpr std::span<const SyntaxOption> options() const {
    return {option_list.data(), option_count};
  }
};

/// Whether `word` is one of the alternatives that `|` separates in `text`.
constexpr bool is_one_of(std::string_view text, std::string_view word) {
  for (std::size_t start = 0;;) {
    const auto bar = text.find('|', start);
    if (text.substr(start, bar - start) == word) {
      return true;
    }
    if (bar == std::string_view::npos) {
      return false;
    }
    start = bar + 1;
  }
}

/// A command word, or alternatives of it: `start|stop|cancel`.
constexpr bool is_command_word(std::string_view token) {
  if (token.empty() || token[0] < 'a' || token[0] > 'z' || token.back() == '|' ||
      token.find("||") != std::string_view::npos) {
    return false;
  }
  for (const char c : token) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '|')) {
      return false;
    }
  }
  return true;
}

constexpr Syntax read_syntax(std::string_view text) {
  Syntax syntax;
  const auto fail = [&syntax](std::string_view why) {
    syntax.error = why;
    return syntax;
  };
  std::size_t at = 0;
  const auto done = [&] { return at > text.size(); };
  const auto take = [&] {
    const auto space = text.find(' ', at);
    const std::size_t end = space == std::string_view::npos ? text.size() : space;
    const std::string_view token = text.substr(at, end - at);
    at = end + 1;
    return token;
  };
  // "[x]" is x in brackets; "[x" opens them, "x]" closes them.
  const auto unbracketed = [](std::string_view token) {
    if (token.starts_with('[')) {
      token.remove_prefix(1);
    }
    if (token.ends_with(']')) {
      token.remove_suffix(1);
    }
    return token;
  };
  bool excludes = false;
  while (!done()) {
    const std::string_view token = take();
    if (token.empty()) {
      return fail("two spaces in a row");
    }
    if (syntax.argument_count == 0 && syntax.option_count == 0 && is_command_word(token)) {
      if (syntax.word_count == Syntax::kMax) {
        return fail("too many command words");
      }
      syntax.word_levels[syntax.word_count++] = token;
      continue;
    }
    if (syntax.word_count == 0) {
      return fail("a command word must come first");
    }
    const bool opens = token.starts_with('[');
    const std::string_view bare = unbracketed(token);
    if (bare.starts_with("--")) {
      SyntaxOption option{bare, {}, opens, excludes};
      excludes = false;
      bool closes = token.ends_with(']');
      if (!closes && !done()) {
        const std::size_t next_at = at;
        const std::string_view next = take();
        const std::string_view value = unbracketed(next);
        if (!value.empty() && !next.starts_with('[') && !value.starts_with('-') &&
            !value.starts_with('<') && value != "|" && value != "...") {
          option.value = value;
          closes = next.ends_with(']');
        } else {
          at = next_at;
        }
      }
      if (opens != closes) {
        return fail("an option's brackets do not close");
      }
      if (syntax.option_count == Syntax::kMax) {
        return fail("too many options");
      }
      syntax.option_list[syntax.option_count++] = option;
      continue;
    }
    if (token == "|") {
      if (syntax.option_count == 0) {
        return fail("`|` must stand between options");
      }
      excludes = true;
      continue;
    }
    if (syntax.option_count > 0) {
      return fail("an argument after an option");
    }
    if (token == "...") {
      if (syntax.argument_count == 0) {
        return fail("`...` repeats nothing");
      }
      syntax.argument_list[syntax.argument_count - 1].repeats = true;
      continue;
    }
    if (syntax.argument_count > 0) {
      const SyntaxArgument& last = syntax.argument_list[syntax.argument_count - 1];
      if (last.optional || last.repeats) {
        return fail("an argument after one that may be left out or repeat");
      }
    }
    const bool closes = token.ends_with(']');
    const bool choice = !opens && token.find('|') != std::string_view::npos;
    const bool placeholder = (token.starts_with('<') && token.ends_with('>')) ||
                             (opens && closes) || token.find('=') != std::string_view::npos;
    if (opens != closes || (choice && !is_command_word(token)) || (!choice && !placeholder)) {
      return fail("an argument must be <name>, [name], name=value or words separated by |");
    }
    if (syntax.argument_count == Syntax::kMax) {
      return fail("too many arguments");
    }
    syntax.argument_list[syntax.argument_count++] = {token, opens, false, choice};
  }
  if (syntax.word_count == 0) {
    return fail("a command word must come first");
  }
  return syntax;
}

/// The argument of `syntax` that the word `at` places after its command
/// words stands at: the last argument takes every word after it.
constexpr const SyntaxArgument& argument_at(const Syntax& syntax, std::size_t at) {
  return syntax.argument_list[std::min(at, syntax.argument_count - 1)];
}

/// Whether the positional words take the shape of `syntax`: its command
/// words, then as many words as its arguments allow, each word of a choice
/// one of its words. Options play no part.
constexpr bool fits(const Syntax& syntax, std::span<const std::string> words) {
  if (words.size() < syntax.word_count) {
    return false;
  }
  for (std::size_t i = 0; i < syntax.word_count; ++i) {
    if (!is_one_of(syntax.word_levels[i], words[i])) {
      return false;
    }
  }
  const std::span<const SyntaxArgument> arguments = syntax.arguments();
  const std::span<const std::string> given = words.subspan(syntax.word_count);
  std::size_t required = 0;
  for (const SyntaxArgument& argument : arguments) {
    required += argument.optional ? 0 : 1;
  }
  const bool repeats = !arguments.empty() && arguments.back().repeats;
  if (given.size() < required || (!repeats && given.size() > arguments.size())) {
    return false;
  }
  for (std::size_t i = 0; i < given.size(); ++i) {
    const SyntaxArgument& argument = argument_at(syntax, i);
    if (argument.choice && !is_one_of(argument.text, given[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace vellumo
