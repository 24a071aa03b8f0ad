#include "agent_integration/target.h"

namespace vellumo::agents {

std::string_view state_word(TargetState state) {
  switch (state) {
    case TargetState::Present:
      return "present";
    case TargetState::Absent:
      return "absent";
    case TargetState::Added:
      return "added";
    case TargetState::Updated:
      return "updated";
    case TargetState::Removed:
      return "removed";
    case TargetState::Skipped:
      return "skipped";
    case TargetState::Failed:
      return "failed";
  }
  return "failed";
}

}  // namespace vellumo::agents
