#include "standin_app/library.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>

#include "core/utf8.h"
#include "standin_app/transcript.h"

namespace vellumo::standin {
namespace {

constexpr std::array<std::string_view, 6> kRunning = {
    kRecording, kImporting, kFinalizing, kTranscribing, kProcessingNotes, kGeneratingTitle};

Json optional_json(const auto& value) { return value ? Json(*value) : Json(nullptr); }

std::string text_of(const Json& record, const char* name, std::string fallback = {}) {
  auto it = record.find(name);
  return it != record.end() && it->is_string() ? it->get<std::string>() : fallback;
}

std::optional<std::string> optional_text_of(const Json& record, const char* name) {
  auto it = record.find(name);
  return it != record.end() && it->is_string() ? std::optional(it->get<std::string>())
                                               : std::nullopt;
}

std::optional<double> number_of(const Json& record, const char* name) {
  auto it = record.find(name);
  return it != record.end() && it->is_number() ? std::optional(it->get<double>()) : std::nullopt;
}

bool flag_of(const Json& record, const char* name, bool fallback) {
  auto it = record.find(name);
  return it != record.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

std::vector<std::string> texts_of(const Json& record, const char* name) {
  std::vector<std::string> out;
  auto it = record.find(name);
  if (it != record.end() && it->is_array()) {
    for (const Json& item : *it) {
      if (item.is_string()) {
        out.push_back(item.get<std::string>());
      }
    }
  }
  return out;
}

}  // namespace

bool is_running(std::string_view status) {
  return std::find(kRunning.begin(), kRunning.end(), status) != kRunning.end();
}

Json Meeting::speaker_count() const {
  return speaker_labels ? Json(speakers_of(transcript).size()) : Json(nullptr);
}

namespace {

// The members a meeting's record and its list entry share, with `more`.
Json meeting_members(const Meeting& m, const Json& more) {
  Json members{
      {"id", m.id},
      {"title", m.title},
      {"status", m.status},
      {"createdAt", m.created_at},
      {"durationSeconds", optional_json(m.duration_seconds)},
      {"source", m.source},
      {"speakerCount", m.speaker_count()},
      {"error", optional_json(m.error)},
  };
  members.update(more);
  return members;
}

}  // namespace

Json meeting_json(const Meeting& m) {
  return meeting_members(m,
                         Json{
                             {"transcriptionModel", optional_json(m.transcription_model)},
                             {"speakerLabels", m.speaker_labels},
                             {"transcript", m.transcript},
                             {"cleanedTranscript", optional_json(m.cleaned_transcript)},
                             {"notes", m.notes},
                             {"recognitionCompleteness", optional_json(m.recognition_completeness)},
                             {"recordingWarnings", m.recording_warnings},
                             {"recognitionWarnings", m.recognition_warnings},
                             {"autoTitle", m.auto_title},
                             {"mediaPath", optional_json(m.media_path)},
                             {"importedFrom", optional_json(m.imported_from)},
                         });
}

Json meeting_entry(const Meeting& m) {
  return meeting_members(m, Json{
                                {"transcriptChars", count_characters(m.transcript)},
                                {"notesChars", count_characters(m.notes)},
                            });
}

Result<Meeting, std::string> meeting_from_json(const Json& record) {
  if (!record.is_object()) {
    return Err{std::string("a meeting is not an object")};
  }
  Meeting m;
  m.id = text_of(record, "id");
  if (m.id.empty()) {
    return Err{std::string("a meeting has no ID")};
  }
  m.title = text_of(record, "title");
  m.status = text_of(record, "status", std::string(kReady));
  m.created_at = text_of(record, "createdAt");
  m.source = text_of(record, "source");
  m.duration_seconds = number_of(record, "durationSeconds");
  m.transcription_model = optional_text_of(record, "transcriptionModel");
  m.speaker_labels = flag_of(record, "speakerLabels", true);
  m.transcript = text_of(record, "transcript");
  m.cleaned_transcript = optional_text_of(record, "cleanedTranscript");
  m.notes = text_of(record, "notes");
  m.recognition_completeness = number_of(record, "recognitionCompleteness");
  m.recording_warnings = texts_of(record, "recordingWarnings");
  m.recognition_warnings = texts_of(record, "recognitionWarnings");
  m.error = optional_text_of(record, "error");
  m.auto_title = flag_of(record, "autoTitle", false);
  m.media_path = optional_text_of(record, "mediaPath");
  m.imported_from = optional_text_of(record, "importedFrom");
  return m;
}

Json dictation_json(const Dictation& d) {
  return Json{{"id", d.id},
              {"createdAt", d.created_at},
              {"durationSeconds", d.duration_seconds},
              {"text", d.text},
              {"warnings", d.warnings}};
}

std::optional<Dictation> dictation_from_json(const Json& record) {
  if (!record.is_object() || text_of(record, "id").empty()) {
    return std::nullopt;
  }
  return Dictation{text_of(record, "id"), text_of(record, "createdAt"),
                   number_of(record, "durationSeconds").value_or(0), text_of(record, "text"),
                   texts_of(record, "warnings")};
}

Meeting* Library::find(std::string_view id) {
  for (Meeting& m : meetings) {
    if (m.id == id) {
      return &m;
    }
  }
  return nullptr;
}

std::string library_text(const Library& library) {
  Json meetings = Json::array();
  for (const Meeting& m : library.meetings) {
    meetings.push_back(meeting_json(m));
  }
  Json dictations = Json::array();
  for (const Dictation& d : library.dictations) {
    dictations.push_back(dictation_json(d));
  }
  std::string text;
  write_json_pretty(text, Json{{"version", 1}, {"meetings", meetings}, {"dictations", dictations}});
  text += '\n';
  return text;
}

Result<Library, std::string> library_from_text(std::string_view text) {
  auto parsed = parse_json(text);
  if (!parsed) {
    return Err{"it is not JSON: " + parsed.error()};
  }
  const Json& root = *parsed;
  if (!root.is_object() || !root.contains("meetings") || !root["meetings"].is_array()) {
    return Err{std::string("it has no list of meetings")};
  }
  Library library;
  std::set<std::string> ids;
  for (const Json& record : root["meetings"]) {
    TRY(Meeting m, meeting_from_json(record));
    if (!ids.insert(m.id).second) {
      return Err{"the meeting " + m.id + " appears twice"};
    }
    if (is_running(m.status)) {
      m.error = "Vellumo stopped while this meeting was " + m.status + ".";
      m.status = kFailed;
    }
    library.meetings.push_back(std::move(m));
  }
  if (auto it = root.find("dictations"); it != root.end() && it->is_array()) {
    for (const Json& record : *it) {
      if (auto d = dictation_from_json(record)) {
        library.dictations.push_back(std::move(*d));
      }
    }
  }
  return library;
}

std::string new_id() {
  static std::mutex mutex;
  static std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{
        device(), device(), device(), device(),
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count())};
    return std::mt19937_64(seed);
  }();
  std::lock_guard lock(mutex);
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(engine()),
                static_cast<unsigned long long>(engine()));
  return text;
}

std::string now_text() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()),
                int(time.subseconds().count()));
  return text;
}

std::string readable_time(const std::string& iso) {
  return iso.size() >= 16 ? iso.substr(0, 10) + " " + iso.substr(11, 5) + " UTC" : iso;
}

}  // namespace vellumo::standin
