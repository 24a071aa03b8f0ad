#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "core/json.h"
#include "core/json_tape.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the `meetings` rows of the command table. Each takes all
// the positional words, `meetings` first; the words at a `<id>` of its
// syntax have been checked by check_reference.

/// Resolves the meeting `reference`, sends `command` with its `id` and
/// prints the result; a meeting record as its summary when `summarise`.
Status send_for_meeting(const CliOptions& options, const std::string& reference,
                        std::string_view command, bool summarise);

/// Prints the text member `key` of the meeting's record as plain text (an
/// empty line when it is no text).
Status print_text_member(const CliOptions& options, const std::string& reference,
                         std::string_view key);

/// Reads the meeting, then saves it back with its member `key` (`title`,
/// `transcript` or `notes`) replaced by `value`.
Status edit_meeting(const CliOptions& options, const std::string& reference, std::string_view key,
                    std::string value);

Status record(const CliOptions& options, const std::vector<std::string>& words);
/// Sends the file made absolute.
Status import_media(const CliOptions& options, const std::vector<std::string>& words);
/// Each reference resolved in order; the title is --title, or null.
Status join(const CliOptions& options, const std::vector<std::string>& words);
/// The model is --model, or null.
Status transcribe(const CliOptions& options, const std::vector<std::string>& words);
Status rename_speaker(const CliOptions& options, const std::vector<std::string>& words);
/// Sends --confirm as `confirmed`.
Status labels(const CliOptions& options, const std::vector<std::string>& words);
/// --preset is checked before anything is sent.
Status generate_notes(const CliOptions& options, const std::vector<std::string>& words);
/// The text input (read first) as the meeting's `key`.
Status set_text(const CliOptions& options, const std::vector<std::string>& words,
                std::string_view key);
/// The path and the format are checked first.
Status export_meeting(const CliOptions& options, const std::vector<std::string>& words);
Status export_audio(const CliOptions& options, const std::vector<std::string>& words);
/// Refused without --confirm before anything else.
Status delete_meeting(const CliOptions& options, const std::vector<std::string>& words);

/// An empty reference would be a prefix of every ID: refused, as a usage
/// error, before anything else is looked at.
Status check_reference(const std::string& reference);

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
