#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/cli_options.h"
#include "core/json.h"
#include "core/json_tape.h"
#include "core/result.h"

namespace vellumo {

/// The `meetings` family; `words` are the positional words after
/// `meetings`.
Status run_meetings(const std::vector<std::string>& words, const CliOptions& options);

/// A meeting reference (a full 32-hex-digit ID, `latest`, or a unique
/// prefix) made into a meeting ID; a full ID costs no request.
Result<std::string> resolve_meeting_id(const CliOptions& options, const std::string& reference);

/// The 15-member summary printed in place of a meeting record: the record's
/// members, with the lengths of its transcript and notes in characters
/// instead of their texts.
Json meeting_summary(const JsonNode& record);

/// The `format` sent for an export: `--format` as given, else the
/// extension of `path`'s last component in lower case ("md" when it has
/// none), mapped to the app's format names.
Result<std::string> export_format(const CliOptions& options, std::string_view path);

/// Polls a meeting every 2 seconds until its status is no longer a running
/// one, then prints its summary.
Status wait_for_meeting(const CliOptions& options, const std::string& reference);

}  // namespace vellumo
