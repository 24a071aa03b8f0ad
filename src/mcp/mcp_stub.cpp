#include "cli/texts.h"
#include "mcp/mcp_server.h"
#include "platform/platform.h"

namespace vellumo {

Status run_mcp_stub() {
  const std::string cli_path = cli_path_text();
  serve_mcp(platform::read_stdin, platform::write_stdout, guide_text(cli_path),
            mcp_instructions_text(cli_path));
  return {};
}

}  // namespace vellumo
