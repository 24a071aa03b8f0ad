#include "app_link/launch.h"

#include <chrono>
#include <thread>

#include "platform/files.h"

namespace vellumo {
namespace {

constexpr auto kReadyLimit = std::chrono::seconds(90);
constexpr auto kPingPause = std::chrono::milliseconds(500);

bool ping() { return app_link::send(Request{"ping", Json::object(), Detach::No}).ok(); }

}  // namespace

Result<std::string> locate_app() {
  auto cli = platform::executable_path();
  if (!cli) {
    return CliError::failed(std::move(cli).error());
  }
  auto folder = parent_folder(*cli, platform::kPathStyle);
  if (!folder) {
    return CliError::failed("Cannot find the Vellumo folder.");
  }
  for (std::string_view name : platform::kAppExecutableNames) {
    std::string path = join_path(*folder, name, platform::kPathStyle);
    if (files::is_regular_file(path)) {
      return path;
    }
  }
  return CliError::not_running("Vellumo is not running, and the app was not found beside " +
                               *folder + ".");
}

Result<platform::DetachedChild> launch_app(const std::string& path) {
  auto child = platform::launch_detached(path, "--startup");
  if (!child) {
    return CliError::failed("Cannot start " + path + ": " + child.error());
  }
  return std::move(child).value();
}

Status wait_until_ready(platform::DetachedChild& child) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (std::chrono::steady_clock::now() - start >= kReadyLimit) {
      return CliError::not_running("Vellumo did not start within 90 seconds.");
    }
    std::this_thread::sleep_for(kPingPause);
    if (ping()) {
      return {};
    }
    // The process we started may have ended because another instance was
    // already running; one more ping tells whether that one answers at
    // all. If it does, the wait goes on: only a round's own ping makes the
    // app ready.
    if (child.has_ended().value_or(false) && !ping()) {
      return CliError::not_running(
          "Vellumo is running but does not accept CLI commands. Update Vellumo, or quit and "
          "reopen it, then try again.");
    }
  }
}

Result<JsonTape> launch_and_resend(const Request& request) {
  TRY(const std::string path, locate_app());
  {
    TRY(platform::DetachedChild child, launch_app(path));
    TRY_STATUS(wait_until_ready(child));
  }  // the child is released here; the app runs on
  auto reply = app_link::send(request);
  if (reply) {
    return std::move(reply).value();
  }
  if (reply.error().kind == LinkErrorKind::Exchange) {
    return CliError::failed(std::move(reply).error().message);
  }
  return CliError::not_running("Vellumo started but is not answering: " + reply.error().message);
}

}  // namespace vellumo
