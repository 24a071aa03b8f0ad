// The App's jobs: each on a thread of its own, paced, and cancellable
// (start_job, a template the requests instantiate, is in app_internal.h).

#include "platform/files.h"
#include "standin_app/app.h"
#include "standin_app/app_internal.h"
#include "standin_app/export.h"
#include "standin_app/media_names.h"

namespace vellumo::standin {

namespace {

constexpr std::size_t kMaxTranscriptFileBytes = std::size_t{16} << 20;

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

}  // namespace

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
