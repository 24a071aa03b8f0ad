#include "process/run.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "platform/files.h"
#include "process/capture.h"
#include "process/child.h"

namespace vellumo::process {

namespace {

using Clock = std::chrono::steady_clock;

// After the program has ended, how long its output pipes may stay open
// before the output is taken as read so far. Only a process the program
// left behind holds them that long; the program's own output is already in
// the pipes and is drained in far less.
constexpr std::chrono::seconds kDrainGrace{1};

// What one reader thread fills. Shared with the caller, so that a reader the
// caller stops waiting for (after a kill, or while a pipe is held open by a
// process the program left behind) can go on into it after Run has returned.
struct Capture {
  std::mutex mutex;
  std::condition_variable finished_signal;
  bool finished = false;
  CaptureBuffer buffer{kMaxCapturedBytes};
};

void read_to_end(detail::PipeReader pipe, Capture& capture) {
  constexpr std::size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunk]);
  if (chunk) {
    for (;;) {
      const std::ptrdiff_t count = pipe.read(chunk.get(), kChunk);
      if (count <= 0) {
        break;  // end of stream, or a read error: keep what came before
      }
      std::lock_guard lock(capture.mutex);
      capture.buffer.append(std::string_view(chunk.get(), static_cast<std::size_t>(count)));
    }
  }
  {
    detail::PipeReader closing = std::move(pipe);  // our end is closed before the end is told
  }
  std::lock_guard lock(capture.mutex);
  capture.finished = true;
  capture.finished_signal.notify_all();
}

// One pipe and the thread that drains it.
class Reader {
 public:
  // The thread leaves the signals that end the process to the main thread:
  // taken here, one could end the process while the main thread is between
  // making a temporary file and arming its cleanup.
  explicit Reader(detail::PipeReader pipe) : capture_(std::make_shared<Capture>()) {
    files::starting_threads([&] {
      thread_ = std::thread([pipe = std::move(pipe), capture = capture_]() mutable {
        read_to_end(std::move(pipe), *capture);
      });
    });
  }

  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  ~Reader() {
    if (thread_.joinable()) {
      thread_.detach();
    }
  }

  /// Waits until the stream has ended or `deadline` has come, then hands
  /// back the text read so far. A reader that has not finished is left to
  /// itself.
  std::string finish(Clock::time_point deadline) {
    std::unique_lock lock(capture_->mutex);
    capture_->finished_signal.wait_until(lock, deadline, [&] { return capture_->finished; });
    const bool finished = capture_->finished;
    std::string text = capture_->buffer.text();
    lock.unlock();
    if (finished) {
      thread_.join();
    } else {
      thread_.detach();
    }
    return text;
  }

  /// Leaves the reader to end by itself once every writer of its pipe is
  /// gone; what it reads is discarded with the last reference to it.
  void abandon() { thread_.detach(); }

 private:
  std::shared_ptr<Capture> capture_;
  std::thread thread_;
};

RunOutcome run_checked(const std::string& program, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds time_limit) {
  auto started = detail::start_child(program, arguments);
  if (!started) {
    return RunError{"Cannot run " + program + ": " + started.error()};
  }
  const Clock::time_point start = Clock::now();
  detail::ChildProcess& child = started->process;
  // Should a thread fail to start, the exception unwinds through the child,
  // whose destructor kills it.
  Reader output(std::move(started->output));
  Reader error(std::move(started->error));

  for (;;) {
    const detail::ChildState state = child.poll();
    if (state == detail::ChildState::ExitedWithZero ||
        state == detail::ChildState::ExitedOtherwise) {
      const Clock::time_point drain_deadline = Clock::now() + kDrainGrace;
      std::string text = output.finish(drain_deadline);
      text += '\n';
      text += error.finish(drain_deadline);
      return Finished{state == detail::ChildState::ExitedWithZero, std::move(text)};
    }
    if (state == detail::ChildState::Unknown) {
      break;
    }
    const Clock::duration elapsed = Clock::now() - start;
    if (elapsed >= time_limit) {
      break;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, time_limit - elapsed));
  }

  child.kill_tree();
  output.abandon();
  error.abandon();
  return RunError{program + " did not finish in time."};
}

}  // namespace

RunOutcome Run(const std::string& program, const std::vector<std::string>& arguments,
               std::chrono::milliseconds time_limit) {
  try {
    return run_checked(program, arguments, time_limit);
  } catch (const std::exception& e) {
    // Out of memory or threads; a started child was killed on the way out.
    return RunError{"Cannot run " + program + ": " + e.what()};
  }
}

}  // namespace vellumo::process
