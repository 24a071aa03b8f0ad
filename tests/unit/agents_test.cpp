#include "agent_integration/agents.h"

#include <gtest/gtest.h>

#include "agent_integration/agent_paths.h"

namespace vellumo::agents {
namespace {

TEST(Agents, SamePathComparesComponents) {
  EXPECT_TRUE(same_path("/opt/v/vellumo-cli", "/opt//v/vellumo-cli"));
  EXPECT_FALSE(same_path("/opt/v/vellumo-cli", "/opt/V/vellumo-cli"));
  EXPECT_FALSE(same_path("/opt/v/vellumo-cli", "opt/v/vellumo-cli"));
  EXPECT_FALSE(same_path(R"(C:\Tools\vellumo-cli.exe)", R"(D:\Tools\vellumo-cli.exe)"));
  EXPECT_FALSE(same_path("C:/Tools/vellumo-cli.exe", "D:/Tools/vellumo-cli.exe"));
}

TEST(Agents, PathListsSplit) {
  using Entries = std::vector<std::string>;
  EXPECT_EQ(split_windows_path_list(R"(C:\x;"C:\a;b";C:\c)"),
            (Entries{R"(C:\x)", R"(C:\a;b)", R"(C:\c)"}));
  EXPECT_EQ(split_windows_path_list(R"(;"C:\a"b;)"), (Entries{"", R"(C:\ab)", ""}));
  EXPECT_EQ(split_posix_path_list("/a::/b;c"), (Entries{"/a", "", "/b;c"}));
}

}  // namespace
}  // namespace vellumo::agents
