#include "process/capture.h"

namespace vellumo::process {

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) {
        low = 0xA0;  // no overlong forms
      } else if (lead == 0xED) {
        high = 0x9F;  // no surrogates
      }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) {
        low = 0x90;  // no overlong forms
      } else if (lead == 0xF4) {
        high = 0x8F;  // nothing above U+10FFFF
      }
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) {
      return false;
    }
    if (p[1] < low || p[1] > high) {
      return false;
    }
    for (std::size_t i = 2; i < length; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) {
        return false;
      }
    }
    p += length;
  }
  return true;
}

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
