#pragma once

#include <cstddef>
#include <string>

#include "core/result.h"

namespace vellumo {

/// Text input larger than this is refused rather than read into memory.
inline constexpr std::size_t kMaxTextInput = std::size_t{256} << 20;

/// The text of --text, or of the file that --file names (`-` for standard
/// input), exactly as given or read: no trimming, line ends and a byte-order
/// mark kept. Exactly one of the two options must be given.
Result<std::string> read_text_input(const std::string* text, const std::string* file);

/// `path` made absolute against the current folder, without normalising
/// `.` or `..` and without checking that it exists.
Result<std::string> absolute_path(const std::string& path);

}  // namespace vellumo
