#include "standin_app/serve.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/link_protocol.h"
#include "platform/platform.h"
#include "standin_app/library.h"

namespace vellumo::standin {

void Log::set_folder(const std::string& folder) { path_ = files::join(folder, "standin.log"); }

void Log::write(const std::string& message) {
  platform::write_stderr("Vellumo stand-in: " + message + "\n");
  if (!path_.empty()) {
    const std::string utf8 = path_;
    std::ofstream out(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())),
                      std::ios::binary | std::ios::app);
    out << now_text() << " " << message << "\n";
  }
}

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxConnections = 64;
constexpr std::chrono::milliseconds kClientGrace{5000};

// Connection threads, joined as they finish and at the end.
class Workers {
 public:
  void start(std::function<void()> work) {
    reap();
    while (workers_.size() >= kMaxConnections) {
      workers_.front().thread.join();
      workers_.erase(workers_.begin());
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      std::thread thread([work, done] {
        work();
        *done = true;
      });
      workers_.push_back({std::move(thread), std::move(done)});
    } catch (const std::system_error&) {
      work();  // no thread to spare: serve this client here
    }
  }
  /// Joins every worker that finishes within `limit`; false when one is
  /// still stuck with a client that neither sends nor reads.
  bool join_all(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      reap();
      if (workers_.empty()) {
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void reap() {
    std::erase_if(workers_, [](Worker& worker) {
      if (!*worker.done) {
        return false;
      }
      worker.thread.join();
      return true;
    });
  }
  std::vector<Worker> workers_;
};

// Set once a quitting app has let go of what the next instance needs: its
// link, its library (saved) and its instance lock. Replies written after
// the app began to quit wait for it, so that a command run after `quit`
// returns finds no trace of this instance and starts a new one at once.
class Released {
 public:
  /// True once released; false when `limit` passed first.
  bool wait_for(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return released_; });
  }
  void announce() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
};

// `before_reply` runs once the reply is ready and before it is written.
void serve(App& app, platform::LinkStream stream, const std::function<void()>& before_reply) {
  // A client that sends nothing (the wake-up connection does that), or
  // whose stream fails, gets no reply.
  auto line = stream.read_line(kMaxRequestBytes);
  if (line ? !line->has_value() : line.error().kind == platform::LineError::Kind::Read) {
    return;
  }
  const std::string reply =
      line ? app.answer(**line)
           : reply_line(Result<Json, std::string>(Err{
                 "The request is longer than " + std::to_string(kMaxRequestBytes) + " bytes."}));
  before_reply();
  (void)stream.write_all(reply);
  platform::finish(std::move(stream));
}

// Wakes the accept loop so that it sees the app is quitting.
void wake(const std::string& link) { (void)served(link, kInstanceRound); }

}  // namespace

bool served(const std::string& link, std::chrono::milliseconds patience) {
  const auto end = std::chrono::steady_clock::now() + patience;
  for (;;) {
    auto stream = platform::open_link(link);
    if (stream) {
      return true;
    }
    if (stream.error().kind != platform::LinkOpenFailure::Busy) {
      return false;
    }
    if (std::chrono::steady_clock::now() >= end) {
      return true;
    }
    std::this_thread::sleep_for(20ms);
  }
}

int serve_until_quit(App& app, platform::LinkServer server, const std::string& link,
                     std::optional<files::FileLock> lock, const Limits& limits, Log& log) {
  // The lifetime guard: a stop file, or a time limit.
  std::atomic<bool> ended = false;
  std::thread guard([&] {
    const auto started = std::chrono::steady_clock::now();
    while (!ended) {
      const bool stop = limits.stop_file && files::is_regular_file(*limits.stop_file);
      const bool old =
          limits.max_lifetime && std::chrono::steady_clock::now() - started >= *limits.max_lifetime;
      if ((stop || old) && !app.quitting()) {
        app.quit();
        wake(link);
      }
      std::this_thread::sleep_for(100ms);
    }
  });

  Released released;
  Workers workers;
  const auto start_worker = [&](platform::LinkStream stream) {
    workers.start([&app, &link, &released,
                   s = std::make_shared<platform::LinkStream>(std::move(stream))]() mutable {
      serve(app, std::move(*s), [&] {
        // The reply waits until the app has let go, waking the accept loop
        // again each round. Bounded, so that a worker never holds up a
        // main thread that waits for it to make room for the next.
        if (app.quitting()) {
          const auto give_up = std::chrono::steady_clock::now() + kClientGrace;
          do {
            wake(link);
          } while (!released.wait_for(kInstanceRound) &&
                   std::chrono::steady_clock::now() < give_up);
        }
      });
    });
  };
  int code = 0;
  // Taken while quitting; answered ("Vellumo is quitting.") only once the
  // app has let go, so that its client cannot hold up the release.
  std::optional<platform::LinkStream> last;
  for (;;) {
    auto stream = server.accept();
    if (!stream) {
      log.write(stream.error());
      code = 1;
      break;
    }
    if (app.quitting()) {
      last = std::move(stream).value();
      break;
    }
    start_worker(std::move(stream).value());
  }
  server = platform::LinkServer();  // no one reaches a quitting app
  app.shutdown();
  lock.reset();
  released.announce();
  if (last) {
    start_worker(std::move(*last));
  }
  ended = true;
  guard.join();
  if (!workers.join_all(kClientGrace)) {
    // Everything is saved; a client that never finishes its exchange must
    // not keep the app alive.
    log.write("A client did not finish its request; quitting without it.");
    std::_Exit(code);
  }
  return code;
}

}  // namespace vellumo::standin
