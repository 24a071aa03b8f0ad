// The CLI sends its request only to a server of its own user.

#include <unistd.h>

#include <cstdlib>

#include "harness.h"

namespace vellumo::e2e {
namespace {

using Trust = E2eTest;

Json ok_reply() { return Json{{"reply", Json{{"ok", true}, {"result", "pong"}}}}; }

TEST_F(Trust, AServerOfAnotherUserGetsNoRequest) {
  if (target().wine) {
    GTEST_SKIP() << "Wine runs every process as the same user";
  }
  if (::geteuid() != 0) {
    GTEST_SKIP() << "serving as another user needs root";
  }
  set_username("trust-other");
  Json s = scenario();
  s["default"] = ok_reply();
  s["listen_as_uid"] = 65534;
  start_app(s);
  install_app(scenario());  // would be launched if the CLI took this for "not running"

  const RunResult run = cli({"ping"});
  expect_error(run, 1,
               "Refusing to send the request to " + link_path_for("trust-other") +
                   ": it is served by another user (65534).");
  // The CLI connects, finds a stranger and closes without writing a byte.
  for (const std::string& request : requests()) {
    EXPECT_EQ(request, "");
  }
  EXPECT_EQ(starts().size(), 1u);  // only the server the test started
}

TEST_F(Trust, ARuntimeFolderOthersCanEnterIsNotUsed) {
  if (target().wine) {
    GTEST_SKIP() << "named pipes have no folder";
  }
  // A folder that others may enter is passed over for the private fallback
  // folder of the user, where this test's server waits under a name of its
  // own.
  const std::string tag = "trust-" + std::to_string(::getpid()) + "-" + dir().filename().string();
  set_username(tag);
  const fs::path fallback = "/tmp/vellumo-" + std::to_string(::getuid());
  const bool made_fallback = !fs::exists(fallback);
  Json s = scenario();
  s["default"] = ok_reply();
  s["link"] = (fallback / ("Vellumo-cli-" + tag)).string();
  start_app(s);

  fs::permissions(dir() / "run", fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  expect_output(cli({"--no-launch", "ping"}), "\"pong\"\n");

  fs::permissions(dir() / "run", fs::perms::owner_all);
  const RunResult private_run = cli({"--no-launch", "ping"});
  EXPECT_EQ(private_run.exit_code, 3) << private_run.err;
  EXPECT_EQ(requests().size(), 1u);

  if (made_fallback) {
    std::error_code ignored;
    fs::remove_all(fallback, ignored);
  }
}

TEST_F(Trust, AnUnsafeFallbackFolderIsRefusedAndLaunchesNothing) {
  if (target().wine) {
    GTEST_SKIP() << "named pipes have no folder";
  }
  if (::geteuid() != 0) {
    GTEST_SKIP() << "running as another user needs root";
  }
  // A user of this test alone, whose fallback folder is root's; with
  // XDG_RUNTIME_DIR leading nowhere, that folder is where the link would be.
  const std::string user = "54323";
  const fs::path fallback = "/tmp/vellumo-" + user;
  set_username("trust-folder");
  set_env("XDG_RUNTIME_DIR", (dir() / "nowhere").string());
  install_app(scenario());  // would be launched if the CLI took this for "not running"
  ASSERT_EQ(std::system(("chown -R " + user + ":" + user + " " + dir().string()).c_str()), 0);
  fs::remove_all(fallback);
  fs::create_directory(fallback);

  for (const bool no_launch : {false, true}) {
    std::vector<std::string> words = {"--reuid=" + user, "--regid=" + user, "--clear-groups",
                                      cli_path().string()};
    if (no_launch) {
      words.push_back("--no-launch");
    }
    words.push_back("ping");
    expect_error(run("/usr/bin/setpriv", words), 1,
                 "Refusing to send the request to " +
                     (fallback / "Vellumo-cli-trust-folder").string() + ": the socket folder " +
                     fallback.string() + " is owned by another user (uid 0), so it is not used.");
  }
  fs::remove_all(fallback);
  EXPECT_TRUE(starts().empty());
}

}  // namespace
}  // namespace vellumo::e2e
