#pragma once

// Starting the app when nobody serves the link.

#include <string>

#include "app_link/app_link.h"
#include "core/json.h"
#include "core/result.h"
#include "platform/platform.h"

namespace vellumo {

/// Finds the app beside the CLI, starts it, waits until it answers a ping
/// and sends `request` once more.
Result<JsonTape> launch_and_resend(const Request& request);

/// The app's executable in the CLI's own folder.
Result<std::string> locate_app();

/// Starts the app at `path` in the background with `--startup`.
Result<platform::DetachedChild> launch_app(const std::string& path);

/// Pings every 500 ms until the app answers, the launched process has
/// ended without the link answering, or 90 seconds have passed.
Status wait_until_ready(platform::DetachedChild& child);

}  // namespace vellumo
