#include "texts/texts.h"

#include "platform/platform.h"

namespace vellumo {
namespace {

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

// The guide names the CLI's own path between these two pieces.
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

}  // namespace

std::string cli_path_text() {
  auto path = platform::executable_path();
  return path ? std::move(path).value() : std::string("vellumo-cli");
}

std::string_view usage_text() { return kUsage; }

std::string guide_text(std::string_view cli_path) {
  std::string text;
  text.reserve(kGuideHead.size() + cli_path.size() + kGuideTail.size());
  text += kGuideHead;
  text += cli_path;
  text += kGuideTail;
  return text;
}

}  // namespace vellumo
