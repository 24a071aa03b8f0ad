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

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/link_protocol.h"
#include "core/numbers.h"
#include "platform/files.h"
#include "platform/link_server.h"
#include "platform/platform.h"
#include "standin_app/app.h"
#include "standin_app/serve.h"
#include "standin_app/system.h"

namespace vellumo::standin {
namespace {

/// How long a new instance waits for one that is quitting to let go of the
/// data folder, asking each round (kInstanceRound) whether the link is
/// served.
constexpr std::chrono::milliseconds kInstancePatience{5000};

struct Options {
  std::chrono::milliseconds pace{1000};
  Limits limits;
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
  options.limits.stop_file = platform::get_env("VELLUMO_STANDIN_STOP_FILE");
  if (auto lifetime = platform::get_env("VELLUMO_STANDIN_MAX_LIFETIME_S")) {
    auto seconds = parse_unsigned(*lifetime);
    if (!seconds) {
      return Err{"VELLUMO_STANDIN_MAX_LIFETIME_S is not a number of seconds: " + *lifetime};
    }
    options.limits.max_lifetime = std::chrono::seconds(*seconds);
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

  return serve_until_quit(app, std::move(*server), link, std::move(*lock), options->limits, log);
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
