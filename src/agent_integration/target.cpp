#include "agent_integration/target.h"

#include "core/text.h"
#include "core/utf8.h"
#include "platform/files.h"

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

TargetState decide_entry(Mode mode, const EntryFacts& facts) {
  switch (mode) {
    case Mode::Status:
      if (facts.equal) {
        return TargetState::Present;
      }
      if (facts.absent) {
        return TargetState::Absent;
      }
      return TargetState::Skipped;
    case Mode::Install:
      if (facts.equal) {
        return TargetState::Present;
      }
      if (facts.absent) {
        return TargetState::Added;
      }
      if (facts.own) {
        return TargetState::Updated;
      }
      return TargetState::Skipped;
    case Mode::Remove:
      if (facts.own) {
        return TargetState::Removed;
      }
      if (facts.absent) {
        return TargetState::Absent;
      }
      return TargetState::Skipped;
  }
  return TargetState::Skipped;
}

TargetResult edit_target(std::string_view name, const std::string& path, std::string_view missing,
                         const EditPlanner& plan) {
  const auto line = [&](TargetState state, std::string detail) {
    return TargetResult{std::string(name), state, std::move(detail)};
  };
  // Planned again from the new text when the file changes meanwhile.
  std::optional<EditPlan> planned;
  auto edited = files::edit_file(path, [&](const std::optional<std::string>& read) {
    const std::string_view text = read ? std::string_view(*read) : missing;
    if (!is_valid_utf8(text)) {
      planned.reset();
      return std::optional<std::string>();
    }
    planned = plan(text);
    return planned->new_text;
  });
  if (!edited) {
    return line(TargetState::Failed, std::move(edited).error());
  }
  if (edited->left_alone) {
    return line(TargetState::Skipped, std::move(*edited->left_alone));
  }
  if (!planned) {
    return line(TargetState::Failed, std::string(kNotUtf8Text));
  }
  return line(planned->state, planned->detail ? std::move(*planned->detail) : path);
}

}  // namespace vellumo::agents
