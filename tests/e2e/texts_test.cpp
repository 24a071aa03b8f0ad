// The fixed texts and the usage errors: printed without any app, and
// without contacting one that is there.

#include "harness.h"
#include "version.h"

namespace vellumo::e2e {
namespace {

using Texts = E2eTest;

// The usage text, byte for byte: descriptions start in the 34th character,
// six meetings lines in the 46th, continuation lines under their column.
constexpr std::string_view kUsage =
    "vellumo-cli " VELLUMO_VERSION R"~(: control Vellumo from a terminal, script or agent.

Usage: vellumo-cli <command> [options]

The CLI talks to the running Vellumo app and starts it in the background if
needed (--no-launch to skip). Results print as JSON; errors go to stderr.
Exit codes: 0 ok, 1 failed, 2 usage, 3 Vellumo not running.

App
  status                         Version, state and selected models
  quit                           Quit Vellumo (saves an active recording first)
  open [page]                    Open a window: dictation, meetings, setup, appearance, microphone, shortcuts
  settings get [key]             Show settings
  settings set key=value ...     Change settings (values are JSON where they parse)
  models list                    Installed and available models
  ai                             Cloud AI settings (Notes, titles)
  vocabulary list                Custom words
  diagnostics                    Diagnostic report

Dictation
  dictation start|stop|cancel
  dictation history [--limit N]
  dictation copy-last

Meetings  (<id> is a full ID, a unique prefix, or `latest` for the most recently started)
  meetings list
  meetings show <id>             Full record as JSON
  meetings transcript <id> [--cleaned]
  meetings notes <id>
  meetings record start [--title T] [--source both|microphone|system]
  meetings record stop
  meetings import <file>
  meetings join <id> <id> ... [--title T]    New meeting from recordings in order
  meetings transcribe <id> [--model M] [--detach]
  meetings wait <id> [--timeout S]           Wait for a detached job to finish
  meetings cancel <id>
  meetings rename <id> <title>
  meetings speakers <id>                     Speaker labels in the transcript
  meetings rename-speaker <id> <from> <to>   e.g. "Speaker 2" "Ilka Brandt"
  meetings labels <id> on|off [--confirm]    Numbered voices on or off
  meetings clean <id>                        Local transcript cleanup
  meetings generate-notes <id> [--preset summary|tasks|speakers|brief|formatted-transcript|custom] [--instructions T]
  meetings set-notes <id> --file F | --text T
  meetings set-transcript <id> --file F | --text T
  meetings export <id> <path> [--format md|txt|html|pdf|wav] [--cleaned]
  meetings export-audio <id> <path>
  meetings delete <id> --confirm

Everything else
  commands                       Every app command and its arguments
  invoke <command> [json]        Call any app command, e.g. invoke get_meeting '{"id":"..."}'
  guide                          How agents should use Vellumo
  agents status|install|remove   vellumo-cli on PATH, and the MCP pointer in
                                 Claude Code, Codex, Gemini, Cursor, Windsurf,
                                 Claude Desktop and opencode
  mcp                            MCP stub for agents: it points them to this CLI
  version
)~";

// The guide, byte for byte, around the CLI's path.
constexpr std::string_view kGuideHead = R"~(# Using Vellumo from an agent

Vellumo has no MCP tools. Use this CLI instead: it reaches everything the app
window can do, and it runs in the background without the window.

CLI: )~";
constexpr std::string_view kGuideTail = R"~(

## Basics
- Every command talks to the running app (one owner for recording, models and
  the meeting library). If the app is closed, the CLI starts it hidden.
- Output is JSON on stdout. Errors are one line on stderr. Exit codes: 0 ok,
  1 failed, 2 usage, 3 not running.
- Meeting IDs accept a unique prefix or `latest`.
- `vellumo-cli commands` lists every app command; `vellumo-cli invoke <command>
  '<json args>'` calls one directly with the same camelCase arguments the
  window uses.

## Long jobs
`meetings transcribe` waits until recognition and speaker labeling finish.
That can take several minutes for an hour of audio, so allow a long timeout,
or add `--detach` and then run `meetings wait <id>`.

## Typical meeting workflow
    vellumo-cli meetings list
    vellumo-cli meetings join <first> <second> --title "Client call"
    vellumo-cli meetings transcribe <new-id>
    vellumo-cli meetings speakers <new-id>
    vellumo-cli meetings rename-speaker <new-id> "You" "Milo Frasker"
    vellumo-cli meetings rename-speaker <new-id> "Other speakers" "Jane Doe"
    vellumo-cli meetings transcript <new-id>
    vellumo-cli meetings set-notes <new-id> --file notes.md
    vellumo-cli meetings export <new-id> call.md

## Care
- `generate-notes`, automatic titles and some vocabulary features use the AI
  provider set in Vellumo, which may be a paid cloud service. Check
  `vellumo-cli ai` and ask the user before using one.
- Destructive commands need `--confirm`. Don't pass it without the user's go-ahead.
- Don't accept model licenses (`acknowledge_download_terms`) for the user.
- Recording uses the microphone and system audio; start one only when asked.
)~";

TEST_F(Texts, PrintedWithoutAnyAppBesideOrServing) {
  const RunResult usage = cli({});
  EXPECT_EQ(usage.exit_code, 0) << usage.err;
  EXPECT_EQ(usage.err, "");
  EXPECT_EQ(usage.out, kUsage);
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"help"}, {"--help"}, {"-h"}, {"--no-launch", "help"}}) {
    SCOPED_TRACE(words.front());
    expect_output(cli(words), usage.out);
  }

  const RunResult guide = cli({"guide"});
  EXPECT_EQ(guide.exit_code, 0) << guide.err;
  EXPECT_EQ(guide.err, "");
  EXPECT_EQ(guide.out, std::string(kGuideHead) + cli_path_text() + std::string(kGuideTail));
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"agents"}, {"help", "agents"}, {"agents", "--help"}}) {
    SCOPED_TRACE(words.front() + " " + words.back());
    expect_output(cli(words), guide.out);
  }

  for (const char* word : {"version", "--version", "-V"}) {
    SCOPED_TRACE(word);
    expect_output(cli({word}), "vellumo-cli " VELLUMO_VERSION " (protocol 1)\n");
  }
  EXPECT_TRUE(starts().empty());
}

TEST_F(Texts, UsageErrorsNeverReachTheApp) {
  start_app(scenario());
  expect_error(cli({"-v"}), 2, "Unknown command: -v");
  expect_error(cli({"status", "now"}), 2, "Unknown command: status now");
  expect_error(cli({"ai", "foo"}), 2, "Unknown command: ai foo");
  expect_error(cli({"commands", "all"}), 2, "Unknown command: commands all");
  expect_error(cli({"help", "foo"}), 2, "Unknown command: help foo");
  expect_error(cli({"meetings", "--help"}), 2, "Unknown command: help meetings");
  expect_error(cli({"invoke", "a", "b", "c"}), 2, "Unknown command: invoke a b c");
  expect_error(cli({"", "ping"}), 2, "Unknown command:  ping");
  expect_error(cli({"status", "--title"}), 2, "--title needs a value.");
  expect_error(cli({"agents", "status", "now"}), 2, "Use `agents status|install|remove`.");
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"settings", "list"}, {"settings", "set"}, {"settings", "get", "a", "b"}}) {
    SCOPED_TRACE(words.back());
    expect_error(cli(words), 2, "Use `settings get [key]` or `settings set key=value ...`.");
  }
  expect_error_around(cli({"invoke", "ping", "{"}), 2, "Arguments must be a JSON object: ", "");
  expect_error_around(cli({"invoke", "ping", "{} x"}), 2, "Arguments must be a JSON object: ", "");
  EXPECT_EQ(requests(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vellumo::e2e
