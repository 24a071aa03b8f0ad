#pragma once

// What the stand-in app writes when it exports a meeting, and what it can
// tell about audio: the length of a WAV file, read from its header.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "standin_app/library.h"

namespace vellumo::standin {

enum class ExportFormat { Markdown, Text, Html };

/// The document for `meeting` with `transcript` as its transcript: title,
/// date, length and source, then the notes, then the transcript.
std::string render_export(const Meeting& meeting, std::string_view transcript, ExportFormat format);

/// "0:05", "12:34", "1:02:03"; "unknown" without a length.
std::string duration_text(std::optional<double> seconds);

/// How many bytes of a file wav_duration needs to see.
inline constexpr std::size_t kWavHeadBytes = 65536;

/// The length in seconds of a WAV (RIFF/WAVE, PCM or any other encoding
/// with a fixed byte rate) whose first bytes are `head` and whose whole
/// size is `file_size`; nullopt when it is no WAV file this can read.
std::optional<double> wav_duration(std::string_view head, std::uint64_t file_size);

}  // namespace vellumo::standin
