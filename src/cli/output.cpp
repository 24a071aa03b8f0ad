#include "cli/output.h"

#include "app_link/app_link.h"
#include "platform/platform.h"

namespace vellumo {

namespace {

// Output leaves in the writer's large blocks as it is produced.
template <class Value>
void print_pretty(const Value& value) {
  std::string out;
  write_json_pretty(out, value, [](std::string& buffer) {
    platform::write_stdout(buffer);
    buffer.clear();
  });
  out += '\n';
  platform::write_stdout(out);
}

}  // namespace

void print_json(const Json& value) { print_pretty(value); }

void print_json(const JsonNode& value) { print_pretty(value); }

void print_text(std::string_view text) { platform::write_stdout(text); }

Status send_and_print(const CliOptions& options, std::string_view command, Json args) {
  TRY(const JsonTape result, AppLink::call_tape(options, command, std::move(args), options.detach));
  print_json(result.root());
  return {};
}

int report_error(const CliError& error) {
  std::string text = "error: " + error.message + "\n";
  if (error.kind == ErrorKind::Usage) {
    text += "Run `vellumo-cli help` for usage.\n";
  }
  platform::write_stderr(text);
  return exit_code(error.kind);
}

}  // namespace vellumo
