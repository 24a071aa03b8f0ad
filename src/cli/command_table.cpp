#include "cli/command_table.h"

#include <algorithm>

#include "cli/agents_command.h"
#include "cli/app_commands.h"
#include "cli/dictation.h"
#include "cli/meetings.h"
#include "cli/output.h"
#include "cli/usage_head.h"
#include "core/link_protocol.h"
#include "core/text.h"
#include "mcp/mcp_server.h"
#include "platform/platform.h"
#include "texts/texts.h"
#include "version.h"

namespace vellumo {
namespace {

// Sends one app command without arguments and prints its result as it
// comes.
template <Literal command>
Status relay(const Call& call) {
  return send_and_print(call.options(), command.view(), Json::object());
}

// A family's answer to words that fit none of its rows.
template <Literal message>
Status usage_error(const Call&) {
  return CliError::usage(std::string(message.view()));
}

// The CLI's own path for the texts that name it: as the system reports it,
// or "vellumo-cli" when it cannot tell.
std::string cli_path_text() {
  auto path = platform::executable_path();
  return path ? std::move(path).value() : std::string("vellumo-cli");
}

Status print_usage(const Call&) { return print_text(usage_text()); }

Status print_guide(const Call&) { return print_text(guide_text(cli_path_text())); }

Status print_version(const Call&) {
  return print_text("vellumo-cli " + std::string(kVersion) + " (protocol " +
                    std::to_string(PROTOCOL_VERSION) + ")\n");
}

Status quit(const Call&) {
  // Quitting never starts the app just to stop it again.
  CliOptions quit_options;
  quit_options.no_launch = true;
  return send_and_print(quit_options, "quit_app", Json::object());
}

Status open_page(const Call& call) {
  const std::string* page = call.optional_arg("[page]");
  return send_and_print(call.options(), "show_page", Json{{"page", page ? *page : "dictation"}});
}

Status mcp_stub(const Call&) { return run_mcp_stub(cli_path_text()); }

Status unknown_meetings_command(const Call& call) {
  return CliError::usage("Unknown meetings command: " + join_texts(call.args("[word]"), " "));
}

constexpr UsageSection kApp{"App"};
constexpr UsageSection kDictation{"Dictation"};
constexpr UsageSection kMeetings{
    "Meetings", "(<id> is a full ID, a unique prefix, or `latest` for the most recently started)"};
constexpr UsageSection kElse{"Everything else"};

using enum Shown;

// No column text, or no sentence.
constexpr std::string_view kNone;

// In the order of the usage text; dispatch takes the first row that fits,
// so a family's answer to other words follows its rows.
constexpr CommandRow kRows[] = {
    {&kApp, "status", status, "Version, state and selected models"},
    {&kApp, "quit", quit, "Quit Vellumo (saves an active recording first)"},
    {&kApp, "open [page]", open_page,
     "Open a window: dictation, meetings, setup, appearance, microphone, shortcuts"},
    {&kApp, "settings get [key]", settings_get, "Show settings"},
    {&kApp, "settings set key=value ...", settings_set,
     "Change settings (values are JSON where they parse)"},
    {nullptr, "settings", settings},
    {nullptr, "settings [word] ...",
     usage_error<"Use `settings get [key]` or `settings set key=value ...`.">},
    {&kApp, "models list", relay<"get_model_library">, "Installed and available models"},
    {nullptr, "models", relay<"get_model_library">},
    {&kApp, "ai", relay<"get_ai_settings">, "Cloud AI settings (Notes, titles)"},
    {nullptr, "ai settings", relay<"get_ai_settings">},
    {&kApp, "vocabulary list", relay<"get_vocabulary">, "Custom words"},
    {nullptr, "vocabulary", relay<"get_vocabulary">},
    {&kApp, "diagnostics", relay<"get_diagnostics">, "Diagnostic report"},
    {nullptr, "snapshot", relay<"get_snapshot">},
    {nullptr, "ping", relay<"ping">},

    {&kDictation, "dictation start|stop|cancel", change_dictation, kNone,
     "Start a dictation, stop it or cancel it, and print the dictation's state, error and text."},
    {&kDictation, "dictation history [--limit N]", dictation_history, kNone,
     "The most recent dictations, 20 unless --limit says how many."},
    {&kDictation, "dictation copy-last", relay<"copy_last_dictation">, kNone,
     "Have the app copy the last dictation."},
    {nullptr, "dictation [word] ...",
     usage_error<"Use `dictation start|stop|cancel|history|copy-last`.">},

    {&kMeetings, "meetings list", relay<"list_meetings">, kNone, "The meetings of the library."},
    {nullptr, "meetings", relay<"list_meetings">},
    {&kMeetings, "meetings show <id>", for_meeting<"get_meeting">, "Full record as JSON"},
    {&kMeetings, "meetings transcript <id> [--cleaned]", transcript, kNone,
     "The transcript as plain text; with --cleaned the cleaned-up one."},
    {&kMeetings, "meetings notes <id>", text_member<"notes">, kNone,
     "The meeting's notes as plain text."},
    {&kMeetings, "meetings record start [--title T] [--source both|microphone|system]",
     record_start, kNone,
     "Start recording a meeting, from the microphone, the system's sound or both (the default)."},
    {&kMeetings, "meetings record stop", record_stop, kNone,
     "Stop the recording and keep it as a meeting."},
    {&kMeetings, "meetings import <file>", import_media, kNone,
     "A new meeting from an audio or video file."},
    {&kMeetings, "meetings join <id> <id> ... [--title T]", join,
     "New meeting from recordings in order", kNone, WideColumn},
    {&kMeetings, "meetings transcribe <id> [--model M] [--detach]", transcribe, kNone,
     "Transcribe the meeting and label its speakers, waiting until done, which can take minutes; "
     "--detach returns at once (see meetings wait)."},
    {&kMeetings, "meetings wait <id> [--timeout S]", wait_for_meeting,
     "Wait for a detached job to finish", kNone, WideColumn},
    {&kMeetings, "meetings cancel <id>", for_meeting<"cancel_meeting">, kNone,
     "Cancel the meeting's running job."},
    {&kMeetings, "meetings rename <id> <title>", rename_meeting, kNone,
     "Give the meeting a new title."},
    {&kMeetings, "meetings speakers <id>", for_meeting<"meeting_speakers">,
     "Speaker labels in the transcript", kNone, WideColumn},
    {&kMeetings, "meetings rename-speaker <id> <from> <to>", rename_speaker,
     R"(e.g. "Speaker 2" "Ilka Brandt")", kNone, WideColumn},
    {&kMeetings, "meetings labels <id> on|off [--confirm]", labels, "Numbered voices on or off",
     kNone, WideColumn},
    {&kMeetings, "meetings clean <id>", for_meeting<"clean_meeting", Reply::RecordAsSummary>,
     "Local transcript cleanup", kNone, WideColumn},
    {&kMeetings,
     "meetings generate-notes <id> [--preset "
     "summary|tasks|speakers|brief|formatted-transcript|custom] [--instructions T]",
     generate_notes, kNone,
     "Notes from the transcript through the AI provider set in the app, which may be a paid cloud "
     "service; the preset is summary unless given."},
    {&kMeetings, "meetings set-notes <id> --file F | --text T", set_text<"notes">, kNone,
     "Replace the notes with the given text, or with a file's (- reads standard input)."},
    {&kMeetings, "meetings set-transcript <id> --file F | --text T", set_text<"transcript">, kNone,
     "Replace the transcript with the given text, or with a file's (- reads standard input)."},
    {&kMeetings, "meetings export <id> <path> [--format md|txt|html|pdf|wav] [--cleaned]",
     export_meeting, kNone,
     "Write the meeting to a file, in the format that --format or the path's extension names (md "
     "unless either does)."},
    {&kMeetings, "meetings export-audio <id> <path>", export_audio, kNone,
     "Write the meeting's audio to a file."},
    {&kMeetings, "meetings delete <id> --confirm", delete_meeting, kNone,
     "Delete the meeting; nothing is deleted without --confirm (or --yes)."},
    {nullptr, "meetings [word] ...", unknown_meetings_command},

    {&kElse, "commands", relay<"commands">, "Every app command and its arguments"},
    {&kElse, "invoke <command> [json]", invoke,
     R"(Call any app command, e.g. invoke get_meeting '{"id":"..."}')"},
    {&kElse, "guide", print_guide, "How agents should use Vellumo"},
    {&kElse, "agents status|install|remove", agents_command,
     "vellumo-cli on PATH, and the MCP pointer in\n"
     "Claude Code, Codex, Gemini, Cursor, Windsurf,\n"
     "Claude Desktop and opencode"},
    {nullptr, "agents", print_guide},
    {nullptr, "agents uninstall", agents_command},
    {nullptr, "agents ensure", ensure_agents},
    {nullptr, "agents [word] ...", usage_error<"Use `agents status|install|remove`.">},
    {&kElse, "mcp", mcp_stub, "MCP stub for agents: it points them to this CLI"},
    {&kElse, "version", print_version, kNone, "The version and the protocol of the app link."},
    {&kElse, "help", print_usage, kNone, "This list of commands, as -h and --help print it.",
     ManualOnly},
    {&kElse, "help agents", print_guide, kNone, "The guide for agents, as guide prints it.",
     ManualOnly},
};

// The width of the syntax column, after the two spaces that start a line.
constexpr std::size_t width(Shown shown) { return shown == WideColumn ? 43 : 31; }

// Each section's rows stand together (rows shown nowhere may stand between
// them); a row of a section has a column text or a sentence, not both (a
// row shown nowhere has neither), and its syntax leaves at least two
// spaces before its column text.
constexpr bool rows_fit() {
  const UsageSection* section = nullptr;
  std::size_t ended = 0;  // sections left behind so far
  const UsageSection* left[std::size(kRows)] = {};
  for (const CommandRow& row : kRows) {
    if (row.section == nullptr) {
      if (!row.column.empty() || !row.sentence.empty()) {
        return false;
      }
      continue;
    }
    if (row.column.empty() == row.sentence.empty() ||
        (row.shown == ManualOnly && !row.column.empty())) {
      return false;
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
static_assert(std::ranges::all_of(kRows, [](const CommandRow& row) {
  return row.form.error.empty() && row.handler != nullptr;
}));

}  // namespace

std::span<const CommandRow> command_table() { return kRows; }

std::string usage_text() {
  std::string text = usage_head_text();
  const UsageSection* section = nullptr;
  for (const CommandRow& row : kRows) {
    if (row.section == nullptr || row.shown == ManualOnly) {
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
