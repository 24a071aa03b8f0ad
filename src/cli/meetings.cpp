#include "cli/meetings.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "app_link/app_link.h"
#include "cli/input.h"
#include "cli/output.h"
#include "core/paths.h"
#include "core/text.h"
#include "core/utf8.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

constexpr std::uint64_t kDefaultWaitSeconds = 14400;
constexpr auto kPollPause = std::chrono::seconds(2);

constexpr std::array<std::string_view, 6> kRunningStatuses = {
    "recording", "importing", "finalizing", "transcribing", "processingNotes", "generatingTitle"};

// The words --preset and --format take (and the aliases the texts do not
// show), with the names the app knows them by.
constexpr WireWord kPresets[] = {
    {"summary", "summary"},
    {"tasks", "tasks"},
    {"speakers", "speakers"},
    {"brief", "brief"},
    {"custom", "custom"},
    {"formatted-transcript", "formattedTranscript"},
    {"formattedTranscript", "formattedTranscript"},
};
constexpr WireWord kFormats[] = {
    {"md", "markdown"}, {"markdown", "markdown"}, {"txt", "text"},
    {"text", "text"},   {"html", "html"},         {"htm", "html"},
    {"pdf", "pdf"},     {"wav", "wav"},           {"audio", "wav"},
};

// A string member's text; empty when absent or no string.
std::string_view string_member(const JsonNode& record, std::string_view key) {
  const auto value = record.find(key);
  return value ? value->string() : "";
}

Json text_or_null(const std::string* text) { return text ? Json(*text) : Json(nullptr); }

// The record stays as read: its users take only the members they need.
Result<JsonTape> get_meeting(const CliOptions& options, const std::string& id) {
  return app_link::call_tape(options.launch(), "get_meeting", Json{{"id", id}}, Detach::No);
}

// Prints the result as it comes, except that a meeting record (an object
// with a `transcript`) is printed as its summary.
Status send_and_print_meeting(const CliOptions& options, std::string_view command, Json args) {
  TRY(const JsonTape result,
      app_link::call_tape(options.launch(), command, std::move(args), options.detaching()));
  const JsonNode value = result.root();
  if (value.is_object() && value.find("transcript")) {
    return print_json(meeting_summary(value));
  }
  return print_json(value);
}

Result<std::string> meeting_id(const Call& call) {
  return resolve_meeting_id(call.options(), call.arg("<id>"));
}

// Reads the meeting, then saves it back with one of its editable members
// replaced; the app's save takes all four.
Status edit_meeting(const Call& call, std::string_view key, std::string value) {
  TRY(const std::string id, meeting_id(call));
  TRY(const JsonTape record, get_meeting(call.options(), id));
  Json args = pick_members(record.root(), {"id", "title", "transcript", "notes"});
  args[std::string(key)] = std::move(value);
  return send_and_print_meeting(call.options(), "save_meeting", std::move(args));
}

}  // namespace

Status send_for_meeting(const Call& call, std::string_view command, Reply reply) {
  TRY(const std::string id, meeting_id(call));
  return reply == Reply::RecordAsSummary
             ? send_and_print_meeting(call.options(), command, Json{{"id", id}})
             : send_and_print(call.options(), command, Json{{"id", id}});
}

Status print_text_member(const Call& call, std::string_view key) {
  TRY(const std::string id, meeting_id(call));
  TRY(const JsonTape record, get_meeting(call.options(), id));
  std::string text(string_member(record.root(), key));
  text += '\n';
  return print_text(text);
}

Status replace_text(const Call& call, std::string_view key) {
  TRY(std::string text, read_text_input(call.option("--text"), call.option("--file")));
  return edit_meeting(call, key, std::move(text));
}

Status transcript(const Call& call) {
  return print_text_member(call, call.flag("--cleaned") ? "cleanedTranscript" : "transcript");
}

Status rename_meeting(const Call& call) { return edit_meeting(call, "title", call.arg("<title>")); }

Status record_start(const Call& call) {
  const std::string* title = call.option("--title");
  const std::string* source = call.option("--source");
  return send_and_print_meeting(
      call.options(), "start_meeting",
      Json{{"title", title ? *title : ""}, {"source", source ? *source : "both"}});
}

Status record_stop(const Call& call) {
  return send_and_print_meeting(call.options(), "stop_meeting", Json::object());
}

Status import_media(const Call& call) {
  TRY(const std::string path, absolute_path(call.arg("<file>")));
  return send_and_print_meeting(call.options(), "import_media", Json{{"path", path}});
}

Status join(const Call& call) {
  Json ids = Json::array();
  for (const std::string& reference : call.args("<id>")) {
    TRY(std::string id, resolve_meeting_id(call.options(), reference));
    ids.push_back(std::move(id));
  }
  return send_and_print_meeting(
      call.options(), "join_meetings",
      Json{{"ids", std::move(ids)}, {"title", text_or_null(call.option("--title"))}});
}

Status transcribe(const Call& call) {
  TRY(const std::string id, meeting_id(call));
  return send_and_print_meeting(call.options(), "transcribe_meeting",
                                Json{{"id", id}, {"model", text_or_null(call.option("--model"))}});
}

Status rename_speaker(const Call& call) {
  TRY(const std::string id, meeting_id(call));
  return send_and_print_meeting(
      call.options(), "rename_meeting_speaker",
      Json{{"id", id}, {"from", call.arg("<from>")}, {"to", call.arg("<to>")}});
}

Status labels(const Call& call) {
  TRY(const std::string id, meeting_id(call));
  return send_and_print_meeting(call.options(), "set_meeting_speaker_labels",
                                Json{{"id", id},
                                     {"enabled", call.arg("on|off") == "on"},
                                     {"confirmed", call.flag("--confirm")}});
}

Status generate_notes(const Call& call) {
  const std::string* given = call.option("--preset");
  const auto preset = call.choice("--preset", kPresets, given ? *given : "summary");
  if (!preset) {
    return CliError::usage("--preset is " + call.choices("--preset") + ".");
  }
  TRY(const std::string id, meeting_id(call));
  const std::string* instructions = call.option("--instructions");
  return send_and_print_meeting(
      call.options(), "generate_notes",
      Json{{"id", id}, {"preset", *preset}, {"instructions", instructions ? *instructions : ""}});
}

Status export_meeting(const Call& call) {
  const std::string& given = call.arg("<path>");
  TRY(const std::string path, absolute_path(given));
  TRY(const std::string format, export_format(call, given));
  TRY(const std::string id, meeting_id(call));
  const std::string_view version = call.flag("--cleaned") ? "cleaned" : "recognized";
  TRY(const JsonTape ignored,
      app_link::call_tape(
          call.options().launch(), "export_meeting",
          Json{{"id", id}, {"path", path}, {"format", format}, {"transcriptVersion", version}},
          Detach::No));
  return print_json(Json{{"exported", path}, {"format", format}});
}

Status export_audio(const Call& call) {
  TRY(const std::string path, absolute_path(call.arg("<path>")));
  TRY(const std::string id, meeting_id(call));
  TRY(const JsonTape ignored, app_link::call_tape(call.options().launch(), "export_meeting_audio",
                                                  Json{{"id", id}, {"path", path}}, Detach::No));
  return print_json(Json{{"exported", path}});
}

Status delete_meeting(const Call& call) {
  if (!call.flag("--confirm")) {
    return CliError::usage("Deleting a meeting removes its audio and transcript. Add --confirm.");
  }
  return send_for_meeting(call, "delete_meeting", Reply::AsItComes);
}

Status check_reference(const std::string& reference) {
  if (reference.empty()) {
    return CliError::usage("A meeting reference cannot be empty.");
  }
  return {};
}

Json meeting_summary(const JsonNode& record) {
  Json summary = pick_members(
      record, {"id", "title", "status", "createdAt", "durationSeconds", "source",
               "transcriptionModel", "speakerLabels", "speakerCount", "recognitionCompleteness",
               "recordingWarnings", "recognitionWarnings", "error"});
  summary["transcriptChars"] = count_characters(string_member(record, "transcript"));
  summary["notesChars"] = count_characters(string_member(record, "notes"));
  return summary;
}

Result<std::string> resolve_meeting_id(const CliOptions& options, const std::string& reference) {
  const bool full_id = reference.size() == 32 &&
                       reference.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  if (full_id) {
    return reference;
  }
  // The list is only searched: it stays as read, however long it is.
  TRY(const JsonTape list,
      app_link::call_tape(options.launch(), "list_meetings", Json::object(), Detach::No));
  const auto id_of = [](const JsonNode& meeting) -> std::optional<std::string_view> {
    const auto id = meeting.find("id");
    return id && id->is_string() ? std::optional(id->string()) : std::nullopt;
  };
  const JsonNode meetings = list.root();
  if (reference == "latest") {
    if (meetings.size() > 0 && meetings.is_array()) {
      if (const auto id = id_of(*meetings.items().begin())) {
        return std::string(*id);
      }
    }
    return CliError::failed("There are no meetings yet.");
  }
  std::vector<std::string_view> matches;
  for (const JsonNode meeting : meetings.items()) {
    if (const auto id = id_of(meeting); id && id->starts_with(reference)) {
      matches.push_back(*id);
    }
  }
  if (matches.empty()) {
    return CliError::failed("No meeting ID starts with `" + reference +
                            "`. Run `vellumo-cli meetings list`.");
  }
  if (matches.size() > 1) {
    return CliError::failed("`" + reference + "` matches " + std::to_string(matches.size()) +
                            " meetings; use more characters.");
  }
  return std::string(matches[0]);
}

Result<std::string> export_format(const Call& call, std::string_view path) {
  std::string name;
  if (const std::string* given = call.option("--format")) {
    name = *given;
  } else {
    name = "md";
    if (auto file = file_name(path, platform::kPathStyle)) {
      const auto dot = file->rfind('.');
      if (dot != std::string_view::npos && dot != 0) {
        name = file->substr(dot + 1);
        for (char& c : name) {
          if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
          }
        }
      }
    }
  }
  if (const auto format = call.choice("--format", kFormats, name)) {
    return std::string(*format);
  }
  return CliError::usage("Unknown export format `" + name + "`. Use " + call.choices("--format") +
                         ".");
}

Status wait_for_meeting(const Call& call) {
  const CliOptions& options = call.options();
  TRY(const std::string id, meeting_id(call));
  TRY(const std::uint64_t timeout,
      call.number("--timeout", kDefaultWaitSeconds, "--timeout is a number of seconds."));
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    TRY(const JsonTape tape, get_meeting(options, id));
    const JsonNode record = tape.root();
    const std::string status(string_member(record, "status"));
    const bool running = std::find(kRunningStatuses.begin(), kRunningStatuses.end(), status) !=
                         kRunningStatuses.end();
    if (!running) {
      TRY_STATUS(print_json(meeting_summary(record)));
      if (status == "failed") {
        const auto error = record.find("error");
        return CliError::failed(error && error->is_string() ? std::string(error->string())
                                                            : "The operation failed.");
      }
      return {};
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    if (static_cast<std::uint64_t>(elapsed.count()) >= timeout) {
      return CliError::failed("Still " + status + " after " + std::to_string(timeout) + " s.");
    }
    std::this_thread::sleep_for(kPollPause);
  }
}

}  // namespace vellumo
