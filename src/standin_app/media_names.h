#pragma once

// The names the stand-in gives files after the media a meeting was imported
// from. Paths are this system's own (separators as on this system).

#include <string>
#include <string_view>

namespace vellumo::standin {

/// The extension of the file name, with its dot, when it is a short run of
/// letters and digits (it names the library's copy); empty otherwise.
std::string media_extension(std::string_view path);

/// The file name without its extension: the title of an imported meeting.
std::string stem_of(std::string_view path);

/// The transcript file that goes with a media file: same folder and name,
/// extension .txt.
std::string transcript_file_of(std::string_view media);

}  // namespace vellumo::standin
