#pragma once

// Header only: the fuzz harnesses use it too, without GoogleTest.

#include <string>

#include "core/json.h"

namespace vellumo::test {

/// `value` as the program prints it (write_json_pretty), as one text: for
/// expected output and for the messages of failed checks.
inline std::string to_json_pretty(const Json& value) {
  std::string out;
  write_json_pretty(out, value);
  return out;
}

}  // namespace vellumo::test
