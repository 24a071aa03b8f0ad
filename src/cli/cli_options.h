#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "app_link/app_link.h"
#include "core/numbers.h"
#include "core/result.h"

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

  /// Whether a request may launch the app when nobody serves the link.
  app_link::Launch launch() const {
    return no_launch ? app_link::Launch::Never : app_link::Launch::Allowed;
  }

  /// The value of option `name`, or nullptr when it was not given.
  const std::string* value(std::string_view name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }

  /// The value of option `name` as a whole number, `fallback` when it was
  /// not given; a value that is no such number is the usage error `usage`.
  Result<std::uint64_t> count(std::string_view name, std::uint64_t fallback,
                              std::string_view usage) const {
    const std::string* given = value(name);
    if (!given) {
      return fallback;
    }
    const auto parsed = parse_unsigned(*given);
    if (!parsed) {
      return CliError::usage(std::string(usage));
    }
    return *parsed;
  }
};

}  // namespace vellumo
