#pragma once

// The marker file: data folder/agent-integration.json, which
// remembers the CLI path of the last install or removal.

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace vellumo::agents {

/// The name of the marker file inside the data folder.
inline constexpr std::string_view kMarkerFileName = "agent-integration.json";

struct Marker {
  std::string cli;       ///< the CLI path of the last run that installed or removed
  bool removed = false;  ///< true after remove, false after install

  friend bool operator==(const Marker&, const Marker&) = default;
};

/// The marker text: "{", `  "cli": ` + the path as a JSON string + ",",
/// `  "removed": true|false`, "}", joined by line feeds, none at the end.
std::string marker_text(std::string_view cli_path, bool removed);

/// Reads a marker from `text`: strict JSON, either an object with exactly
/// one string `cli` and exactly one boolean `removed` (other members are
/// ignored), or the two-element array [cli, removed]. nullopt otherwise.
std::optional<Marker> parse_marker(std::string_view text);

/// Writes the marker into the data folder `data`, replacing the file as a
/// whole by a file of its own (files::write_own_file). Does nothing when
/// `cli_path` is not valid UTF-8; every error is ignored.
void write_marker(const files::Folder& data, std::string_view cli_path, bool removed);

/// The marker in the data folder `data`, or nullopt when the file cannot
/// be opened, read or understood, or is no regular file of this user's (a
/// link at its name, or a file someone else made, is none).
std::optional<Marker> read_marker(const files::Folder& data);

}  // namespace vellumo::agents
