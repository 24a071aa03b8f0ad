#include "cli/output.h"

#include <optional>

#include "app_link/app_link.h"
#include "platform/platform.h"

namespace vellumo {

namespace {

// A reader that went away is no one's error to read about: the command
// stops with exit code 1 and says nothing, as a pipeline expects.
CliError output_error(platform::OutputError error) {
  if (error.reader_gone) {
    return CliError::quiet_failure();
  }
  return CliError::failed("Cannot write the output: " + error.text);
}

// Output leaves in the writer's large blocks as it is produced. After a
// failed write the rest is still formatted (the writer cannot be stopped)
// but no longer written.
template <class Value>
Status print_pretty(const Value& value) {
  std::optional<platform::OutputError> failure;
  const auto write = [&](std::string& buffer) {
    if (!failure) {
      if (auto written = platform::write_stdout(buffer); !written) {
        failure = std::move(written).error();
      }
    }
    buffer.clear();
  };
  std::string out;
  write_json_pretty(out, value, write);
  out += '\n';
  write(out);
  if (failure) {
    return output_error(std::move(*failure));
  }
  return {};
}

}  // namespace

Status print_json(const Json& value) { return print_pretty(value); }

Status print_json(const JsonNode& value) { return print_pretty(value); }

Status print_text(std::string_view text) {
  if (auto written = platform::write_stdout(text); !written) {
    return output_error(std::move(written).error());
  }
  return {};
}

Status send_and_print(const CliOptions& options, std::string_view command, Json args) {
  TRY(const JsonTape result,
      app_link::call_tape(options.launch(), command, std::move(args), options.detaching()));
  return print_json(result.root());
}

int report_error(const CliError& error) {
  if (!error.quiet) {
    std::string text = "error: " + error.message + "\n";
    if (error.kind == ErrorKind::Usage) {
      text += "Run `vellumo-cli help` for usage.\n";
    }
    platform::write_stderr(text);
  }
  return exit_code(error.kind);
}

}  // namespace vellumo
