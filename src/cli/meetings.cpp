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

using Words = std::vector<std::string>;

constexpr std::uint64_t kDefaultWaitSeconds = 14400;
constexpr auto kPollPause = std::chrono::seconds(2);

constexpr std::array<std::string_view, 6> kRunningStatuses = {
    "recording", "importing", "finalizing", "transcribing", "processingNotes", "generatingTitle"};

// A member of a record as a Json of its own; null when absent or when
// `record` is not an object.
Json member(const JsonNode& record, std::string_view key) {
  const auto value = record.find(key);
  return value ? value->to_json() : Json(nullptr);
}

// A string member's text; empty when absent or no string.
std::string_view string_member(const JsonNode& record, std::string_view key) {
  const auto value = record.find(key);
  return value ? value->string() : "";
}

Json text_or_null(const std::string* text) { return text ? Json(*text) : Json(nullptr); }

// The record stays as read: its users take only the members they need.
Result<JsonTape> get_meeting(const CliOptions& options, const std::string& id) {
  return app_link::call_tape(options.launch(), "get_meeting", Json{{"id", id}}, false);
}

// Prints the result as it comes, except that a meeting record (an object
// with a `transcript`) is printed as its summary.
Status send_and_print_meeting(const CliOptions& options, std::string_view command, Json args) {
  TRY(const JsonTape result,
      app_link::call_tape(options.launch(), command, std::move(args), options.detach));
  const JsonNode value = result.root();
  if (value.is_object() && value.find("transcript")) {
    return print_json(meeting_summary(value));
  }
  return print_json(value);
}

}  // namespace

Status send_for_meeting(const CliOptions& options, const std::string& reference,
                        std::string_view command, bool summarise) {
  TRY(const std::string id, resolve_meeting_id(options, reference));
  return summarise ? send_and_print_meeting(options, command, Json{{"id", id}})
                   : send_and_print(options, command, Json{{"id", id}});
}

Status print_text_member(const CliOptions& options, const std::string& reference,
                         std::string_view key) {
  TRY(const std::string id, resolve_meeting_id(options, reference));
  TRY(const JsonTape record, get_meeting(options, id));
  std::string text(string_member(record.root(), key));
  text += '\n';
  return print_text(text);
}

// Reads the meeting, then saves it back with one of its editable members
// replaced; the app's save takes all four.
Status edit_meeting(const CliOptions& options, const std::string& reference, std::string_view key,
                    std::string value) {
  TRY(const std::string id, resolve_meeting_id(options, reference));
  TRY(const JsonTape record, get_meeting(options, id));
  Json args = Json::object();
  for (std::string_view name : {"id", "title", "transcript", "notes"}) {
    args[std::string(name)] = member(record.root(), name);
  }
  args[std::string(key)] = std::move(value);
  return send_and_print_meeting(options, "save_meeting", std::move(args));
}

Status record(const CliOptions& options, const Words& words) {
  if (words[2] == "start") {
    const std::string* title = options.value("title");
    const std::string* source = options.value("source");
    return send_and_print_meeting(
        options, "start_meeting",
        Json{{"title", title ? *title : ""}, {"source", source ? *source : "both"}});
  }
  return send_and_print_meeting(options, "stop_meeting", Json::object());
}

Status import_media(const CliOptions& options, const Words& words) {
  TRY(const std::string path, absolute_path(words[2]));
  return send_and_print_meeting(options, "import_media", Json{{"path", path}});
}

Status join(const CliOptions& options, const Words& words) {
  Json ids = Json::array();
  for (std::size_t i = 2; i < words.size(); ++i) {
    TRY(std::string id, resolve_meeting_id(options, words[i]));
    ids.push_back(std::move(id));
  }
  return send_and_print_meeting(
      options, "join_meetings",
      Json{{"ids", std::move(ids)}, {"title", text_or_null(options.value("title"))}});
}

Status transcribe(const CliOptions& options, const Words& words) {
  TRY(const std::string id, resolve_meeting_id(options, words[2]));
  return send_and_print_meeting(options, "transcribe_meeting",
                                Json{{"id", id}, {"model", text_or_null(options.value("model"))}});
}

Status rename_speaker(const CliOptions& options, const Words& words) {
  TRY(const std::string id, resolve_meeting_id(options, words[2]));
  return send_and_print_meeting(options, "rename_meeting_speaker",
                                Json{{"id", id}, {"from", words[3]}, {"to", words[4]}});
}

Status labels(const CliOptions& options, const Words& words) {
  TRY(const std::string id, resolve_meeting_id(options, words[2]));
  return send_and_print_meeting(
      options, "set_meeting_speaker_labels",
      Json{{"id", id}, {"enabled", words[3] == "on"}, {"confirmed", options.confirm}});
}

Status generate_notes(const CliOptions& options, const Words& words) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kPresets = {{
      {"summary", "summary"},
      {"tasks", "tasks"},
      {"speakers", "speakers"},
      {"brief", "brief"},
      {"custom", "custom"},
      {"formatted-transcript", "formattedTranscript"},
      {"formattedTranscript", "formattedTranscript"},
  }};
  const std::string* given = options.value("preset");
  const std::string_view wanted = given ? std::string_view(*given) : "summary";
  std::string_view preset;
  for (const auto& [name, sent] : kPresets) {
    if (name == wanted) {
      preset = sent;
    }
  }
  if (preset.empty()) {
    return CliError::usage(
        "--preset is summary, tasks, speakers, brief, formatted-transcript or custom.");
  }
  TRY(const std::string id, resolve_meeting_id(options, words[2]));
  const std::string* instructions = options.value("instructions");
  return send_and_print_meeting(
      options, "generate_notes",
      Json{{"id", id}, {"preset", preset}, {"instructions", instructions ? *instructions : ""}});
}

Status set_text(const CliOptions& options, const Words& words, std::string_view key) {
  TRY(std::string text, read_text_input(options));
  return edit_meeting(options, words[2], key, std::move(text));
}

Status export_meeting(const CliOptions& options, const Words& words) {
  TRY(const std::string path, absolute_path(words[3]));
  TRY(const std::string format, export_format(options, words[3]));
  TRY(const std::string id, resolve_meeting_id(options, words[2]));
  TRY(const JsonTape ignored,
      app_link::call_tape(options.launch(), "export_meeting",
                          Json{{"id", id},
                               {"path", path},
                               {"format", format},
                               {"transcriptVersion", options.cleaned ? "cleaned" : "recognized"}},
                          false));
  return print_json(Json{{"exported", path}, {"format", format}});
}

Status export_audio(const CliOptions& options, const Words& words) {
  TRY(const std::string path, absolute_path(words[3]));
  TRY(const std::string id, resolve_meeting_id(options, words[2]));
  TRY(const JsonTape ignored, app_link::call_tape(options.launch(), "export_meeting_audio",
                                                  Json{{"id", id}, {"path", path}}, false));
  return print_json(Json{{"exported", path}});
}

Status delete_meeting(const CliOptions& options, const Words& words) {
  if (!options.confirm) {
    return CliError::usage("Deleting a meeting removes its audio and transcript. Add --confirm.");
  }
  return send_for_meeting(options, words[2], "delete_meeting", false);
}

Status check_reference(const std::string& reference) {
  if (reference.empty()) {
    return CliError::usage("A meeting reference cannot be empty.");
  }
  return {};
}

Json meeting_summary(const JsonNode& record) {
  Json summary = Json::object();
  for (std::string_view name :
       {"id", "title", "status", "createdAt", "durationSeconds", "source", "transcriptionModel",
        "speakerLabels", "speakerCount", "recognitionCompleteness", "recordingWarnings",
        "recognitionWarnings", "error"}) {
    summary[std::string(name)] = member(record, name);
  }
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
      app_link::call_tape(options.launch(), "list_meetings", Json::object(), false));
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

Result<std::string> export_format(const CliOptions& options, std::string_view path) {
  std::string name;
  if (const std::string* given = options.value("format")) {
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
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kFormats = {{
      {"md", "markdown"},
      {"markdown", "markdown"},
      {"txt", "text"},
      {"text", "text"},
      {"html", "html"},
      {"htm", "html"},
      {"pdf", "pdf"},
      {"wav", "wav"},
      {"audio", "wav"},
  }};
  for (const auto& [given, sent] : kFormats) {
    if (given == name) {
      return std::string(sent);
    }
  }
  return CliError::usage("Unknown export format `" + name + "`. Use md, txt, html, pdf or wav.");
}

Status wait_for_meeting(const CliOptions& options, const std::string& reference) {
  TRY(const std::string id, resolve_meeting_id(options, reference));
  TRY(const std::uint64_t timeout,
      options.count("timeout", kDefaultWaitSeconds, "--timeout is a number of seconds."));
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
