#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellumo {

/// One step of reading UTF-8 at text[i] (i < text.size()): a well-formed
/// character, its length and scalar value; or, when `valid` is false, the
/// maximal ill-formed subpart that starts there, its length (at least 1).
struct Utf8Step {
  bool valid;
  std::size_t length;
  char32_t code_point;
};

/// The one UTF-8 decoder: no overlong forms, no surrogates, nothing above
/// U+10FFFF.
Utf8Step decode_utf8(std::string_view text, std::size_t i);

/// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
/// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

/// The characters (Unicode scalar values) of valid UTF-8: every byte that
/// does not continue a sequence starts one.
std::uint64_t count_characters(std::string_view text);

/// Appends the Unicode scalar value `c` as UTF-8.
void append_utf8(std::string& out, char32_t c);

/// UTF-8 to UTF-16; nullopt when `text` is not valid UTF-8.
std::optional<std::u16string> utf8_to_utf16(std::string_view text);

/// UTF-16 to UTF-8; nullopt when `text` holds an unpaired surrogate.
std::optional<std::string> utf16_to_utf8(std::u16string_view text);

/// UTF-16 to UTF-8 with every unpaired surrogate replaced by U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view text);

/// UTF-16 to UTF-8 with every unpaired surrogate kept in the three-byte
/// form UTF-8 has for it (ED A0..BF 80..BF), which no valid UTF-8 holds: a
/// name that is not Unicode stays apart from every name that is.
std::string utf16_to_utf8_marked(std::u16string_view text);

}  // namespace vellumo
