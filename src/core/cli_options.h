#pragma once

#include <map>
#include <string>

namespace vellumo {

/// The global options of one run, built once by the entry and read-only
/// afterwards.
struct CliOptions {
  /// `--name value` and `--name=value`, by name without the leading `--`;
  /// a later occurrence replaces an earlier one.
  std::map<std::string, std::string, std::less<>> values;
  bool detach = false;     ///< --detach
  bool no_launch = false;  ///< --no-launch
  bool confirm = false;    ///< --confirm or --yes
  bool cleaned = false;    ///< --cleaned

  /// The value of option `name`, or nullptr when it was not given.
  const std::string* value(std::string_view name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

}  // namespace vellumo
