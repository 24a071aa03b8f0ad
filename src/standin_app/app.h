#pragma once

// The stand-in app: answers every command the CLI sends, keeps the library
// and the settings in its data folder, and runs long jobs (import,
// transcription, notes) on threads of their own, so that a request never
// waits behind a job it did not start.

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/json.h"
#include "core/result.h"
#include "standin_app/commands.h"
#include "standin_app/library.h"
#include "standin_app/transcript.h"
#include "version.h"

namespace vellumo::standin {

/// The version the stand-in reports: the CLI's, marked as the stand-in's.
inline constexpr std::string_view kStandinVersion = VELLUMO_VERSION "-standin";

struct AppConfig {
  /// Holds library.json, settings.json and media/; created by the caller.
  std::string data_folder;
  /// The link it serves, for diagnostics.
  std::string link_path;
  /// How long each step of a long job takes.
  std::chrono::milliseconds pace{1000};
};

class App {
 public:
  explicit App(AppConfig config);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  /// Reads the saved library and settings. A file that cannot be read is
  /// set aside under another name (never overwritten) and the app starts
  /// without it, saying so in get_state's `error`; the error here means
  /// even that failed.
  Result<void, std::string> load();

  /// Answers one request line with one reply line (line feed included).
  /// Safe to call from several threads at once; blocks while a job that
  /// was not detached runs.
  std::string answer(std::string_view line);

  /// The command table: one row per command, in the order `commands`
  /// lists them.
  static std::span<const CommandSpec> command_table();
  /// The row of `command`; nullptr when the app has no such command.
  static const CommandSpec* find_command(std::string_view command);
  /// The `commands` reply: [{"name": ..., "args": [names]}, ...].
  static Json commands_json();

  /// Set once quit_app has been answered or quit() called.
  bool quitting() const;
  /// Asks the app to end: every job is told to stop.
  void quit();
  /// Stops every job and waits for it, ends a recording and a dictation,
  /// and saves. Call once, after the last answer.
  void shutdown();

 private:
  using Reply = Result<Json, std::string>;
  struct Job;
  using Lock = std::unique_lock<std::mutex>;
  Reply dispatch(std::string_view command, const Json& args, bool detach);

  Reply get_state(Lock& lock, const Json& args, bool detach);
  Reply save_settings(Lock& lock, const Json& args, bool detach);
  Reply list_meetings(Lock& lock, const Json& args, bool detach);
  Reply get_meeting(Lock& lock, const Json& args, bool detach);
  Reply save_meeting(Lock& lock, const Json& args, bool detach);
  Reply start_meeting(Lock& lock, const Json& args, bool detach);
  Reply stop_meeting(Lock& lock, const Json& args, bool detach);
  Reply import_media(Lock& lock, const Json& args, bool detach);
  Reply join_meetings(Lock& lock, const Json& args, bool detach);
  Reply transcribe_meeting(Lock& lock, const Json& args, bool detach);
  Reply cancel_meeting(Lock& lock, const Json& args, bool detach);
  Reply meeting_speakers(Lock& lock, const Json& args, bool detach);
  Reply rename_meeting_speaker(Lock& lock, const Json& args, bool detach);
  Reply set_meeting_speaker_labels(Lock& lock, const Json& args, bool detach);
  Reply clean_meeting(Lock& lock, const Json& args, bool detach);
  Reply generate_notes(Lock& lock, const Json& args, bool detach);
  Reply export_meeting(Lock& lock, const Json& args, bool detach);
  Reply export_meeting_audio(Lock& lock, const Json& args, bool detach);
  Reply delete_meeting(Lock& lock, const Json& args, bool detach);
  Reply start_dictation(Lock& lock, const Json& args, bool detach);
  Reply stop_dictation(Lock& lock, const Json& args, bool detach);
  Reply cancel_dictation(Lock& lock, const Json& args, bool detach);
  Reply list_dictations(Lock& lock, const Json& args, bool detach);
  Reply copy_last_dictation(Lock& lock, const Json& args, bool detach);
  Reply quit_app(Lock& lock, const Json& args, bool detach);
  Reply get_model_library(Lock& lock, const Json& args, bool detach);
  Reply get_ai_settings(Lock& lock, const Json& args, bool detach);
  Reply get_vocabulary(Lock& lock, const Json& args, bool detach);
  Reply get_diagnostics(Lock& lock, const Json& args, bool detach);
  Reply commands(Lock& lock, const Json& args, bool detach);
  Reply get_snapshot(Lock& lock, const Json& args, bool detach);
  Reply ping(Lock& lock, const Json& args, bool detach);
  Reply show_page(Lock& lock, const Json& args, bool detach);

  // The rest runs with the lock held.
  Json state_json() const;
  Json meetings_json() const;
  Result<Meeting*, std::string> find_meeting(const std::string& id);
  Result<void, std::string> save_library(const Library& next);
  /// Edits a copy of the library and saves it; the library in memory takes
  /// the change only once the file is written.
  template <class Edit>
  Result<void, std::string> save(Edit&& edit);
  /// Edits one meeting and saves; when saving fails the change is kept in
  /// memory anyway and get_state reports the failure (for jobs, which go
  /// on without the disk).
  template <class Edit>
  void record(const std::string& id, Edit&& edit);
  /// Like save, for one meeting that must exist and have no job running;
  /// answers with the changed record.
  template <class Edit>
  Reply edit_idle_meeting(const std::string& id, Edit&& edit);

  /// Runs `work` on a thread of its own for the meeting `id`, whose running
  /// status the caller has saved. Detached: answers at once with the
  /// record; otherwise once the job has ended, with an error when it failed
  /// or was cancelled.
  template <class Work>
  Reply start_job(Lock& lock, const std::string& id, bool detach, std::string_view what,
                  Work&& work);
  /// Waits `steps` steps of the pace; false when the job was cancelled.
  bool pause(Lock& lock, Job& job, int steps);
  /// Moves the job's meeting into `status`; false when it was cancelled.
  bool advance(Lock& lock, Job& job, std::string_view status);
  void end_job(Lock& lock, Job& job, std::string_view status, std::optional<std::string> error);
  void join_ended_jobs(Lock& lock);

  void run_import(Lock& lock, Job& job, const std::string& source);
  void run_transcription(Lock& lock, Job& job, const std::string& model);
  void run_notes(Lock& lock, Job& job, NotesPreset preset);
  void run_finalizing(Lock& lock, Job& job);

  std::string media_folder() const;
  /// Copies the meeting's media, when it is WAV, to `path`; the lock is
  /// let go while copying.
  Reply write_audio(Lock& lock, const Meeting& meeting, const std::string& path);

  const AppConfig config_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Library library_;
  Json settings_;
  std::optional<std::string> problem_;
  bool quitting_ = false;
  std::optional<std::string> recording_id_;
  std::chrono::steady_clock::time_point recording_started_;
  std::optional<std::chrono::steady_clock::time_point> dictation_started_;
  std::string dictation_created_at_;
  std::map<std::string, std::shared_ptr<Job>, std::less<>> jobs_;
  std::vector<std::shared_ptr<Job>> ended_jobs_;
};

}  // namespace vellumo::standin
