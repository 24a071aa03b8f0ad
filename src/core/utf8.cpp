#include "core/utf8.h"

#include <cstdint>
#include <cstring>

namespace vellumo {
namespace {

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

Utf8Step decode_utf8(std::string_view text, std::size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    return {true, 1, b};
  }
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  char32_t cp;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    cp = b & 0x0F;
    if (b == 0xE0) {
      low = 0xA0;
    }
    if (b == 0xED) {
      high = 0x9F;
    }
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    cp = b & 0x07;
    if (b == 0xF0) {
      low = 0x90;
    }
    if (b == 0xF4) {
      high = 0x8F;
    }
  } else {
    return {false, 1, 0};
  }
  for (std::size_t j = 1; j <= need; ++j) {
    if (i + j >= text.size()) {
      return {false, j, 0};
    }
    const auto c = static_cast<unsigned char>(text[i + j]);
    if (c < (j == 1 ? low : 0x80) || c > (j == 1 ? high : 0xBF)) {
      return {false, j, 0};
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  return {true, need + 1, cp};
}

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
    const Utf8Step step = decode_utf8(text, i);
    if (!step.valid) {
      return false;
    }
    i += step.length;
  }
  return true;
}

std::uint64_t count_characters(std::string_view text) {
  std::uint64_t n = 0;
  for (char c : text) {
    n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  return n;
}

std::optional<std::u16string> utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Step step = decode_utf8(text, i);
    if (!step.valid) {
      return std::nullopt;
    }
    i += step.length;
    char32_t c = step.code_point;
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
