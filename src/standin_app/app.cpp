#include "standin_app/app.h"

#include <algorithm>
#include <array>
#include <system_error>
#include <type_traits>

#include "cli/texts.h"
#include "platform/files.h"
#include "core/paths.h"
#include "platform/platform.h"
#include "standin_app/commands.h"
#include "standin_app/export.h"
#include "standin_app/settings.h"
#include "standin_app/system.h"

namespace vellumo::standin {


struct App::Job {
  std::string meeting_id;
  std::string what;  ///< "import", "transcription", ... for messages
  bool cancel = false;
  bool done = false;
  std::thread thread;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxTranscriptFileBytes = std::size_t{16} << 20;
constexpr std::size_t kSnapshotDictations = 5;
constexpr std::uint64_t kDefaultDictationLimit = 20;

constexpr std::string_view kNoSound =
    "The stand-in app records no sound: this meeting has no audio.";
constexpr std::string_view kNoSpeech = "The stand-in app does not recognise speech";
constexpr std::array<std::string_view, 3> kSources = {"both", "microphone", "system"};
// The stand-in's own pages; those the CLI's usage text offers are pages too.
constexpr std::array<std::string_view, 8> kOwnPages = {
    "dictation", "meetings", "history", "settings", "models", "vocabulary", "ai", "diagnostics"};

const std::vector<std::string_view>& pages() {
  static const std::vector<std::string_view> all = [] {
    std::vector<std::string_view> names(kOwnPages.begin(), kOwnPages.end());
    for (std::string_view page : kUsagePages) {
      if (std::find(names.begin(), names.end(), page) == names.end()) {
        names.push_back(page);
      }
    }
    return names;
  }();
  return all;
}

std::string text_arg(const Json& args, const char* name) {
  return args.at(name).get<std::string>();
}

double seconds_since(Clock::time_point start) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return static_cast<double>(ms.count()) / 1000.0;
}

std::string join_texts(const std::vector<std::string>& texts, std::string_view separator) {
  std::string out;
  for (const std::string& text : texts) {
    if (!text.empty()) {
      out += out.empty() ? "" : std::string(separator);
      out += text;
    }
  }
  return out;
}

// Why nothing may change a meeting now, or nullopt when it is idle.
std::optional<std::string> busy_reason(const Meeting& m) {
  if (m.status == kRecording) {
    return "Meeting " + m.id + " is being recorded; stop the recording first.";
  }
  if (is_running(m.status)) {
    return "Meeting " + m.id + " is busy (" + m.status + "); wait for it or cancel it.";
  }
  return std::nullopt;
}

// Where the last component of `path` starts.
std::size_t name_start(std::string_view path) {
  std::size_t at = path.size();
  while (at > 0 && !is_separator(path[at - 1], platform::kPathStyle)) {
    --at;
  }
  return at;
}

// The extension of the file name, with its dot, when it is a short run of
// letters and digits (it names the library's copy); empty otherwise.
std::string media_extension(std::string_view path) {
  const std::string_view name = path.substr(name_start(path));
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > 12) {
    return {};
  }
  std::string ext(name.substr(dot));
  for (std::size_t i = 1; i < ext.size(); ++i) {
    char& c = ext[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      return {};
    }
  }
  return ext.size() > 1 ? ext : std::string();
}

// The file name without its extension: the title of an imported meeting.
std::string stem_of(std::string_view path) {
  std::string_view name = path.substr(name_start(path));
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    name = name.substr(0, dot);
  }
  return std::string(name);
}

// The transcript file that goes with a media file: same folder and name,
// extension .txt.
std::string transcript_file_of(std::string_view media) {
  const std::size_t start = name_start(media);
  const std::size_t dot = media.rfind('.');
  const std::size_t end = dot != std::string_view::npos && dot > start ? dot : media.size();
  return std::string(media.substr(0, end)) + ".txt";
}

struct TranscriptFile {
  std::string path;
  std::string text;
};

// The first of `candidates` that exists, read and checked; nullopt when
// none does.
Result<std::optional<TranscriptFile>, std::string> read_transcript_file(
    const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    TRY(const files::FileFacts facts, files::inspect(path));
    if (!facts.exists || facts.folder) {
      continue;
    }
    if (facts.size > kMaxTranscriptFileBytes) {
      return Err{"The transcript file " + path + " is larger than 16 MiB."};
    }
    auto bytes = files::read_head(path, kMaxTranscriptFileBytes + 1);
    if (!bytes) {
      return Err{"Cannot read the transcript file " + path + ": " + bytes.error()};
    }
    auto text = transcript_from_file(*bytes);
    if (!text) {
      return Err{"Cannot use the transcript file " + path + ": " + text.error() + "."};
    }
    return std::optional(TranscriptFile{path, std::move(text).value()});
  }
  return std::optional<TranscriptFile>();
}

Result<std::string, std::string> absolute_path_arg(const Json& args, const char* name) {
  std::string path = text_arg(args, name);
  if (!is_absolute_path(path, platform::kPathStyle)) {
    return Err{"The path must be absolute: " + path};
  }
  return path;
}

// `result` with `prefix` put before its error.
template <class T>
Result<T, std::string> prefixed(Result<T, std::string> result, const std::string& prefix) {
  if (!result) {
    if constexpr (std::is_void_v<T>) {
      return prefix + result.error();
    } else {
      return Err{prefix + result.error()};
    }
  }
  return result;
}

// A time that can be part of a file name: "20240501T120000Z".
std::string file_time(const std::string& iso) {
  std::string out;
  for (char c : iso.substr(0, 19)) {
    if (c != '-' && c != ':') {
      out += c;
    }
  }
  return out + "Z";
}

}  // namespace

App::App(AppConfig config) : config_(std::move(config)), settings_(default_settings()) {}

App::~App() {
  Lock lock(mutex_);
  for (auto& [id, job] : jobs_) {
    job->cancel = true;
  }
  changed_.notify_all();
  changed_.wait(lock, [&] { return jobs_.empty(); });
  join_ended_jobs(lock);
}

std::string App::media_folder() const { return files::join(config_.data_folder, "media"); }

// ---------------------------------------------------------------------------
// Saved state

Result<void, std::string> App::load() {
  Lock lock(mutex_);
  std::vector<std::string> problems;
  // A file that cannot be read is moved aside, never overwritten.
  auto set_aside = [&](const std::string& path,
                       const std::string& why) -> Result<void, std::string> {
    const std::string aside = path + ".unreadable-" + file_time(now_text());
    if (auto moved = files::rename_replacing(path, aside); !moved) {
      return "Cannot read " + path + " (" + why + "), nor set it aside: " + moved.error();
    }
    problems.push_back("Could not read " + path + " (" + why + "); it was set aside as " + aside +
                       ".");
    return {};
  };

  const std::string library_path = files::join(config_.data_folder, "library.json");
  auto library_bytes = files::read_whole_file(library_path);
  if (!library_bytes) {
    TRY_STATUS(set_aside(library_path, library_bytes.error()));
  } else if (*library_bytes) {
    auto library = library_from_text(**library_bytes);
    if (library) {
      library_ = std::move(library).value();
    } else {
      TRY_STATUS(set_aside(library_path, library.error()));
    }
  }

  const std::string settings_path = files::join(config_.data_folder, "settings.json");
  auto settings_bytes = files::read_whole_file(settings_path);
  if (!settings_bytes) {
    TRY_STATUS(set_aside(settings_path, settings_bytes.error()));
  } else if (*settings_bytes) {
    auto saved = parse_json(**settings_bytes);
    if (saved && saved->is_object()) {
      settings_ = settings_from_saved(*saved);
    } else {
      TRY_STATUS(set_aside(settings_path, saved ? "it is not a JSON object" : saved.error()));
    }
  }
  if (!problems.empty()) {
    problem_ = join_texts(problems, " ");
  }
  // Meetings that were running when the app last stopped are marked failed
  // by the reader; keep that on disk too.
  return save_library(library_);
}

Result<void, std::string> App::save_library(const Library& next) {
  return files::write_file_replacing(files::join(config_.data_folder, "library.json"),
                                     library_text(next));
}

template <class Edit>
Result<void, std::string> App::save(Edit&& edit) {
  Library next = library_;
  TRY_STATUS(edit(next));
  TRY_STATUS(save_library(next));
  library_ = std::move(next);
  return {};
}

template <class Edit>
void App::record(const std::string& id, Edit&& edit) {
  auto saved = save([&](Library& next) -> Result<void, std::string> {
    if (Meeting* m = next.find(id)) {
      edit(*m);
    }
    return {};
  });
  if (!saved) {
    // A job goes on without the disk; get_state tells.
    problem_ = saved.error();
    if (Meeting* m = library_.find(id)) {
      edit(*m);
    }
  }
}

Result<Meeting*, std::string> App::find_meeting(const std::string& id) {
  if (Meeting* m = library_.find(id)) {
    return m;
  }
  return Err{"No meeting has the ID `" + id + "`."};
}

template <class Edit>
App::Reply App::edit_idle_meeting(const std::string& id, Edit&& edit) {
  TRY(const Meeting* current, find_meeting(id));
  if (auto why = busy_reason(*current)) {
    return Err{*why};
  }
  TRY_STATUS(save([&](Library& next) { return edit(*next.find(id)); }));
  return meeting_json(*library_.find(id));
}

// ---------------------------------------------------------------------------
// Requests

std::string App::answer(std::string_view line) {
  auto request = parse_request(line);
  if (!request) {
    return reply_line(Reply(Err{request.error()}));
  }
  return reply_line(dispatch(request->command, request->args, request->detach));
}

bool App::handles(std::string_view command) { return handler_of(command) != nullptr; }

App::Handler App::handler_of(std::string_view command) {
  static const std::map<std::string_view, Handler, std::less<>> kHandlers = {
      {"get_state", &App::get_state},
      {"save_settings", &App::save_settings},
      {"list_meetings", &App::list_meetings},
      {"get_meeting", &App::get_meeting},
      {"save_meeting", &App::save_meeting},
      {"start_meeting", &App::start_meeting},
      {"stop_meeting", &App::stop_meeting},
      {"import_media", &App::import_media},
      {"join_meetings", &App::join_meetings},
      {"transcribe_meeting", &App::transcribe_meeting},
      {"cancel_meeting", &App::cancel_meeting},
      {"meeting_speakers", &App::meeting_speakers},
      {"rename_meeting_speaker", &App::rename_meeting_speaker},
      {"set_meeting_speaker_labels", &App::set_meeting_speaker_labels},
      {"clean_meeting", &App::clean_meeting},
      {"generate_notes", &App::generate_notes},
      {"export_meeting", &App::export_meeting},
      {"export_meeting_audio", &App::export_meeting_audio},
      {"delete_meeting", &App::delete_meeting},
      {"start_dictation", &App::start_dictation},
      {"stop_dictation", &App::stop_dictation},
      {"cancel_dictation", &App::cancel_dictation},
      {"list_dictations", &App::list_dictations},
      {"copy_last_dictation", &App::copy_last_dictation},
      {"quit_app", &App::quit_app},
      {"get_model_library", &App::get_model_library},
      {"get_ai_settings", &App::get_ai_settings},
      {"get_vocabulary", &App::get_vocabulary},
      {"get_diagnostics", &App::get_diagnostics},
      {"commands", &App::commands},
      {"get_snapshot", &App::get_snapshot},
      {"ping", &App::ping},
      {"show_page", &App::show_page},
  };
  auto it = kHandlers.find(command);
  return it == kHandlers.end() ? nullptr : it->second;
}

App::Reply App::dispatch(std::string_view command, const Json& args, bool detach) {
  const CommandSpec* command_info = find_command(command);
  const Handler handler = handler_of(command);
  if (!command_info || !handler) {
    return Err{"Unknown command: " + std::string(command)};
  }
  TRY(const Json checked, check_args(*command_info, args));
  Lock lock(mutex_);
  if (quitting_) {
    return Err{std::string("Vellumo is quitting.")};
  }
  try {
    return (this->*handler)(lock, checked, detach);
  } catch (const std::exception& e) {
    // Out of memory or out of threads; the request fails, the app goes on.
    return Err{"The stand-in app could not do " + std::string(command) + ": " + e.what()};
  }
}

bool App::quitting() const {
  Lock lock(mutex_);
  return quitting_;
}

void App::quit() {
  Lock lock(mutex_);
  quitting_ = true;
  for (auto& [id, job] : jobs_) {
    job->cancel = true;
  }
  changed_.notify_all();
}

void App::shutdown() {
  quit();
  Lock lock(mutex_);
  changed_.wait(lock, [&] { return jobs_.empty(); });
  join_ended_jobs(lock);
  if (recording_id_) {
    const double length = seconds_since(recording_started_);
    record(*recording_id_, [&](Meeting& m) {
      m.status = kReady;
      m.duration_seconds = length;
    });
    recording_id_.reset();
  }
  dictation_started_.reset();
}

// ---------------------------------------------------------------------------
// State and settings

Json App::state_json() const {
  const char* state = recording_id_ ? "recording" : dictation_started_ ? "dictating" : "idle";
  return Json{
      {"version", kStandinVersion},
      {"standIn", true},
      {"state", state},
      {"meetingRecording", recording_id_.has_value()},
      {"activeMeetingId", recording_id_ ? Json(*recording_id_) : Json(nullptr)},
      {"error", problem_ ? Json(*problem_) : Json(nullptr)},
      {"settings", settings_},
      {"runningJobs", jobs_.size()},
  };
}

Json App::meetings_json() const {
  Json list = Json::array();
  for (auto it = library_.meetings.rbegin(); it != library_.meetings.rend(); ++it) {
    list.push_back(meeting_entry(*it));
  }
  return list;
}

App::Reply App::get_state(Lock&, const Json&, bool) { return state_json(); }

App::Reply App::save_settings(Lock&, const Json& args, bool) {
  TRY(Json next, apply_settings(settings_, args.at("settings")));
  std::string text;
  write_json_pretty(text, next);
  text += '\n';
  TRY_STATUS(files::write_file_replacing(files::join(config_.data_folder, "settings.json"), text));
  settings_ = std::move(next);
  return Json{{"settings", settings_}};
}

App::Reply App::get_model_library(Lock&, const Json&, bool) { return model_library(); }

App::Reply App::get_ai_settings(Lock&, const Json&, bool) {
  return Json{{"provider", nullptr},
              {"notesModel", settings_.at("notesModel")},
              {"note",
               "The stand-in app has no AI provider: its notes are taken from the transcript's own "
               "lines."}};
}

App::Reply App::get_vocabulary(Lock&, const Json&, bool) {
  return Json{{"words", settings_.at("vocabulary")}};
}

App::Reply App::get_diagnostics(Lock&, const Json&, bool) {
  Json jobs = Json::array();
  for (const auto& [id, job] : jobs_) {
    jobs.push_back(Json{{"meetingId", id}, {"job", job->what}});
  }
  return Json{
      {"app", "Vellumo stand-in app"},
      {"version", kStandinVersion},
      {"processId", sys::process_id()},
      {"dataFolder", config_.data_folder},
      {"link", config_.link_path},
      {"paceMs", config_.pace.count()},
      {"uptimeSeconds", seconds_since(started_)},
      {"meetings", library_.meetings.size()},
      {"dictations", library_.dictations.size()},
      {"runningJobs", std::move(jobs)},
      {"soundRecording", false},
      {"speechRecognition", false},
      {"problem", problem_ ? Json(*problem_) : Json(nullptr)},
  };
}

App::Reply App::commands(Lock&, const Json&, bool) { return commands_json(); }

App::Reply App::get_snapshot(Lock&, const Json&, bool) {
  Json dictations = Json::array();
  const auto& all = library_.dictations;
  for (std::size_t i = 0; i < all.size() && i < kSnapshotDictations; ++i) {
    dictations.push_back(dictation_json(all[all.size() - 1 - i]));
  }
  return Json{{"state", state_json()}, {"meetings", meetings_json()}, {"dictations", dictations}};
}

App::Reply App::ping(Lock&, const Json&, bool) { return Json("pong"); }

App::Reply App::show_page(Lock&, const Json& args, bool) {
  const std::string page = text_arg(args, "page");
  if (std::find(pages().begin(), pages().end(), page) == pages().end()) {
    std::string names;
    for (std::string_view name : pages()) {
      names += names.empty() ? "" : ", ";
      names += name;
    }
    return Err{"Unknown page `" + page + "`; the pages are " + names + "."};
  }
  return Json{
      {"page", page}, {"shown", false}, {"note", "The stand-in app has no windows to show."}};
}

App::Reply App::quit_app(Lock&, const Json&, bool) {
  quitting_ = true;
  for (auto& [id, job] : jobs_) {
    job->cancel = true;
  }
  changed_.notify_all();
  return Json{{"quitting", true}};
}

// ---------------------------------------------------------------------------
// Meetings

App::Reply App::list_meetings(Lock&, const Json&, bool) { return meetings_json(); }

App::Reply App::get_meeting(Lock&, const Json& args, bool) {
  TRY(const Meeting* m, find_meeting(text_arg(args, "id")));
  return meeting_json(*m);
}

App::Reply App::save_meeting(Lock&, const Json& args, bool) {
  const auto title = optional_text(args, "title");
  const auto transcript = optional_text(args, "transcript");
  const auto notes = optional_text(args, "notes");
  if (title && title->find_first_not_of(" \t\r\n") == std::string::npos) {
    return Err{std::string("A meeting's title cannot be empty.")};
  }
  return edit_idle_meeting(text_arg(args, "id"), [&](Meeting& m) -> Result<void, std::string> {
    if (title && *title != m.title) {
      m.title = *title;
      m.auto_title = false;
    }
    if (transcript && *transcript != m.transcript) {
      m.transcript = *transcript;
      m.cleaned_transcript.reset();
    }
    if (notes) {
      m.notes = *notes;
    }
    return {};
  });
}

App::Reply App::start_meeting(Lock&, const Json& args, bool) {
  if (recording_id_) {
    return Err{"Meeting " + *recording_id_ + " is being recorded already; stop it first."};
  }
  const std::string source = optional_text(args, "source").value_or("both");
  if (std::find(kSources.begin(), kSources.end(), source) == kSources.end()) {
    return Err{"The source must be both, microphone or system, not `" + source + "`."};
  }
  Meeting m;
  m.id = new_id();
  m.created_at = now_text();
  m.title = optional_text(args, "title").value_or("");
  m.auto_title = m.title.find_first_not_of(" \t\r\n") == std::string::npos;
  if (m.auto_title) {
    m.title = "Meeting " + readable_time(m.created_at);
  }
  m.status = kRecording;
  m.source = source;
  m.speaker_labels = settings_.at("meetingSpeakerLabels").get<bool>();
  m.recording_warnings = {std::string(kNoSound)};
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.meetings.push_back(m);
    return {};
  }));
  recording_id_ = m.id;
  recording_started_ = Clock::now();
  return meeting_json(m);
}

App::Reply App::stop_meeting(Lock& lock, const Json&, bool detach) {
  if (!recording_id_) {
    return Err{std::string("No meeting is being recorded.")};
  }
  const std::string id = *recording_id_;
  const double length = seconds_since(recording_started_);
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    Meeting* m = next.find(id);
    m->status = kFinalizing;
    m->duration_seconds = length;
    return {};
  }));
  recording_id_.reset();
  return start_job(lock, id, detach, "recording",
                   [this](Lock& l, Job& job) { run_finalizing(l, job); });
}

App::Reply App::import_media(Lock& lock, const Json& args, bool detach) {
  TRY(const std::string path, absolute_path_arg(args, "path"));
  TRY(const files::FileFacts facts, prefixed(files::inspect(path), "Cannot import " + path + ": "));
  if (facts.folder) {
    return Err{"Cannot import " + path + ": it is a folder."};
  }
  if (auto opened = files::read_head(path, 0); !opened) {
    return Err{"Cannot import " + path + ": " + opened.error()};
  }
  Meeting m;
  m.id = new_id();
  m.created_at = now_text();
  m.title = stem_of(path);
  m.status = kImporting;
  m.source = "file";
  m.speaker_labels = settings_.at("meetingSpeakerLabels").get<bool>();
  m.imported_from = path;
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.meetings.push_back(m);
    return {};
  }));
  return start_job(lock, m.id, detach, "import",
                   [this, path](Lock& l, Job& job) { run_import(l, job, path); });
}

App::Reply App::join_meetings(Lock&, const Json& args, bool) {
  const auto ids = args.at("ids").get<std::vector<std::string>>();
  if (ids.size() < 2) {
    return Err{std::string("Joining needs at least two meetings.")};
  }
  std::vector<const Meeting*> parts;
  for (const std::string& id : ids) {
    TRY(const Meeting* m, find_meeting(id));
    if (std::find(parts.begin(), parts.end(), m) != parts.end()) {
      return Err{"Meeting " + id + " is named twice."};
    }
    if (auto why = busy_reason(*m)) {
      return Err{*why};
    }
    parts.push_back(m);
  }
  Meeting joined;
  joined.id = new_id();
  joined.created_at = now_text();
  joined.source = "joined";
  joined.auto_title = false;
  joined.title = optional_text(args, "title").value_or(parts.front()->title + " (joined)");
  std::vector<std::string> transcripts;
  std::vector<std::string> notes;
  double length = 0;
  bool length_known = true;
  for (const Meeting* m : parts) {
    transcripts.push_back(m->transcript);
    notes.push_back(m->notes);
    joined.speaker_labels = joined.speaker_labels && m->speaker_labels;
    length_known = length_known && m->duration_seconds.has_value();
    length += m->duration_seconds.value_or(0);
  }
  joined.transcript = join_texts(transcripts, "\n\n");
  joined.notes = join_texts(notes, "\n\n");
  if (length_known) {
    joined.duration_seconds = length;
  }
  joined.recording_warnings = {"Joined from " + std::to_string(parts.size()) +
                               " meetings; the stand-in app joins their transcripts and notes, "
                               "not their audio."};
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.meetings.push_back(joined);
    return {};
  }));
  return meeting_json(joined);
}

App::Reply App::transcribe_meeting(Lock& lock, const Json& args, bool detach) {
  const std::string id = text_arg(args, "id");
  TRY(const Meeting* m, find_meeting(id));
  if (auto why = busy_reason(*m)) {
    return Err{*why};
  }
  if (!m->media_path) {
    return Err{"Meeting " + id + " has no audio to transcribe."};
  }
  std::string model = optional_text(args, "model").value_or("");
  if (model.empty()) {
    model = settings_.at("meetingAsrModel").get<std::string>();
  }
  if (model.empty()) {
    model = settings_.at("asrModel").get<std::string>();
  }
  if (model != kSpeechModel) {
    return Err{"Unknown speech model `" + model + "`; the stand-in app has " +
               std::string(kSpeechModel) + "."};
  }
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.find(id)->status = kTranscribing;
    next.find(id)->error.reset();
    return {};
  }));
  return start_job(lock, id, detach, "transcription",
                   [this, model](Lock& l, Job& job) { run_transcription(l, job, model); });
}

App::Reply App::cancel_meeting(Lock& lock, const Json& args, bool) {
  const std::string id = text_arg(args, "id");
  TRY(const Meeting* m, find_meeting(id));
  auto it = jobs_.find(id);
  if (it == jobs_.end()) {
    if (m->status == kRecording) {
      return Err{"Meeting " + id + " is being recorded; stop the recording instead."};
    }
    return Err{"Nothing is running for meeting " + id + "."};
  }
  const std::shared_ptr<Job> job = it->second;
  job->cancel = true;
  changed_.notify_all();
  changed_.wait(lock, [&] { return job->done; });
  TRY(const Meeting* after, find_meeting(id));
  return meeting_json(*after);
}

App::Reply App::meeting_speakers(Lock&, const Json& args, bool) {
  TRY(const Meeting* m, find_meeting(text_arg(args, "id")));
  Json speakers = Json::array();
  if (m->speaker_labels) {
    for (const SpeakerStats& s : speakers_of(m->transcript)) {
      speakers.push_back(Json{{"name", s.name}, {"lines", s.lines}, {"words", s.words}});
    }
  }
  return Json{{"id", m->id}, {"speakerLabels", m->speaker_labels}, {"speakers", speakers}};
}

App::Reply App::rename_meeting_speaker(Lock&, const Json& args, bool) {
  const std::string id = text_arg(args, "id");
  const std::string from = text_arg(args, "from");
  const std::string to = text_arg(args, "to");
  if (!is_speaker_name(to)) {
    return Err{"`" + to +
               "` cannot name a speaker: use one to four words, at most 40 bytes, without a "
               "colon."};
  }
  return edit_idle_meeting(id, [&](Meeting& m) -> Result<void, std::string> {
    if (!m.speaker_labels) {
      return "Meeting " + id + " has no speaker labels.";
    }
    const auto speakers = speakers_of(m.transcript);
    if (std::none_of(speakers.begin(), speakers.end(),
                     [&](const SpeakerStats& s) { return s.name == from; })) {
      return "Meeting " + id + " has no speaker `" + from + "`.";
    }
    m.transcript = rename_speaker(m.transcript, from, to);
    if (m.cleaned_transcript) {
      m.cleaned_transcript = rename_speaker(*m.cleaned_transcript, from, to);
    }
    return {};
  });
}

App::Reply App::set_meeting_speaker_labels(Lock&, const Json& args, bool) {
  const std::string id = text_arg(args, "id");
  const bool enabled = args.at("enabled").get<bool>();
  const bool confirmed = args.contains("confirmed") && args.at("confirmed").is_boolean() &&
                         args.at("confirmed").get<bool>();
  return edit_idle_meeting(id, [&](Meeting& m) -> Result<void, std::string> {
    if (enabled || !m.speaker_labels) {
      m.speaker_labels = enabled || m.speaker_labels;
      return {};
    }
    if (!confirmed) {
      return "Turning speaker labels off removes the speaker names from the transcript of "
             "meeting " +
             id + "; confirm it to go on (vellumo-cli: --confirm).";
    }
    m.speaker_labels = false;
    m.transcript = strip_speakers(m.transcript);
    if (m.cleaned_transcript) {
      m.cleaned_transcript = strip_speakers(*m.cleaned_transcript);
    }
    return {};
  });
}

App::Reply App::clean_meeting(Lock&, const Json& args, bool) {
  const std::string id = text_arg(args, "id");
  return edit_idle_meeting(id, [&](Meeting& m) -> Result<void, std::string> {
    if (m.transcript.find_first_not_of(" \t\r\n") == std::string::npos) {
      return "Meeting " + id + " has no transcript to clean.";
    }
    m.cleaned_transcript = clean_transcript(m.transcript);
    return {};
  });
}

App::Reply App::generate_notes(Lock& lock, const Json& args, bool detach) {
  const std::string id = text_arg(args, "id");
  const std::string preset_name = optional_text(args, "preset").value_or("summary");
  if (preset_name == "custom") {
    return Err{std::string(
        "The stand-in app has no language model and cannot follow custom instructions; use "
        "summary, tasks, speakers, brief or formattedTranscript.")};
  }
  const auto preset = notes_preset(preset_name);
  if (!preset) {
    return Err{"Unknown notes preset `" + preset_name +
               "`; use summary, tasks, speakers, brief, formattedTranscript or custom."};
  }
  if (!optional_text(args, "instructions").value_or("").empty()) {
    return Err{
        std::string("The stand-in app has no language model and cannot follow instructions.")};
  }
  TRY(const Meeting* m, find_meeting(id));
  if (auto why = busy_reason(*m)) {
    return Err{*why};
  }
  if (m->transcript.find_first_not_of(" \t\r\n") == std::string::npos) {
    return Err{"Meeting " + id + " has no transcript to take notes from."};
  }
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.find(id)->status = kProcessingNotes;
    next.find(id)->error.reset();
    return {};
  }));
  return start_job(lock, id, detach, "notes",
                   [this, p = *preset](Lock& l, Job& job) { run_notes(l, job, p); });
}

App::Reply App::export_meeting(Lock& lock, const Json& args, bool) {
  const std::string id = text_arg(args, "id");
  TRY(const std::string path, absolute_path_arg(args, "path"));
  const std::string format = text_arg(args, "format");
  const std::string version = optional_text(args, "transcriptVersion").value_or("recognized");
  TRY(const Meeting* m, find_meeting(id));
  if (format == "wav") {
    return write_audio(lock, *m, path);
  }
  if (format == "pdf") {
    return Err{std::string("The stand-in app cannot write PDF; export md, txt or html instead.")};
  }
  ExportFormat kind;
  if (format == "markdown") {
    kind = ExportFormat::Markdown;
  } else if (format == "text") {
    kind = ExportFormat::Text;
  } else if (format == "html") {
    kind = ExportFormat::Html;
  } else {
    return Err{"Unknown export format `" + format + "`; use markdown, text, html, pdf or wav."};
  }
  if (version != "recognized" && version != "cleaned") {
    return Err{"The transcript version must be recognized or cleaned, not `" + version + "`."};
  }
  if (version == "cleaned" && !m->cleaned_transcript) {
    return Err{"Meeting " + id + " has no cleaned transcript; clean it first."};
  }
  const std::string document =
      render_export(*m, version == "cleaned" ? *m->cleaned_transcript : m->transcript, kind);
  TRY_STATUS(files::write_file_replacing(path, document));
  return Json{{"exported", path}, {"format", format}, {"bytes", document.size()}};
}

App::Reply App::export_meeting_audio(Lock& lock, const Json& args, bool) {
  TRY(const std::string path, absolute_path_arg(args, "path"));
  TRY(const Meeting* m, find_meeting(text_arg(args, "id")));
  return write_audio(lock, *m, path);
}

App::Reply App::write_audio(Lock& lock, const Meeting& m, const std::string& path) {
  if (!m.media_path) {
    return Err{"Meeting " + m.id + " has no audio to export."};
  }
  const std::string media = *m.media_path;
  const std::string id = m.id;
  // Copying may take a while: other requests go on meanwhile.
  lock.unlock();
  auto outcome = [&]() -> Reply {
    TRY(const files::FileFacts facts, files::inspect(media));
    TRY(const std::string head, files::read_head(media, kWavHeadBytes));
    if (!facts.exists || !wav_duration(head, facts.size)) {
      return Err{"The stand-in app exports WAV audio only, and the media of meeting " + id +
                 " is no WAV file."};
    }
    if (auto copied = files::copy_file_replacing(media, path, [] { return true; }); !copied) {
      return Err{std::move(copied).error()};
    }
    return Json{{"exported", path}, {"format", "wav"}, {"bytes", facts.size}};
  }();
  lock.lock();
  return outcome;
}

App::Reply App::delete_meeting(Lock&, const Json& args, bool) {
  const std::string id = text_arg(args, "id");
  TRY(const Meeting* m, find_meeting(id));
  if (auto why = busy_reason(*m)) {
    return Err{*why};
  }
  const std::optional<std::string> media = m->media_path;
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    std::erase_if(next.meetings, [&](const Meeting& each) { return each.id == id; });
    return {};
  }));
  if (media) {
    (void)files::remove_file(*media);
  }
  (void)files::remove_file(files::join(media_folder(), id + ".transcript.txt"));
  return Json{{"deleted", id}};
}

// ---------------------------------------------------------------------------
// Dictation

App::Reply App::start_dictation(Lock&, const Json&, bool) {
  if (dictation_started_) {
    return Err{std::string("A dictation is running already.")};
  }
  dictation_started_ = Clock::now();
  dictation_created_at_ = now_text();
  return Json{{"state", "dictating"}, {"error", nullptr}, {"outputText", nullptr}};
}

App::Reply App::stop_dictation(Lock&, const Json&, bool) {
  if (!dictation_started_) {
    return Err{std::string("No dictation is running.")};
  }
  const std::string message = std::string(kNoSpeech) + ": the dictation has no text.";
  Dictation d{new_id(), dictation_created_at_, seconds_since(*dictation_started_), "", {message}};
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.dictations.push_back(d);
    if (next.dictations.size() > kMaxDictations) {
      next.dictations.erase(next.dictations.begin());
    }
    return {};
  }));
  dictation_started_.reset();
  return Json{
      {"state", "idle"}, {"error", message}, {"outputText", ""}, {"dictation", dictation_json(d)}};
}

App::Reply App::cancel_dictation(Lock&, const Json&, bool) {
  dictation_started_.reset();
  return Json{{"state", "idle"}, {"error", nullptr}, {"outputText", nullptr}};
}

App::Reply App::list_dictations(Lock&, const Json& args, bool) {
  std::uint64_t limit = kDefaultDictationLimit;
  if (auto it = args.find("limit"); it != args.end()) {
    limit = it->get<std::uint64_t>();
  }
  Json list = Json::array();
  const auto& all = library_.dictations;
  for (std::size_t i = 0; i < all.size() && i < limit; ++i) {
    list.push_back(dictation_json(all[all.size() - 1 - i]));
  }
  return list;
}

App::Reply App::copy_last_dictation(Lock&, const Json&, bool) {
  if (library_.dictations.empty()) {
    return Err{std::string("There is no dictation yet.")};
  }
  return Json{
      {"copied", false},
      {"text", library_.dictations.back().text},
      {"note", "The stand-in app has no clipboard access; the text is only returned here."}};
}

// ---------------------------------------------------------------------------
// Jobs

template <class Work>
App::Reply App::start_job(Lock& lock, const std::string& id, bool detach, std::string_view what,
                          Work&& work) {
  join_ended_jobs(lock);
  auto job = std::make_shared<Job>();
  job->meeting_id = id;
  job->what = what;
  try {
    job->thread = std::thread([this, job, work = std::forward<Work>(work)]() mutable {
      Lock job_lock(mutex_);
      try {
        work(job_lock, *job);
      } catch (const std::exception& e) {
        if (!job_lock.owns_lock()) {
          job_lock.lock();
        }
        if (!job->done) {
          end_job(job_lock, *job, kFailed, "The " + job->what + " failed: " + e.what());
        }
      }
    });
  } catch (const std::system_error& e) {
    record(id, [&](Meeting& m) {
      m.status = kFailed;
      m.error = "Cannot start the " + job->what + ": " + e.what();
    });
    return Err{"Cannot start the " + job->what + ": " + e.what()};
  }
  jobs_[id] = job;
  if (detach) {
    return meeting_json(*library_.find(id));
  }
  changed_.wait(lock, [&] { return job->done; });
  TRY(const Meeting* m, find_meeting(id));
  if (m->status == kFailed) {
    return Err{m->error.value_or("The " + job->what + " of meeting " + id + " failed.")};
  }
  if (m->status == kCancelled) {
    return Err{"The " + job->what + " of meeting " + id + " was cancelled."};
  }
  return meeting_json(*m);
}

bool App::pause(Lock& lock, Job& job, int steps) {
  return !changed_.wait_for(lock, config_.pace * steps, [&] { return job.cancel; });
}

bool App::advance(Lock&, Job& job, std::string_view status) {
  if (job.cancel) {
    return false;
  }
  record(job.meeting_id, [&](Meeting& m) { m.status = status; });
  return true;
}

void App::end_job(Lock&, Job& job, std::string_view status, std::optional<std::string> error) {
  record(job.meeting_id, [&](Meeting& m) {
    m.status = status;
    m.error = error;
  });
  if (auto it = jobs_.find(job.meeting_id); it != jobs_.end() && it->second.get() == &job) {
    ended_jobs_.push_back(it->second);
    jobs_.erase(it);
  }
  job.done = true;
  changed_.notify_all();
}

void App::join_ended_jobs(Lock&) {
  // Their threads have left end_job and hold nothing: they only return.
  for (auto& job : ended_jobs_) {
    if (job->thread.joinable()) {
      job->thread.join();
    }
  }
  ended_jobs_.clear();
}

void App::run_finalizing(Lock& lock, Job& job) {
  end_job(lock, job, pause(lock, job, 1) ? kReady : kCancelled, std::nullopt);
}

void App::run_import(Lock& lock, Job& job, const std::string& source) {
  const std::string folder = media_folder();
  const std::string target = files::join(folder, job.meeting_id + media_extension(source));
  const std::string transcript_source = transcript_file_of(source);
  const std::string transcript_copy = files::join(folder, job.meeting_id + ".transcript.txt");
  auto keep_going = [&] {
    Lock check(mutex_);
    return !job.cancel;
  };
  // Copy the media, and its transcript file when there is one, without
  // holding the lock.
  lock.unlock();
  auto copied = [&]() -> Result<bool, std::string> {
    TRY_STATUS(prefixed(files::create_folders(folder), "Cannot create " + folder + ": "));
    TRY(const bool whole, files::copy_file_replacing(source, target, keep_going));
    if (!whole) {
      return false;
    }
    TRY(const files::FileFacts transcript, files::inspect(transcript_source));
    if (transcript.exists && !transcript.folder) {
      return files::copy_file_replacing(transcript_source, transcript_copy, keep_going);
    }
    return true;
  }();
  std::optional<double> length;
  if (copied && *copied) {
    auto facts = files::inspect(target);
    auto head = files::read_head(target, kWavHeadBytes);
    if (facts && head) {
      length = wav_duration(*head, facts->size);
    }
  }
  lock.lock();
  if (!copied || !*copied || !pause(lock, job, 1)) {
    for (const std::string& file : {target, transcript_copy}) {
      (void)files::remove_file(file);
    }
    if (!copied) {
      end_job(lock, job, kFailed, copied.error());
    } else {
      end_job(lock, job, kCancelled, std::nullopt);
    }
    return;
  }
  record(job.meeting_id, [&](Meeting& m) {
    m.media_path = target;
    m.duration_seconds = length;
  });
  end_job(lock, job, kReady, std::nullopt);
}

void App::run_transcription(Lock& lock, Job& job, const std::string& model) {
  const Meeting& m = *library_.find(job.meeting_id);
  // The file beside the original media first: it may have been written or
  // corrected since the import. Then the copy taken at the import.
  std::vector<std::string> candidates;
  if (m.imported_from) {
    candidates.push_back(transcript_file_of(*m.imported_from));
  }
  candidates.push_back(files::join(media_folder(), job.meeting_id + ".transcript.txt"));
  const bool labels = m.speaker_labels;

  lock.unlock();
  auto found = read_transcript_file(candidates);
  lock.lock();
  if (!pause(lock, job, 2)) {
    return end_job(lock, job, kCancelled, std::nullopt);
  }
  if (!found) {
    return end_job(lock, job, kFailed, found.error());
  }
  record(job.meeting_id, [&](Meeting& each) {
    if (*found) {
      each.transcript = labels ? (*found)->text : strip_speakers((*found)->text);
      each.recognition_warnings = {std::string(kNoSpeech) + ": this transcript was read from " +
                                   (*found)->path + "."};
      each.recognition_completeness = 1.0;
    } else {
      each.transcript.clear();
      each.recognition_warnings = {std::string(kNoSpeech) + ", and there is no transcript file " +
                                   candidates.front() + ": the transcript is empty."};
      each.recognition_completeness = 0.0;
    }
    each.cleaned_transcript.reset();
    each.transcription_model = model;
  });

  const Meeting& done = *library_.find(job.meeting_id);
  if (done.auto_title && !done.transcript.empty()) {
    if (!advance(lock, job, kGeneratingTitle) || !pause(lock, job, 1)) {
      return end_job(lock, job, kCancelled, std::nullopt);
    }
    record(job.meeting_id, [&](Meeting& each) {
      std::string title = title_from(each.transcript);
      if (each.auto_title && !title.empty()) {
        each.title = std::move(title);
        each.auto_title = false;
      }
    });
  }
  end_job(lock, job, kReady, std::nullopt);
}

void App::run_notes(Lock& lock, Job& job, NotesPreset preset) {
  if (!pause(lock, job, 2)) {
    return end_job(lock, job, kCancelled, std::nullopt);
  }
  record(job.meeting_id, [&](Meeting& m) { m.notes = make_notes(preset, m.transcript); });
  end_job(lock, job, kReady, std::nullopt);
}

}  // namespace vellumo::standin
