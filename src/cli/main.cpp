#include "cli/dispatch.h"
#include "cli/output.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  using namespace vellumo;
  platform::init_standard_streams();
  auto args = platform::command_words(argc, argv);
  if (!args) {
    return report_error(CliError::usage(std::move(args).error()));
  }
  return run_cli(*args);
}
