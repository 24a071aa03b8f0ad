#pragma once

// Small helpers for UTF-8 text.

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace vellumo {

/// The detail of a file, a stream or a reply that is not valid UTF-8: the
/// one place of this text.
inline constexpr std::string_view kNotUtf8Text = "stream did not contain valid UTF-8";

/// `text` with every maximal ill-formed UTF-8 subsequence replaced by
/// U+FFFD (the usual "lossy" conversion), except that the three bytes of
/// an unpaired surrogate (utf16_to_utf8_marked) give one U+FFFD, as the
/// one UTF-16 unit they stand for would.
std::string lossy_utf8(std::string_view text);

/// `text` (valid UTF-8) without leading, trailing, or both kinds of
/// whitespace; whitespace is the Unicode White_Space property (ASCII tab,
/// line feed, vertical tab, form feed, carriage return and space among it).
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);
std::string_view trim(std::string_view text);

/// The value of the hexadecimal digit `c` (either case), or -1.
constexpr int hex_digit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

/// `texts` with `separator` between each two of them, an empty text
/// counted too: {"", "a"} joined by " " gives " a".
template <class Texts>
std::string join_texts(const Texts& texts, std::string_view separator) {
  std::string joined;
  for (auto it = std::begin(texts); it != std::end(texts); ++it) {
    if (it != std::begin(texts)) {
      joined += separator;
    }
    joined += *it;
  }
  return joined;
}

/// `words` joined by single spaces, each one counted, an empty one too.
inline std::string join_words(const std::vector<std::string>& words) {
  return join_texts(words, " ");
}

/// The lines of `text`: split at each line feed, a carriage return right
/// before the line feed dropped; a text ending with a line feed has no
/// empty last line; an empty text has no lines.
std::vector<std::string_view> split_lines(std::string_view text);

}  // namespace vellumo
