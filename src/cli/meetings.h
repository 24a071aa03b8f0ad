#pragma once

#include <string>
#include <string_view>

#include "cli/call.h"
#include "cli/cli_options.h"
#include "core/json.h"
#include "core/json_tape.h"
#include "core/result.h"

namespace vellumo {

// The handlers of the `meetings` rows of the command table. The words at
// every `<id>` have been checked by check_reference.

/// How a meeting command's reply is printed.
enum class Reply : bool {
  AsItComes,
  RecordAsSummary,  ///< a meeting record (an object with a `transcript`) as its summary
};

/// Resolves the meeting `<id>`, sends `command` with its `id` and prints
/// the result.
Status send_for_meeting(const Call& call, std::string_view command, Reply reply);

/// The rows that send one command for one meeting.
template <Literal command, Reply reply = Reply::AsItComes>
Status for_meeting(const Call& call) {
  return send_for_meeting(call, command.view(), reply);
}

/// Prints the text member `key` of the meeting's record as plain text (an
/// empty line when it is no text).
Status print_text_member(const Call& call, std::string_view key);

template <Literal key>
Status text_member(const Call& call) {
  return print_text_member(call, key.view());
}

/// Replaces the meeting's text member `key` (`transcript` or `notes`) with
/// the text input, which is read first.
Status replace_text(const Call& call, std::string_view key);

template <Literal key>
Status set_text(const Call& call) {
  return replace_text(call, key.view());
}

/// The transcript, or with --cleaned the cleaned-up one.
Status transcript(const Call& call);
Status rename_meeting(const Call& call);
Status record_start(const Call& call);
Status record_stop(const Call& call);
/// Sends the file made absolute.
Status import_media(const Call& call);
/// Each reference resolved in order; the title is --title, or null.
Status join(const Call& call);
/// The model is --model, or null.
Status transcribe(const Call& call);
Status rename_speaker(const Call& call);
/// Sends --confirm as `confirmed`.
Status labels(const Call& call);
/// --preset is checked before anything is sent.
Status generate_notes(const Call& call);
/// The path and the format are checked first.
Status export_meeting(const Call& call);
Status export_audio(const Call& call);
/// Refused without --confirm before anything else.
Status delete_meeting(const Call& call);
/// Polls a meeting every 2 seconds until its status is no longer a running
/// one, then prints its summary.
Status wait_for_meeting(const Call& call);

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

/// The `format` sent for an export to `path`: --format as given, else the
/// extension of `path`'s last component in lower case ("md" when it has
/// none), mapped to the app's format names.
Result<std::string> export_format(const Call& call, std::string_view path);

}  // namespace vellumo
