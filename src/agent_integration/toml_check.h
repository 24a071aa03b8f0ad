#pragma once

// The TOML parser's verdict on a text, behind a function of our own: the
// parser (toml++) is compiled in this module's one source file and nowhere
// else in the program.

#include <optional>
#include <string>
#include <string_view>

namespace vellumo::agents {

/// The parser's complaint about `text` (valid UTF-8), or nullopt when it
/// parses as TOML.
std::optional<std::string> toml_error(std::string_view text);

/// `text` (valid UTF-8) as toml_error hands it to the parser: see
/// toml_check.cpp for why and when this can go. Exposed for the tests that
/// ask the parser themselves.
std::string toml_parser_input(std::string_view text);

}  // namespace vellumo::agents
