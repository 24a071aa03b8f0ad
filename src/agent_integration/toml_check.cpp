// The one source file of the program that includes the TOML parser,
// toml++, with the settings of the build's tomlplusplus_header target. It
// is used from its headers, so only what toml::parse of a string needs is
// compiled, and with numbers read through <charconv>: built any other way
// (its own compiled implementation, or numbers through string streams),
// it brings in file streams and the locales of the C++ library, whose
// static initialisers ran before every command and made the static CLI
// 1.4 MB larger.

#include "agent_integration/toml_check.h"

#include <toml++/toml.h>

#include "core/utf8.h"

namespace vellumo::agents {

std::optional<std::string> toml_error(std::string_view text) {
  const toml::parse_result parsed = toml::parse(toml_parser_input(text));
  if (parsed) {
    return std::nullopt;
  }
  return std::string(parsed.error().description());
}

// toml++ 3.3 (Debian bookworm's libtomlplusplus-dev 3.3.0) runs into
// undefined behaviour when it asks whether certain non-ASCII characters
// are whitespace: its is_non_ascii_horizontal_whitespace reaches
// TOML_UNREACHABLE for U+00A1 to U+0499, U+2C5E to U+3057 except U+3000,
// and U+FB26 to U+FEFE. The parser asks while it skips the whitespace
// after a backslash that ends a line of a multi-line basic string, so
// `"""\` at a line's end and `é` on the next is enough. Each of those
// characters is replaced by U+0500 or U+4E00, of the same length and taken
// alike by TOML (no whitespace, allowed in strings and comments only), so
// whether and where the text parses stays the same. This can go once the
// build's toml++ answers for every code point: the test
// TomlCheck.ParserVerdictAndInput then runs clean under UBSan with the
// parser given the text as it is.
std::string toml_parser_input(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Step step = decode_utf8(text, i);
    const char32_t cp = step.valid ? step.code_point : 0;
    if (cp >= 0xA1 && cp <= 0x499) {
      out += "\xD4\x80";  // U+0500
    } else if ((cp >= 0x2C5E && cp <= 0x3057 && cp != 0x3000) || (cp >= 0xFB26 && cp <= 0xFEFE)) {
      out += "\xE4\xB8\x80";  // U+4E00
    } else {
      out += text.substr(i, step.length);
    }
    i += step.length;
  }
  return out;
}

}  // namespace vellumo::agents
