// Windows only: how the CLI opens the app link and starts the app. Wine
// grants a pipe server impersonation whatever the client asked for, so this
// cannot be observed from a server under Wine; the flags themselves are
// checked here.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace vellumo::platform {
extern const DWORD kLinkOpenFlags;

namespace {

TEST(Win32Link, TheServerMayIdentifyButNotImpersonateUs) {
  EXPECT_TRUE(kLinkOpenFlags & SECURITY_SQOS_PRESENT);
  EXPECT_EQ(
      kLinkOpenFlags & (SECURITY_IDENTIFICATION | SECURITY_IMPERSONATION | SECURITY_DELEGATION),
      static_cast<DWORD>(SECURITY_IDENTIFICATION));
  EXPECT_FALSE(kLinkOpenFlags & SECURITY_CONTEXT_TRACKING);
  EXPECT_FALSE(kLinkOpenFlags & SECURITY_EFFECTIVE_ONLY);
}

// A name that is not UTF-8 never reaches the system as an empty name: it
// is refused as the system refuses a name it cannot map.
TEST(Win32Link, NamesThatAreNotUtf8AreRefused) {
  const std::string refused = system_error_text(ERROR_NO_UNICODE_TRANSLATION);
  const std::string bad = "Vellumo-\xFF";
  auto link = open_link("\\\\.\\pipe\\" + bad);
  ASSERT_FALSE(link);
  EXPECT_EQ(link.error().kind, LinkOpenFailure::Unreachable);
  EXPECT_EQ(link.error().text, refused);
  auto app = launch_detached("C:\\" + bad + ".exe", "--startup");
  ASSERT_FALSE(app);
  EXPECT_EQ(app.error(), refused);
  auto argument = launch_detached("C:\\Vellumo.exe", bad);
  ASSERT_FALSE(argument);
  EXPECT_EQ(argument.error(), refused);
  EXPECT_FALSE(get_env(bad.c_str()));
}

}  // namespace
}  // namespace vellumo::platform
