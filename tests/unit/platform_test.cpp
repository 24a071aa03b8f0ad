#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace vellumo {
namespace {

TEST(Files, SystemErrorText) {
#ifdef _WIN32
  const std::string text = platform::system_error_text(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_GT(text.size(), std::string(" (os error 2)").size());
  EXPECT_EQ(text.substr(text.size() - 13), " (os error 2)");
#else
  EXPECT_EQ(platform::system_error_text(ENOENT), "No such file or directory (os error 2)");
#endif
}

}  // namespace
}  // namespace vellumo
