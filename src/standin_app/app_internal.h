#pragma once

// What the App's own files share: the job record, helpers that requests of
// several families use, and the member templates those files instantiate.
// Only the App's .cpp files include it.

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "standin_app/app.h"

namespace vellumo::standin {

struct App::Job {
  std::string meeting_id;
  std::string what;  ///< "import", "transcription", ... for messages
  bool cancel = false;
  bool done = false;
  std::thread thread;
};

using Clock = std::chrono::steady_clock;

inline constexpr std::string_view kNoSpeech = "The stand-in app does not recognise speech";

inline std::string text_arg(const Json& args, const char* name) {
  return args.at(name).get<std::string>();
}

inline double seconds_since(Clock::time_point start) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return static_cast<double>(ms.count()) / 1000.0;
}

inline std::string join_texts(const std::vector<std::string>& texts, std::string_view separator) {
  std::string out;
  for (const std::string& text : texts) {
    if (!text.empty()) {
      out += out.empty() ? "" : std::string(separator);
      out += text;
    }
  }
  return out;
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

}  // namespace vellumo::standin
