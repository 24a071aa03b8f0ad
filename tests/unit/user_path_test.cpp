#include "agent_integration/user_path.h"

#include <gtest/gtest.h>

#include <map>

namespace vellumo::agents {
namespace {

EnvLookup env(std::map<std::string, std::string> variables) {
  return [variables](std::string_view name) -> std::optional<std::string> {
    auto it = variables.find(std::string(name));
    return it == variables.end() ? std::nullopt : std::optional(it->second);
  };
}

TEST(UserPath, SameFolder) {
  const auto none = env({});
  EXPECT_TRUE(same_folder(R"(c:\TOOLS\)", R"(C:\Tools)", none));
  EXPECT_TRUE(same_folder(R"(  C:\Tools\\  )", R"(C:\Tools\)", none));
  EXPECT_FALSE(same_folder("C:/Tools", R"(C:\Tools)", none));
  EXPECT_FALSE(same_folder("C:\\T\xc3\x84", "C:\\T\xc3\xa4", none));
  EXPECT_TRUE(same_folder(R"(%TOOLS_HOME%\)", R"(C:\Tools)", env({{"TOOLS_HOME", R"(C:\Tools)"}})));
  EXPECT_FALSE(same_folder(R"(%TOOLS_HOME%\)", R"(C:\Tools)", none));
  EXPECT_TRUE(same_folder("%TOOLS_HOME%", "%tools_home%", none));
  EXPECT_TRUE(same_folder(R"(%A%\%B%)", R"(C:\x\y)", env({{"A", R"(C:\x)"}, {"B", "y"}})));
  // A substituted value is not scanned again; a lone % stays.
  EXPECT_TRUE(same_folder("%A%", "%B%", env({{"A", "%B%"}, {"B", "no"}})));
  EXPECT_TRUE(same_folder(R"(C:\50%)", R"(C:\50%)", none));
}

TEST(UserPath, PlansChangesFromTheEntryList) {
  const auto none = env({});
  const std::string folder = R"(C:\Tools)";
  auto plan = plan_user_path(Mode::Status, R"(C:\Windows;c:\TOOLS\)", folder, none);
  EXPECT_EQ(plan.state, TargetState::Present);
  EXPECT_FALSE(plan.new_value);

  plan = plan_user_path(Mode::Install, R"(C:\a; ;C:\b;)", folder, none);
  EXPECT_EQ(plan.state, TargetState::Added);
  EXPECT_EQ(plan.new_value, R"(C:\a;C:\b;C:\Tools)");

  plan = plan_user_path(Mode::Install, " C:\\a ;C:\\b", folder, none);
  EXPECT_EQ(plan.new_value, " C:\\a ;C:\\b;C:\\Tools");

  plan = plan_user_path(Mode::Install, "", folder, none);
  EXPECT_EQ(plan.new_value, R"(C:\Tools)");

  plan = plan_user_path(Mode::Install, R"(C:\Tools)", folder, none);
  EXPECT_EQ(plan.state, TargetState::Present);
  EXPECT_FALSE(plan.new_value);

  plan = plan_user_path(Mode::Remove, R"(C:\Tools;C:\x;%T%;;%OTHER%)", folder,
                        env({{"T", R"(C:\Tools\)"}}));
  EXPECT_EQ(plan.state, TargetState::Removed);
  EXPECT_EQ(plan.new_value, R"(C:\x;%OTHER%)");

  plan = plan_user_path(Mode::Remove, R"(C:\x)", folder, none);
  EXPECT_EQ(plan.state, TargetState::Absent);
  EXPECT_FALSE(plan.new_value);
}

}  // namespace
}  // namespace vellumo::agents
