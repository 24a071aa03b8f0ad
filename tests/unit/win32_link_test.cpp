// Windows only: how the CLI opens the app link. Wine grants a pipe server
// impersonation whatever the client asked for, so this cannot be observed
// from a server under Wine; the flags themselves are checked here.

#include <windows.h>

#include <gtest/gtest.h>

namespace vellumo::platform {
extern const DWORD kLinkOpenFlags;

namespace {

TEST(Win32Link, TheServerMayIdentifyButNotImpersonateUs) {
  EXPECT_TRUE(kLinkOpenFlags & SECURITY_SQOS_PRESENT);
  EXPECT_EQ(kLinkOpenFlags & (SECURITY_IDENTIFICATION | SECURITY_IMPERSONATION | SECURITY_DELEGATION),
            static_cast<DWORD>(SECURITY_IDENTIFICATION));
  EXPECT_FALSE(kLinkOpenFlags & SECURITY_CONTEXT_TRACKING);
  EXPECT_FALSE(kLinkOpenFlags & SECURITY_EFFECTIVE_ONLY);
}

}  // namespace
}  // namespace vellumo::platform
