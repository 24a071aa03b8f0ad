#include "standin_app/export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/utf8.h"

namespace vellumo::standin {
namespace {

std::uint32_t le32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Paragraphs of `text` for HTML: one <p> per line with text, blank lines
// dropped.
std::string html_paragraphs(std::string_view text) {
  std::string out;
  for (;;) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.find_first_not_of(" \t") != std::string_view::npos) {
      out += "<p>" + html_escape(line) + "</p>\n";
    }
    if (end == std::string_view::npos) {
      return out;
    }
    text.remove_prefix(end + 1);
  }
}

std::string or_none(std::string_view text, std::string_view none) {
  return text.empty() ? std::string(none) : std::string(text);
}

}  // namespace

std::string duration_text(std::optional<double> seconds) {
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0) {
    return "unknown";
  }
  const auto total = static_cast<std::uint64_t>(std::llround(*seconds));
  const std::uint64_t h = total / 3600;
  const std::uint64_t m = total / 60 % 60;
  const std::uint64_t s = total % 60;
  char text[48];
  if (h > 0) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                  static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(m),
                  static_cast<unsigned long long>(s));
  }
  return text;
}

std::string render_export(const Meeting& m, std::string_view transcript, ExportFormat format) {
  const std::string date = readable_time(m.created_at);
  const std::string length = duration_text(m.duration_seconds);
  const std::string title = or_none(m.title, "Untitled meeting");
  std::string out;
  switch (format) {
    case ExportFormat::Markdown:
      out = "# " + title + "\n\n";
      out += "- Date: " + date + "\n";
      out += "- Length: " + length + "\n";
      out += "- Source: " + m.source + "\n\n";
      out += "## Notes\n\n" + or_none(m.notes, "(none)") + "\n\n";
      out += "## Transcript\n\n" + or_none(transcript, "(empty)") + "\n";
      return out;
    case ExportFormat::Text:
      out = title + "\n" + std::string(std::min<std::uint64_t>(count_characters(title), 72), '=') +
            "\n\n";
      out += "Date: " + date + "\n";
      out += "Length: " + length + "\n";
      out += "Source: " + m.source + "\n\n";
      out += "Notes\n-----\n\n" + or_none(m.notes, "(none)") + "\n\n";
      out += "Transcript\n----------\n\n" + or_none(transcript, "(empty)") + "\n";
      return out;
    case ExportFormat::Html:
      out = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n";
      out += "<title>" + html_escape(title) + "</title>\n</head>\n<body>\n";
      out += "<h1>" + html_escape(title) + "</h1>\n";
      out += "<ul>\n<li>Date: " + html_escape(date) + "</li>\n<li>Length: " + length +
             "</li>\n<li>Source: " + html_escape(m.source) + "</li>\n</ul>\n";
      out += "<h2>Notes</h2>\n" +
             (m.notes.empty() ? std::string("<p>(none)</p>\n") : html_paragraphs(m.notes));
      out += "<h2>Transcript</h2>\n" +
             (transcript.empty() ? std::string("<p>(empty)</p>\n") : html_paragraphs(transcript));
      out += "</body>\n</html>\n";
      return out;
  }
  return out;
}

std::optional<double> wav_duration(std::string_view head, std::uint64_t file_size) {
  if (head.size() < 12 || head.substr(0, 4) != "RIFF" || head.substr(8, 4) != "WAVE") {
    return std::nullopt;
  }
  std::optional<std::uint32_t> byte_rate;
  std::size_t at = 12;
  while (at + 8 <= head.size()) {
    const std::string_view id = head.substr(at, 4);
    const std::uint64_t size = le32(head, at + 4);
    const std::size_t body = at + 8;
    if (id == "fmt ") {
      if (size < 16 || body + 16 > head.size()) {
        return std::nullopt;
      }
      byte_rate = le32(head, body + 8);
    } else if (id == "data") {
      if (!byte_rate || *byte_rate == 0 || body > file_size) {
        return std::nullopt;
      }
      // A header written before the length was known may claim more.
      const std::uint64_t bytes = std::min<std::uint64_t>(size, file_size - body);
      return static_cast<double>(bytes) / *byte_rate;
    }
    at = body + size + (size & 1);
  }
  return std::nullopt;
}

}  // namespace vellumo::standin
