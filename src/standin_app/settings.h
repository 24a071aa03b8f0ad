#pragma once

// The stand-in app's settings and the models it offers. It has no speech
// models: its one "speech model" reads transcripts from text files, and
// its one "notes model" picks lines from the transcript.

#include <string_view>

#include "core/json.h"
#include "core/result.h"

namespace vellumo::standin {

inline constexpr std::string_view kSpeechModel = "transcript-file";
inline constexpr std::string_view kNotesModel = "transcript-lines";

/// asrModel, meetingAsrModel ("" means: as asrModel), meetingSpeakerLabels,
/// notesModel, language and vocabulary (a list of words).
Json default_settings();

/// `current` with the members of `changes` put in. Refuses a key the
/// settings do not have and a value of the wrong kind (an unknown model
/// among them); the error names the key.
Result<Json, std::string> apply_settings(const Json& current, const Json& changes);

/// Settings read back from the settings file: the defaults, with every
/// saved member that is still valid put in.
Json settings_from_saved(const Json& saved);

/// The get_model_library answer.
Json model_library();

}  // namespace vellumo::standin
