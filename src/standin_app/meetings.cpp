// The App's meeting requests.

#include <algorithm>
#include <array>

#include "core/paths.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "standin_app/app.h"
#include "standin_app/app_internal.h"
#include "standin_app/commands.h"
#include "standin_app/export.h"
#include "standin_app/media_names.h"
#include "standin_app/settings.h"

namespace vellumo::standin {

namespace {

constexpr std::string_view kNoSound =
    "The stand-in app records no sound: this meeting has no audio.";
constexpr std::array<std::string_view, 3> kSources = {"both", "microphone", "system"};

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

Result<std::string, std::string> absolute_path_arg(const Json& args, const char* name) {
  std::string path = text_arg(args, name);
  if (!is_absolute_path(path, platform::kPathStyle)) {
    return Err{"The path must be absolute: " + path};
  }
  return path;
}

}  // namespace

template <class Edit>
App::Reply App::edit_idle_meeting(const std::string& id, Edit&& edit) {
  TRY(const Meeting* current, find_meeting(id));
  if (auto why = busy_reason(*current)) {
    return Err{*why};
  }
  TRY_STATUS(save([&](Library& next) { return edit(*next.find(id)); }));
  return meeting_json(*library_.find(id));
}

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

}  // namespace vellumo::standin
