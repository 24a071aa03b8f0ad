#include "core/utf8.h"

#include <cstdint>
#include <cstring>

namespace vellumo {
namespace {

// Decodes the sequence at text[i]; returns its length, or 0 when it is not
// well-formed. Stores the scalar value in `out`.
std::size_t decode(std::string_view text, std::size_t i, char32_t& out) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t length;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, min = 0x80, out = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, min = 0x800, out = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, min = 0x10000, out = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) {
      return 0;
    }
    out = (out << 6) | (byte(k) & 0x3F);
  }
  if (out < min || out > 0x10FFFF || (out >= 0xD800 && out <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// What becomes of an unpaired surrogate.
enum class Unpaired { Fail, Replace, Keep };

std::optional<std::string> from_utf16(std::u16string_view text, Unpaired unpaired) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (unpaired == Unpaired::Fail) {
        return std::nullopt;
      }
      if (unpaired == Unpaired::Replace) {
        c = 0xFFFD;
      }
    }
    append_utf8(out, c);
  }
  return out;
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    // Runs of ASCII are by far the common case: skip them sixteen bytes at
    // a time (two plain loads; the order of the bytes does not matter).
    while (i + 16 <= n) {
      std::uint64_t a, b;
      std::memcpy(&a, text.data() + i, 8);
      std::memcpy(&b, text.data() + i + 8, 8);
      if ((a | b) & 0x8080808080808080ULL) {
        break;
      }
      i += 16;
    }
    while (i < n && static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    }
    if (i >= n) {
      break;
    }
    char32_t c;
    const std::size_t length = decode(text, i, c);
    if (length == 0) {
      return false;
    }
    i += length;
  }
  return true;
}

std::optional<std::u16string> utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    const std::size_t length = decode(text, i, c);
    if (length == 0) {
      return std::nullopt;
    }
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::optional<std::string> utf16_to_utf8(std::u16string_view text) {
  return from_utf16(text, Unpaired::Fail);
}

std::string utf16_to_utf8_lossy(std::u16string_view text) {
  return *from_utf16(text, Unpaired::Replace);
}

std::string utf16_to_utf8_marked(std::u16string_view text) {
  return *from_utf16(text, Unpaired::Keep);
}

}  // namespace vellumo
