#pragma once

// How the stand-in serves its link: a worker thread for each client, which
// reads one request line and writes the app's reply, until the app quits;
// then the quit handshake, which lets go of everything the next instance
// needs before the last replies are written.

#include <chrono>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/link_server.h"
#include "standin_app/app.h"

namespace vellumo::standin {

/// One round of asking whether the link is served: between a new
/// instance's tries for the instance lock, and between a quitting app's
/// wake-ups of its accept loop.
inline constexpr std::chrono::milliseconds kInstanceRound{200};

// The app has no console when the CLI starts it: failures go to a log file
// in its data folder as well as to standard error.
class Log {
 public:
  void set_folder(const std::string& folder);
  void write(const std::string& message);

 private:
  std::string path_;
};

/// What makes the app quit without being asked: a stop file that appears,
/// or a lifetime that runs out.
struct Limits {
  std::optional<std::string> stop_file;
  std::optional<std::chrono::seconds> max_lifetime;
};

/// Whether a server takes connections on the link. A busy link is asked
/// again for up to `patience`: its server is between two connections, or
/// one that is quitting still holds its last ones; busy to the end counts
/// as served.
bool served(const std::string& link, std::chrono::milliseconds patience);

/// Serves `server`, the link `link`, until the app quits; then closes the
/// link, shuts the app down, releases `lock` (the instance lock) and
/// answers the last clients. The exit code: 1 when accepting failed. When
/// a client never finishes its exchange, it ends the process instead of
/// returning.
int serve_until_quit(App& app, platform::LinkServer server, const std::string& link,
                     std::optional<files::FileLock> lock, const Limits& limits, Log& log);

}  // namespace vellumo::standin
