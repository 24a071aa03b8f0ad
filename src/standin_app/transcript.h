#pragma once

// What the stand-in app does with transcript text. It recognises no speech:
// transcripts come from text files, and every operation here works on the
// lines of that text. A line "Name: text" is a turn of the speaker Name
// (a name of one to four words, at most 40 bytes, without a colon).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace vellumo::standin {

struct Turn {
  std::string_view speaker;
  std::string_view text;
};

/// The speaker and text of a line, or nullopt when the line names none.
std::optional<Turn> split_turn(std::string_view line);

/// Whether `name` can label a speaker (what split_turn accepts).
bool is_speaker_name(std::string_view name);

struct SpeakerStats {
  std::string name;
  std::uint64_t lines = 0;
  std::uint64_t words = 0;
  bool operator==(const SpeakerStats&) const = default;
};

/// The speakers in order of first appearance, with their lines and words.
std::vector<SpeakerStats> speakers_of(std::string_view transcript);

/// Every turn of `from` given to `to`; other lines unchanged.
std::string rename_speaker(std::string_view transcript, std::string_view from, std::string_view to);

/// The transcript without its speaker names.
std::string strip_speakers(std::string_view transcript);

/// A tidied copy: filler words (um, uh, erm, ...) and words said twice in a
/// row dropped, spacing made single, each line begun with a capital
/// letter, lines left empty dropped and runs of blank lines made one.
std::string clean_transcript(std::string_view transcript);

/// A title from the first words of the first line with text (at most eight
/// words, up to the end of its first sentence); empty when there is none.
std::string title_from(std::string_view transcript);

/// The text of a transcript file: valid UTF-8 (the error says otherwise),
/// a byte order mark dropped, line ends made line feeds, trailing blank
/// lines and spaces at line ends dropped.
Result<std::string, std::string> transcript_from_file(std::string_view bytes);

enum class NotesPreset { Summary, Tasks, Speakers, Brief, FormattedTranscript };

std::optional<NotesPreset> notes_preset(std::string_view name);

/// The first line of all notes the stand-in makes: they are taken from
/// the transcript's own lines, not written by a language model.
inline constexpr std::string_view kNotesHeader =
    "Notes taken by the Vellumo stand-in app from the transcript's own lines; it has no "
    "language model.";

/// Notes for a transcript that has text.
std::string make_notes(NotesPreset preset, std::string_view transcript);

}  // namespace vellumo::standin
