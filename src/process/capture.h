#pragma once

// What a reader keeps of one output stream of a child process.

#include <cstddef>
#include <string>
#include <string_view>

namespace vellumo::process {

/// The bytes of one stream, up to a fixed number; further bytes are counted
/// as dropped and thrown away.
class CaptureBuffer {
 public:
  explicit CaptureBuffer(std::size_t max_bytes) : max_bytes_(max_bytes) {}

  void append(std::string_view bytes);

  /// True when bytes were thrown away.
  bool truncated() const { return truncated_; }
  const std::string& bytes() const { return bytes_; }

  /// The stream's text: the bytes when they are UTF-8, otherwise empty.
  /// When bytes were thrown away, a character cut in two at the limit is
  /// left out rather than making the whole text invalid.
  std::string text() const;

 private:
  std::size_t max_bytes_;
  std::string bytes_;
  bool truncated_ = false;
};

}  // namespace vellumo::process
