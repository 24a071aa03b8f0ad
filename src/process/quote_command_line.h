#pragma once

// Windows command lines built from a program and its arguments, each
// argument quoted, as pure text functions (UTF-8 in and out), so that every
// platform's tests cover them. core/split_command_line.h reads them back.

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace vellumo::process {

/// Why a command line cannot be built.
enum class CommandLineError {
  /// An argument holds a NUL character, which no command line can carry.
  NulInArgument,
  /// A batch file argument holds a carriage return, a line feed or a NUL,
  /// which the command interpreter would cut or act on.
  BatchArgumentInvalid,
  /// The program path holds a double quote (or, for a batch file, ends with
  /// a backslash): no Windows file has such a name, and it would break the
  /// quoting of the command line.
  InvalidProgramPath,
};

/// One argument quoted for the standard Windows command-line rules (those of
/// CommandLineToArgvW and the C runtime): unchanged when it is not empty and
/// holds no space, tab, line feed, vertical tab or double quote; otherwise
/// in double quotes, with `\"` for an inner quote and the backslashes before
/// a quote (or the closing quote) doubled.
std::string quote_windows_argument(std::string_view argument);

/// The command line that starts `program` directly: the program path in
/// double quotes, then each argument quoted as above, separated by spaces.
Result<std::string, CommandLineError> windows_command_line(
    std::string_view program, const std::vector<std::string>& arguments);

/// True when Windows would run `program` as a batch script: its name, less
/// any trailing dots and spaces (which Windows drops from file names), ends
/// in ".cmd" or ".bat", in any case.
bool is_batch_file(std::string_view program);

/// The command line, to be run by cmd.exe, that runs the batch script
/// `script` with `arguments`:
///
///   cmd.exe /e:ON /v:OFF /d /c ""<script>" <arg> <arg>..."
///
/// The command interpreter reads the text after /c itself (expanding %
/// variables, and acting on & | < > ( ) ^ outside quotes) before the script
/// sees its arguments, so each argument is escaped for it:
/// - an argument holding a carriage return, a line feed or a NUL is refused;
/// - an argument is put in double quotes when it is empty, ends with a
///   backslash or holds anything but ASCII letters, digits and #$*+-./:?@\_
///   (so every character the interpreter acts on is inside quotes);
/// - an inner double quote is doubled (the interpreter's quote state flips
///   twice and stays on; the C runtime reads `""` inside quotes as one
///   literal quote), with the backslashes before it doubled;
/// - every % becomes %%cd:~,% : the first % is left alone as it starts no
///   variable, and %cd:~,% expands to an empty part of the current folder's
///   name, so no % in the argument can begin a variable reference;
/// - ! needs nothing, as /v:OFF turns delayed expansion off.
/// The same % treatment applies to the script path.
Result<std::string, CommandLineError> batch_command_line(std::string_view script,
                                                         const std::vector<std::string>& arguments);

}  // namespace vellumo::process
