#include "mcp/mcp_server.h"
#include "platform/platform.h"
#include "texts/texts.h"

namespace vellumo {

Status run_mcp_stub(std::string_view cli_path) {
  const auto write = [](std::string_view bytes) { return platform::write_stdout(bytes).ok(); };
  const McpEnd end =
      serve_mcp(platform::read_stdin, write, guide_text(cli_path), mcp_instructions_text(cli_path));
  if (end == McpEnd::WriteFailed) {
    return CliError::quiet_failure();
  }
  return {};
}

}  // namespace vellumo
