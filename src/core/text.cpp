#include "core/text.h"

#include <cstdint>

#include "core/utf8.h"

namespace vellumo {
namespace {

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
    const Utf8Step step = decode_utf8(text, i);
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
    const Utf8Step step = decode_utf8(text, i);
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
    const Utf8Step step = decode_utf8(text, start);
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
