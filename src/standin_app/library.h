#pragma once

// The stand-in app's library: meetings and dictations, as kept in memory
// and in the library file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"
#include "core/result.h"

namespace vellumo::standin {

/// Statuses of a meeting while a job runs on it.
inline constexpr std::string_view kRecording = "recording";
inline constexpr std::string_view kImporting = "importing";
inline constexpr std::string_view kFinalizing = "finalizing";
inline constexpr std::string_view kTranscribing = "transcribing";
inline constexpr std::string_view kProcessingNotes = "processingNotes";
inline constexpr std::string_view kGeneratingTitle = "generatingTitle";
/// Statuses once nothing runs.
inline constexpr std::string_view kReady = "ready";
inline constexpr std::string_view kFailed = "failed";
inline constexpr std::string_view kCancelled = "cancelled";

bool is_running(std::string_view status);

struct Meeting {
  std::string id;
  std::string title;
  std::string status{kReady};
  std::string created_at;
  std::string source;  ///< "both", "microphone", "system", "file" or "joined"
  std::optional<double> duration_seconds;
  std::optional<std::string> transcription_model;
  bool speaker_labels = true;
  std::string transcript;
  std::optional<std::string> cleaned_transcript;
  std::string notes;
  std::optional<double> recognition_completeness;
  std::vector<std::string> recording_warnings;
  std::vector<std::string> recognition_warnings;
  std::optional<std::string> error;
  /// The title was chosen by the app (from the file name or the time), so a
  /// transcription may replace it with one taken from the transcript.
  bool auto_title = true;
  /// The library's own copy of the imported media, and where it came from.
  std::optional<std::string> media_path;
  std::optional<std::string> imported_from;

  /// The number of speakers the transcript names; null when labels are off.
  Json speaker_count() const;
};

/// The full record, as get_meeting answers it and the library file keeps it.
Json meeting_json(const Meeting& meeting);

/// The shorter entry of list_meetings: no texts, their lengths instead.
Json meeting_entry(const Meeting& meeting);

/// Reads a record written by meeting_json; members missing or of the wrong
/// type take their defaults, but the `id` must be a non-empty string.
Result<Meeting, std::string> meeting_from_json(const Json& record);

struct Dictation {
  std::string id;
  std::string created_at;
  double duration_seconds = 0;
  std::string text;
  std::vector<std::string> warnings;
};

Json dictation_json(const Dictation& dictation);
std::optional<Dictation> dictation_from_json(const Json& record);

struct Library {
  /// Oldest first; list_meetings answers them the other way round.
  std::vector<Meeting> meetings;
  /// Oldest first, at most kMaxDictations.
  std::vector<Dictation> dictations;

  Meeting* find(std::string_view id);
};

inline constexpr std::size_t kMaxDictations = 200;

/// The library file's text.
std::string library_text(const Library& library);

/// Reads the library file's text. A job cannot survive the app: a meeting
/// saved in a running status is marked failed with a message that says so.
Result<Library, std::string> library_from_text(std::string_view text);

/// A new meeting or dictation ID: 32 lower-case hex digits.
std::string new_id();

/// The current time in UTC as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string now_text();

/// A time written by now_text as "YYYY-MM-DD HH:MM UTC"; other texts as
/// they are.
std::string readable_time(const std::string& iso);

}  // namespace vellumo::standin
