#include "process/capture.h"

#include "core/utf8.h"

namespace vellumo::process {

void CaptureBuffer::append(std::string_view bytes) {
  const std::size_t room = max_bytes_ - bytes_.size();
  if (bytes.size() > room) {
    truncated_ = true;
    bytes = bytes.substr(0, room);
  }
  bytes_.append(bytes);
}

std::string CaptureBuffer::text() const {
  std::string_view kept = bytes_;
  if (truncated_) {
    // Drop the start of a character whose remaining bytes were thrown away:
    // at most three continuation bytes and the lead byte before them.
    std::size_t cut = kept.size();
    std::size_t back = 0;
    while (cut > 0 && back < 3 && (static_cast<unsigned char>(kept[cut - 1]) & 0xC0) == 0x80) {
      --cut;
      ++back;
    }
    if (cut > 0 && static_cast<unsigned char>(kept[cut - 1]) >= 0xC0) {
      const auto lead = static_cast<unsigned char>(kept[cut - 1]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
      if (back + 1 < length) {
        kept = kept.substr(0, cut - 1);
      }
    }
  }
  return is_valid_utf8(kept) ? std::string(kept) : std::string();
}

}  // namespace vellumo::process
