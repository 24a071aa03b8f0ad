// The Vellumo stand-in app, for development, demos and tests: it serves the
// app link of the current user so that every CLI command works without the
// desktop app. It records no sound and recognises no speech.
//
//   Vellumo [--startup] [--pace-ms N]
//
// It runs until quit_app. Settings from the environment:
//   VELLUMO_STANDIN_PACE_MS          length of one step of a long job (1000)
//   VELLUMO_STANDIN_STOP_FILE        quit as soon as this file exists
//   VELLUMO_STANDIN_MAX_LIFETIME_S   quit after this many seconds
// Its library and settings live in the folder "standin" of the per-user
// Vellumo data folder; only one instance runs per data folder and link.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/link_protocol.h"
#include "core/numbers.h"
#include "platform/files.h"
#include "platform/link_server.h"
#include "platform/platform.h"
#include "standin_app/app.h"
#include "standin_app/commands.h"
#include "standin_app/library.h"
#include "standin_app/system.h"

namespace vellumo::standin {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxConnections = 64;
constexpr std::chrono::milliseconds kClientGrace{5000};
/// How long a new instance waits for one that is quitting to let go of the
/// data folder...
constexpr std::chrono::milliseconds kInstancePatience{5000};
/// ...asking between rounds of this length whether the link is served.
constexpr std::chrono::milliseconds kInstanceRound{200};

struct Options {
  std::chrono::milliseconds pace{1000};
  std::optional<std::string> stop_file;
  std::optional<std::chrono::seconds> max_lifetime;
};

Result<Options, std::string> read_options(const std::vector<std::string>& words) {
  Options options;
  if (auto pace = platform::get_env("VELLUMO_STANDIN_PACE_MS")) {
    auto ms = parse_unsigned(*pace);
    if (!ms) {
      return Err{"VELLUMO_STANDIN_PACE_MS is not a number of milliseconds: " + *pace};
    }
    options.pace = std::chrono::milliseconds(*ms);
  }
  options.stop_file = platform::get_env("VELLUMO_STANDIN_STOP_FILE");
  if (auto lifetime = platform::get_env("VELLUMO_STANDIN_MAX_LIFETIME_S")) {
    auto seconds = parse_unsigned(*lifetime);
    if (!seconds) {
      return Err{"VELLUMO_STANDIN_MAX_LIFETIME_S is not a number of seconds: " + *lifetime};
    }
    options.max_lifetime = std::chrono::seconds(*seconds);
  }
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--startup") {
      continue;
    }
    if (words[i] == "--pace-ms" && i + 1 < words.size()) {
      auto ms = parse_unsigned(words[++i]);
      if (!ms) {
        return Err{"--pace-ms takes a number of milliseconds, not " + words[i]};
      }
      options.pace = std::chrono::milliseconds(*ms);
      continue;
    }
    return Err{"usage: Vellumo [--startup] [--pace-ms N]"};
  }
  return options;
}

// The app has no console when the CLI starts it: failures go to a log file
// in its data folder as well as to standard error.
class Log {
 public:
  void set_folder(const std::string& folder) { path_ = files::join(folder, "standin.log"); }
  void write(const std::string& message) {
    platform::write_stderr("Vellumo stand-in: " + message + "\n");
    if (!path_.empty()) {
      const std::string utf8 = path_;
      std::ofstream out(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())),
                        std::ios::binary | std::ios::app);
      out << now_text() << " " << message << "\n";
    }
  }

 private:
  std::string path_;
};

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

// One request line: up to the first line feed or the end of the stream.
// nullopt when the client sent nothing (the wake-up connection does that).
std::optional<std::string> read_line(platform::LinkStream& stream, bool& too_long) {
  std::string line;
  char buffer[65536];
  bool any = false;
  for (;;) {
    auto got = stream.read(buffer, sizeof buffer);
    if (!got || *got == 0) {
      break;
    }
    any = true;
    std::string_view chunk(buffer, *got);
    const std::size_t end = chunk.find('\n');
    if (line.size() + std::min(chunk.size(), end) > kMaxRequestBytes) {
      too_long = true;
      return line;
    }
    line.append(chunk.substr(0, end));
    if (end != std::string_view::npos) {
      break;
    }
  }
  if (!any) {
    return std::nullopt;
  }
  return line;
}

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
  bool too_long = false;
  auto line = read_line(stream, too_long);
  if (!line) {
    return;
  }
  const std::string reply =
      too_long ? reply_line(Result<Json, std::string>(Err{
                     "The request is longer than " + std::to_string(kMaxRequestBytes) + " bytes."}))
               : app.answer(*line);
  before_reply();
  (void)stream.write_all(reply);
  platform::finish(std::move(stream));
}

// Whether a server takes connections on the link. A busy link is asked
// again for up to `patience`: its server is between two connections, or one
// that is quitting still holds its last ones; busy to the end counts as
// served.
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

// Wakes the accept loop so that it sees the app is quitting.
void wake(const std::string& link) { (void)served(link, kInstanceRound); }

// The lock of the one instance of a data folder; nullopt when another
// instance serves the link, or when the lock stays taken without one.
Result<std::optional<files::FileLock>, std::string> lock_instance(const std::string& path,
                                                                  const std::string& link) {
  const std::string note = std::to_string(sys::process_id()) + "\n";
  const auto deadline = std::chrono::steady_clock::now() + kInstancePatience;
  for (;;) {
    TRY(auto lock, files::FileLock::acquire_noted(path, kInstanceRound, note));
    if (lock || served(link, kInstanceRound) || std::chrono::steady_clock::now() >= deadline) {
      return lock;
    }
  }
}

int run(const std::vector<std::string>& words) {
  Log log;
  auto options = read_options(words);
  if (!options) {
    log.write(options.error());
    return 2;
  }

  const auto data_folder = files::data_folder();
  if (!data_folder) {
    log.write(
        "Cannot find the data folder: set LOCALAPPDATA, XDG_DATA_HOME or HOME to an absolute "
        "path.");
    return 1;
  }
  const std::string data = files::join(*data_folder, "standin");
  if (auto made = files::create_folders(data); !made) {
    log.write("Cannot create " + data + ": " + made.error());
    return 1;
  }
  if (auto kept = sys::keep_private(data); !kept) {
    log.write("Cannot keep " + data + " private: " + kept.error());
    return 1;
  }
  log.set_folder(data);

  const std::string lock_path = files::join(data, "app.lock");
  const std::string link = platform::link_path(user_tag(platform::get_env("USERNAME")));
  auto lock = lock_instance(lock_path, link);
  if (!lock) {
    log.write("Cannot lock " + lock_path + ": " + lock.error());
    return 1;
  }
  if (served(link, kInstancePatience)) {
    return 0;  // another instance serves this user already
  }
  if (!*lock) {
    log.write("Another instance holds " + lock_path + " but does not serve " + link + ".");
    return 1;
  }

  App app({data, link, options->pace});
  if (auto loaded = app.load(); !loaded) {
    log.write(loaded.error());
    return 1;
  }
  auto server = platform::LinkServer::listen(link);
  if (!server) {
    log.write(server.error());
    return 1;
  }

  // The lifetime guard: a stop file, or a time limit.
  std::atomic<bool> ended = false;
  std::thread guard([&] {
    const auto started = std::chrono::steady_clock::now();
    while (!ended) {
      const bool stop = options->stop_file && files::is_regular_file(*options->stop_file);
      const bool old = options->max_lifetime &&
                       std::chrono::steady_clock::now() - started >= *options->max_lifetime;
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
    auto stream = server->accept();
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
  *server = platform::LinkServer();  // no one reaches a quitting app
  app.shutdown();
  lock->reset();
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

}  // namespace
}  // namespace vellumo::standin

int main(int argc, char** argv) {
  vellumo::platform::init_standard_streams();
  auto words = vellumo::platform::command_words(argc, argv);
  if (!words) {
    vellumo::platform::write_stderr("Vellumo stand-in: " + words.error() + "\n");
    return 2;
  }
  return vellumo::standin::run(*words);
}
