#pragma once

// What a handler of the command table is given: one run's words and
// options, read by the names its row's syntax gives them. A name the row
// does not have is a fault of the handler, not of the command line: it
// ends the program at once, naming the row and the name, and the command
// table's cross-check runs every row to catch it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/cli_options.h"
#include "cli/syntax.h"
#include "core/result.h"

namespace vellumo {

/// A string literal as a template argument: the handlers that differ only
/// in the app command they send are one template.
template <std::size_t N>
struct Literal {
  char chars[N];
  constexpr Literal(const char (&text)[N]) { std::copy_n(text, N, chars); }
  constexpr std::string_view view() const { return {chars, N - 1}; }
};

/// A word the command line may give, and what it stands for.
template <class Value>
struct Named {
  std::string_view word;
  Value value;
};
/// A word and the name the app knows it by.
using WireWord = Named<std::string_view>;

class Call {
 public:
  /// `words` fit `form`.
  Call(const Syntax& form, const CliOptions& options, std::span<const std::string> words)
      : form_(form), options_(options), words_(words) {}

  /// The word given at command word level `level` (0 is the first): which
  /// of "start|stop|cancel" it was.
  const std::string& word(std::size_t level) const;
  /// What `names` gives the word at command word level `level`; `names`
  /// must know every alternative of the level.
  template <class Value, std::size_t N>
  const Value& word_as(std::size_t level, const Named<Value> (&names)[N]) const {
    const std::string& given = word(level);
    for (const Named<Value>& name : names) {
      if (name.word == given) {
        return name.value;
      }
    }
    misread(given);
  }
  /// The word at the argument `name` ("<id>", "on|off") that may not be
  /// left out; the first one when the syntax has several of that name.
  const std::string& arg(std::string_view name) const;
  /// The word at the argument `name` that may be left out ("[page]"),
  /// nullptr when it was.
  const std::string* optional_arg(std::string_view name) const;
  /// The words at every argument called `name`, and at the repeats of the
  /// last: "<id> <id> ..." gives all the IDs.
  std::span<const std::string> args(std::string_view name) const;

  /// The value of the option `name` ("--title"), nullptr when not given.
  const std::string* option(std::string_view name) const;
  /// The value of the option `name` as a whole number, `fallback` when it
  /// was not given; a value that is no such number is the usage error
  /// `usage`.
  Result<std::uint64_t> number(std::string_view name, std::uint64_t fallback,
                               std::string_view usage) const;
  /// Whether the option `name` without a value ("--cleaned") was given.
  bool flag(std::string_view name) const;

  /// What `wire` sends for `word`, given for the option `name` whose value
  /// the row writes as choices ("md|txt"); nullopt for a word `wire` does
  /// not know. `wire` must know every choice of the row; it may add
  /// aliases that the texts do not show.
  std::optional<std::string_view> choice(std::string_view name, std::span<const WireWord> wire,
                                         std::string_view word) const;
  /// The choices of the option `name` as a sentence lists them: "md, txt,
  /// html, pdf or wav".
  std::string choices(std::string_view name) const;

  /// Launching and detaching, which every app command takes.
  const CliOptions& options() const { return options_; }

 private:
  const SyntaxArgument* argument_named(std::string_view name) const;
  /// Where the word at `argument` stands among all the words.
  std::size_t position_of(const SyntaxArgument& argument) const;
  const SyntaxOption& option_named(std::string_view name, bool with_value) const;
  [[noreturn]] void misread(std::string_view name) const;

  const Syntax& form_;
  const CliOptions& options_;
  std::span<const std::string> words_;
};

}  // namespace vellumo
