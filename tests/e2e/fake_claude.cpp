// A stand-in for Claude Code's `claude` command, for the end-to-end tests of
// the agents command. It answers `mcp get|add|remove` for the one server
// `vellumo` from a state folder named by the environment variable
// FAKE_CLAUDE_DIR:
//
//   calls.log      receives one line per run: {"args": [...], "via": ...},
//                  where `via` is FAKE_CLAUDE_VIA when set (a .cmd wrapper
//                  sets it to its own path), else the program's own name
//   server         the registered server's command; no file, no server
//   fail-VERB      `VERB` (get, add, remove) prints this file's content on
//                  standard error and exits with 1
//   hang-VERB      `VERB` never answers: it sleeps (for two minutes at most,
//                  so that a failed test leaves nothing running for long);
//                  on POSIX it first starts a child that sleeps as well.
//                  The numbers of both go to `pids`, one a line.
//   add-replaces   `add` replaces a server that is there instead of failing
//
// Without a failure file: `get` prints the server on standard output and
// exits with 0, or says that there is none and exits with 1; `add` records
// the command and `remove` deletes it, each failing (exit code 1) when the
// server is already there or not there, as Claude Code does. Any other
// argument list fails with exit code 2.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/json.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/win32.h"
#else
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void append_line(const fs::path& path, const std::string& line) {
  std::ofstream(path, std::ios::binary | std::ios::app) << line << "\n";
}

int process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

[[noreturn]] void hang(const fs::path& dir) {
#ifndef _WIN32
  // A child of ours that must go down with us: the runner kills the whole
  // process group at its time limit.
  (void)::fork();
#endif
  append_line(dir / "pids", std::to_string(process_id()));
  std::this_thread::sleep_for(std::chrono::minutes(2));
  std::exit(3);
}

// The arguments as UTF-8: on Windows from the UTF-16 command line, as the
// ANSI ones of main lose every character outside the code page.
std::vector<std::string> arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; wide != nullptr && i < count; ++i) {
    args.push_back(vellumo::win32::to_utf8(wide[i]));
  }
  LocalFree(wide);
  return args;
#else
  return std::vector<std::string>(argv, argv + argc);
#endif
}

int fail(const std::string& message, int code) {
  std::fwrite(message.data(), 1, message.size(), stderr);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  const char* dir_value = std::getenv("FAKE_CLAUDE_DIR");
  if (dir_value == nullptr) {
    return fail("fake claude: FAKE_CLAUDE_DIR is not set\n", 3);
  }
  const fs::path dir = dir_value;
  const std::vector<std::string> all = arguments(argc, argv);
  if (all.empty()) {
    return fail("fake claude: no program name\n", 3);
  }
  const std::vector<std::string> args(all.begin() + 1, all.end());

  vellumo::Json call = {{"args", args}};
  const char* via = std::getenv("FAKE_CLAUDE_VIA");
  call["via"] = via != nullptr ? std::string(via) : all.front();
  append_line(dir / "calls.log", vellumo::to_json_compact(call));

  using Args = std::vector<std::string>;
  std::string verb;
  if (args == Args{"mcp", "get", "vellumo"}) {
    verb = "get";
  } else if (args.size() == 8 &&
             Args(args.begin(), args.begin() + 6) ==
                 Args{"mcp", "add", "--scope", "user", "vellumo", "--"} &&
             args[7] == "mcp") {
    verb = "add";
  } else if (args == Args{"mcp", "remove", "--scope", "user", "vellumo"}) {
    verb = "remove";
  } else {
    return fail("fake claude: unexpected arguments\n", 2);
  }

  if (fs::exists(dir / ("hang-" + verb))) {
    hang(dir);
  }
  if (fs::exists(dir / ("fail-" + verb))) {
    return fail(read_text(dir / ("fail-" + verb)), 1);
  }
  const fs::path server = dir / "server";
  const bool exists = fs::exists(server);
  if (verb == "get") {
    if (!exists) {
      return fail("No MCP server found with name: vellumo\n", 1);
    }
    const std::string out =
        "vellumo:\n  Scope: User config (available in all your projects)\n"
        "  Type: stdio\n  Command: " +
        read_text(server) + "\n  Args: mcp\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  }
  if (verb == "add") {
    if (exists && !fs::exists(dir / "add-replaces")) {
      return fail("MCP server vellumo already exists in user config\n", 1);
    }
    std::ofstream(server, std::ios::binary) << args[6];
    std::puts("Added stdio MCP server vellumo to user config");
    return 0;
  }
  if (!exists) {
    return fail("No user-scoped MCP server found with name: vellumo\n", 1);
  }
  fs::remove(server);
  std::puts("Removed MCP server vellumo from user config");
  return 0;
}
