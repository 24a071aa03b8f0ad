#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellumo {

/// Splits a Windows command line into its words, as the C runtime does:
/// the program name (quotes toggle, backslashes literal) is dropped; then
/// spaces and tabs outside quotes separate words; 2n backslashes before a
/// quote give n and the quote toggles quoting, 2n+1 give n and a literal
/// quote; other backslashes are literal; `""` inside quotes is a literal
/// quote; `""` alone is an empty word.
std::vector<std::string> split_windows_command_line(std::string_view line);

/// The same, keeping the program name as the first word (nothing at all for
/// an empty line).
std::vector<std::string> split_windows_command_line_with_program(std::string_view line);

}  // namespace vellumo
