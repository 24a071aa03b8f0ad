#include "core/text.h"

#include <cstdint>

namespace vellumo {
namespace {

// One step of UTF-8 decoding at `i`: a well-formed character (valid, its
// length and code point), or the maximal ill-formed subpart there (its
// length, at least 1).
struct Step {
  bool valid;
  std::size_t length;
  char32_t code_point;
};

Step decode(std::string_view text, std::size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    return {true, 1, b};
  }
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
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
  std::size_t j = 1;
  for (; j <= need; ++j) {
    if (i + j >= text.size()) {
      return {false, j, 0};
    }
    const auto c = static_cast<unsigned char>(text[i + j]);
    const unsigned char lo = j == 1 ? low : 0x80;
    const unsigned char hi = j == 1 ? high : 0xBF;
    if (c < lo || c > hi) {
      return {false, j, 0};
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  return {true, need + 1, cp};
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// ED A0..BF 80..BF: a surrogate in UTF-8's form.
bool marked_surrogate(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  return i + 3 <= text.size() && byte(0) == 0xED && byte(1) >= 0xA0 && byte(1) <= 0xBF &&
         (byte(2) & 0xC0) == 0x80;
}

}  // namespace

std::string lossy_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Step step = decode(text, i);
    if (step.valid) {
      out.append(text, i, step.length);
    } else {
      out += "\xEF\xBF\xBD";
    }
    i += marked_surrogate(text, i) ? 3 : step.length;
  }
  return out;
}

std::string_view trim_start(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Step step = decode(text, i);
    if (!step.valid || !is_white_space(step.code_point)) {
      break;
    }
    i += step.length;
  }
  return text.substr(i);
}

std::string_view trim_end(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    // Find the start of the last character: step back over continuation
    // bytes (at most three).
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    const Step step = decode(text, start);
    if (!step.valid || start + step.length != end || !is_white_space(step.code_point)) {
      break;
    }
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::size_t line_end = end;
    if (line_end > start && text[line_end - 1] == '\r') {
      --line_end;
    }
    lines.push_back(text.substr(start, line_end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace vellumo
