#pragma once

// Files as the tests set them up and read them back: whole, byte for byte,
// their paths as UTF-8 text.

#include <filesystem>
#include <string>
#include <string_view>

namespace vellumo::test {

/// `text` (UTF-8) as a path, and a path as UTF-8 text, on every system.
std::filesystem::path path_of(std::string_view text);
std::string utf8_of(const std::filesystem::path& path);

/// Writes `bytes` to `path`, replacing what was there and creating the
/// folders above it; the test fails when that cannot be done.
void put_file(const std::filesystem::path& path, std::string_view bytes);
/// The whole content of a file; empty when it cannot be read.
std::string file_bytes(const std::filesystem::path& path);

}  // namespace vellumo::test
