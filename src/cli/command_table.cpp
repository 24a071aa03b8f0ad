#include "cli/command_table.h"

#include <algorithm>

#include "version.h"

namespace vellumo {
namespace {

// The usage text above its sections.
constexpr std::string_view kUsageHead =
    "vellumo-cli " VELLUMO_VERSION R"~(: control Vellumo from a terminal, script or agent.

Usage: vellumo-cli <command> [options]

The CLI talks to the running Vellumo app and starts it in the background if
needed (--no-launch to skip). Results print as JSON; errors go to stderr.
Exit codes: 0 ok, 1 failed, 2 usage, 3 Vellumo not running.
)~";

constexpr UsageSection kApp{"App"};
constexpr UsageSection kDictation{"Dictation"};
constexpr UsageSection kMeetings{
    "Meetings", "(<id> is a full ID, a unique prefix, or `latest` for the most recently started)"};
constexpr UsageSection kElse{"Everything else"};

using enum Shown;

constexpr CommandRow kRows[] = {
    {&kApp, "status", "Version, state and selected models"},
    {&kApp, "quit", "Quit Vellumo (saves an active recording first)"},
    {&kApp, "open [page]",
     "Open a window: dictation, meetings, setup, appearance, microphone, shortcuts"},
    {&kApp, "settings get [key]", "Show settings"},
    {&kApp, "settings set key=value ...", "Change settings (values are JSON where they parse)"},
    {&kApp, "models list", "Installed and available models"},
    {&kApp, "ai", "Cloud AI settings (Notes, titles)"},
    {&kApp, "vocabulary list", "Custom words"},
    {&kApp, "diagnostics", "Diagnostic report"},

    {&kDictation, "dictation start|stop|cancel"},
    {&kDictation, "dictation history [--limit N]"},
    {&kDictation, "dictation copy-last"},

    {&kMeetings, "meetings list"},
    {&kMeetings, "meetings show <id>", "Full record as JSON"},
    {&kMeetings, "meetings transcript <id> [--cleaned]"},
    {&kMeetings, "meetings notes <id>"},
    {&kMeetings, "meetings record start [--title T] [--source both|microphone|system]"},
    {&kMeetings, "meetings record stop"},
    {&kMeetings, "meetings import <file>"},
    {&kMeetings, "meetings join <id> <id> ... [--title T]", "New meeting from recordings in order",
     WideColumn},
    {&kMeetings, "meetings transcribe <id> [--model M] [--detach]"},
    {&kMeetings, "meetings wait <id> [--timeout S]", "Wait for a detached job to finish",
     WideColumn},
    {&kMeetings, "meetings cancel <id>"},
    {&kMeetings, "meetings rename <id> <title>"},
    {&kMeetings, "meetings speakers <id>", "Speaker labels in the transcript", WideColumn},
    {&kMeetings, "meetings rename-speaker <id> <from> <to>", R"(e.g. "Speaker 2" "Ilka Brandt")",
     WideColumn},
    {&kMeetings, "meetings labels <id> on|off [--confirm]", "Numbered voices on or off",
     WideColumn},
    {&kMeetings, "meetings clean <id>", "Local transcript cleanup", WideColumn},
    {&kMeetings,
     "meetings generate-notes <id> [--preset "
     "summary|tasks|speakers|brief|formatted-transcript|custom] [--instructions T]"},
    {&kMeetings, "meetings set-notes <id> --file F | --text T"},
    {&kMeetings, "meetings set-transcript <id> --file F | --text T"},
    {&kMeetings, "meetings export <id> <path> [--format md|txt|html|pdf|wav] [--cleaned]"},
    {&kMeetings, "meetings export-audio <id> <path>"},
    {&kMeetings, "meetings delete <id> --confirm"},

    {&kElse, "commands", "Every app command and its arguments"},
    {&kElse, "invoke <command> [json]",
     R"(Call any app command, e.g. invoke get_meeting '{"id":"..."}')"},
    {&kElse, "guide", "How agents should use Vellumo"},
    {&kElse, "agents status|install|remove",
     "vellumo-cli on PATH, and the MCP pointer in\n"
     "Claude Code, Codex, Gemini, Cursor, Windsurf,\n"
     "Claude Desktop and opencode"},
    {&kElse, "mcp", "MCP stub for agents: it points them to this CLI"},
    {&kElse, "version"},
};

// The width of the syntax column, after the two spaces that start a line.
constexpr std::size_t width(Shown shown) { return shown == WideColumn ? 43 : 31; }

// Each section's rows stand together (rows shown nowhere may stand between
// them), and a syntax leaves at least two spaces before its column text.
constexpr bool rows_fit() {
  const UsageSection* section = nullptr;
  std::size_t ended = 0;  // sections left behind so far
  const UsageSection* left[std::size(kRows)] = {};
  for (const CommandRow& row : kRows) {
    if (row.section == nullptr) {
      continue;
    }
    if (row.section != section) {
      if (std::find(left, left + ended, row.section) != left + ended) {
        return false;
      }
      left[ended++] = section;
      section = row.section;
    }
    if (!row.column.empty() && row.syntax.size() + 2 > width(row.shown)) {
      return false;
    }
  }
  return true;
}
static_assert(rows_fit());

}  // namespace

std::span<const CommandRow> command_table() { return kRows; }

std::string usage_text() {
  std::string text(kUsageHead);
  const UsageSection* section = nullptr;
  for (const CommandRow& row : kRows) {
    if (row.section == nullptr) {
      continue;
    }
    if (row.section != section) {
      section = row.section;
      text += "\n";
      text += section->title;
      if (!section->note.empty()) {
        text += "  ";
        text += section->note;
      }
      text += "\n";
    }
    text += "  ";
    text += row.syntax;
    if (!row.column.empty()) {
      const std::string indent(2 + width(row.shown), ' ');
      text.append(indent.size() - 2 - row.syntax.size(), ' ');
      for (const char c : row.column) {
        text += c;
        if (c == '\n') {
          text += indent;
        }
      }
    }
    text += "\n";
  }
  return text;
}

}  // namespace vellumo
