#include "standin_app/app.h"

#include <algorithm>
#include <array>

#include "platform/files.h"
#include "standin_app/app_internal.h"
#include "standin_app/commands.h"
#include "standin_app/settings.h"
#include "standin_app/system.h"
#include "texts/texts.h"

namespace vellumo::standin {

namespace {

constexpr std::size_t kSnapshotDictations = 5;

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

// ---------------------------------------------------------------------------
// Requests

std::string App::answer(std::string_view line) {
  auto request = parse_request(line);
  if (!request) {
    return reply_line(Reply(Err{request.error()}));
  }
  return reply_line(dispatch(request->command, request->args, request->detach));
}

std::span<const CommandSpec> App::command_table() {
  using enum ArgType;
  static constexpr ArgSpec kId[] = {{"id", Text}};
  static constexpr ArgSpec kSettings[] = {{"settings", Object}};
  static constexpr ArgSpec kSaveMeeting[] = {
      {"id", Text}, {"title", OptionalText}, {"transcript", OptionalText}, {"notes", OptionalText}};
  static constexpr ArgSpec kStartMeeting[] = {{"title", OptionalText}, {"source", OptionalText}};
  static constexpr ArgSpec kImport[] = {{"path", Text}};
  static constexpr ArgSpec kJoin[] = {{"ids", Texts}, {"title", OptionalText}};
  static constexpr ArgSpec kTranscribe[] = {{"id", Text}, {"model", OptionalText}};
  static constexpr ArgSpec kRenameSpeaker[] = {{"id", Text}, {"from", Text}, {"to", Text}};
  static constexpr ArgSpec kLabels[] = {
      {"id", Text}, {"enabled", Flag}, {"confirmed", OptionalFlag}};
  static constexpr ArgSpec kNotes[] = {
      {"id", Text}, {"preset", OptionalText}, {"instructions", OptionalText}};
  static constexpr ArgSpec kExport[] = {
      {"id", Text}, {"path", Text}, {"format", Text}, {"transcriptVersion", OptionalText}};
  static constexpr ArgSpec kExportAudio[] = {{"id", Text}, {"path", Text}};
  static constexpr ArgSpec kLimit[] = {{"limit", Count}};
  static constexpr ArgSpec kPage[] = {{"page", Text}};

  static constexpr CommandSpec kCommands[] = {
      {"get_state", {}, &App::get_state},
      {"save_settings", kSettings, &App::save_settings},
      {"list_meetings", {}, &App::list_meetings},
      {"get_meeting", kId, &App::get_meeting},
      {"save_meeting", kSaveMeeting, &App::save_meeting},
      {"start_meeting", kStartMeeting, &App::start_meeting},
      {"stop_meeting", {}, &App::stop_meeting},
      {"import_media", kImport, &App::import_media},
      {"join_meetings", kJoin, &App::join_meetings},
      {"transcribe_meeting", kTranscribe, &App::transcribe_meeting},
      {"cancel_meeting", kId, &App::cancel_meeting},
      {"meeting_speakers", kId, &App::meeting_speakers},
      {"rename_meeting_speaker", kRenameSpeaker, &App::rename_meeting_speaker},
      {"set_meeting_speaker_labels", kLabels, &App::set_meeting_speaker_labels},
      {"clean_meeting", kId, &App::clean_meeting},
      {"generate_notes", kNotes, &App::generate_notes},
      {"export_meeting", kExport, &App::export_meeting},
      {"export_meeting_audio", kExportAudio, &App::export_meeting_audio},
      {"delete_meeting", kId, &App::delete_meeting},
      {"start_dictation", {}, &App::start_dictation},
      {"stop_dictation", {}, &App::stop_dictation},
      {"cancel_dictation", {}, &App::cancel_dictation},
      {"list_dictations", kLimit, &App::list_dictations},
      {"copy_last_dictation", {}, &App::copy_last_dictation},
      {"quit_app", {}, &App::quit_app},
      {"get_model_library", {}, &App::get_model_library},
      {"get_ai_settings", {}, &App::get_ai_settings},
      {"get_vocabulary", {}, &App::get_vocabulary},
      {"get_diagnostics", {}, &App::get_diagnostics},
      {"commands", {}, &App::commands},
      {"get_snapshot", {}, &App::get_snapshot},
      {"ping", {}, &App::ping},
      {"show_page", kPage, &App::show_page},
  };
  static_assert(std::ranges::all_of(kCommands,
                                    [](const CommandSpec& row) {
                                      return row.handler != nullptr &&
                                             std::ranges::count(kCommands, row.name,
                                                                &CommandSpec::name) == 1;
                                    }),
                "every row has a handler and a name of its own");
  return kCommands;
}

const CommandSpec* App::find_command(std::string_view command) {
  for (const CommandSpec& row : command_table()) {
    if (row.name == command) {
      return &row;
    }
  }
  return nullptr;
}

App::Reply App::dispatch(std::string_view command, const Json& args, bool detach) {
  const CommandSpec* row = find_command(command);
  if (!row) {
    return Err{"Unknown command: " + std::string(command)};
  }
  TRY(const Json checked, check_args(*row, args));
  Lock lock(mutex_);
  if (quitting_) {
    return Err{std::string("Vellumo is quitting.")};
  }
  try {
    return (this->*row->handler)(lock, checked, detach);
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

Json App::commands_json() {
  Json list = Json::array();
  for (const CommandSpec& row : command_table()) {
    Json names = Json::array();
    for (const ArgSpec& arg : row.args) {
      names.push_back(arg.name);
    }
    list.push_back(Json{{"name", row.name}, {"args", std::move(names)}});
  }
  return list;
}

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

}  // namespace vellumo::standin
