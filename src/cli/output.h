#pragma once

#include <string_view>

#include "cli/cli_options.h"
#include "core/json.h"
#include "core/json_tape.h"
#include "core/result.h"

namespace vellumo {

/// Writes `value` as pretty JSON and a line feed on standard output. A
/// failed write fails the command: "Cannot write the output: ...", or
/// without a word when the reader has gone.
Status print_json(const Json& value);
Status print_json(const JsonNode& value);

/// Writes `text` on standard output as it is; fails as print_json does.
Status print_text(std::string_view text);

/// Sends one app command with the options' detach flag and prints its
/// result unchanged.
Status send_and_print(const CliOptions& options, std::string_view command, Json args);

/// Writes "error: <message>" (and, for usage errors, the hint line) on
/// standard error, nothing for a quiet error; returns the exit code of the
/// error's kind.
int report_error(const CliError& error);

}  // namespace vellumo
