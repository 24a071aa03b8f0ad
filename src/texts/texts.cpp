#include "texts/texts.h"

namespace vellumo {
namespace {

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

std::string guide_text(std::string_view cli_path) {
  std::string text;
  text.reserve(kGuideHead.size() + cli_path.size() + kGuideTail.size());
  text += kGuideHead;
  text += cli_path;
  text += kGuideTail;
  return text;
}

}  // namespace vellumo
