#include "agent_integration/agents.h"

#include <gtest/gtest.h>

#include "agent_integration/target.h"

namespace vellumo::agents {
namespace {

TEST(Agents, StateWords) {
  EXPECT_EQ(state_word(TargetState::Present), "present");
  EXPECT_EQ(state_word(TargetState::Absent), "absent");
  EXPECT_EQ(state_word(TargetState::Added), "added");
  EXPECT_EQ(state_word(TargetState::Updated), "updated");
  EXPECT_EQ(state_word(TargetState::Removed), "removed");
  EXPECT_EQ(state_word(TargetState::Skipped), "skipped");
  EXPECT_EQ(state_word(TargetState::Failed), "failed");
}

TEST(Agents, SamePathComparesComponents) {
  EXPECT_TRUE(same_path("/opt/v/vellumo-cli", "/opt//v/vellumo-cli"));
  EXPECT_FALSE(same_path("/opt/v/vellumo-cli", "/opt/V/vellumo-cli"));
  EXPECT_FALSE(same_path("/opt/v/vellumo-cli", "opt/v/vellumo-cli"));
}

}  // namespace
}  // namespace vellumo::agents
