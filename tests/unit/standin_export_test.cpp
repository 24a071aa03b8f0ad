#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "standin_app/export.h"
#include "standin_app/library.h"

namespace vellumo::standin {
namespace {

std::string wav(std::uint32_t byte_rate, std::uint32_t data_size, std::string extra_chunk = {}) {
  auto le = [](std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) {
      s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return s;
  };
  std::string fmt = std::string("\x01\x00\x01\x00", 4) + le(byte_rate / 2) + le(byte_rate) +
                    std::string("\x02\x00\x10\x00", 4);
  return "RIFF" + le(36 + data_size) + "WAVE" + extra_chunk + "fmt " + le(16) + fmt + "data" +
         le(data_size);
}

TEST(StandinExport, WavLengthsAndDocuments) {
  EXPECT_EQ(wav_duration(wav(32000, 64000), 44 + 64000), 2.0);
  // A data size claimed before the length was known, and an odd-sized
  // chunk (padded) before the format.
  EXPECT_EQ(wav_duration(wav(16000, 0xFFFFFFFF), 44 + 8000), 0.5);
  const std::string odd =
      "LIST" + std::string("\x03\x00\x00\x00", 4) + "abc" + std::string(1, '\0');
  EXPECT_EQ(wav_duration(wav(16000, 16000, odd), 56 + 16000), 1.0);
  EXPECT_FALSE(wav_duration(wav(0, 100), 144));
  EXPECT_FALSE(wav_duration("RIFF\x10\x00\x00\x00WAVEdata", 100));
  EXPECT_FALSE(wav_duration("ID3 not a wav file", 1000));
  EXPECT_FALSE(wav_duration(wav(16000, 100).substr(0, 30), 144));

  EXPECT_EQ(duration_text(std::nullopt), "unknown");
  EXPECT_EQ(duration_text(4.6), "0:05");
  EXPECT_EQ(duration_text(754), "12:34");
  EXPECT_EQ(duration_text(3723), "1:02:03");

  Meeting m;
  m.title = "Plan <A> & \"B\"";
  m.created_at = "2024-05-01T12:34:56.000Z";
  m.duration_seconds = 65;
  m.source = "file";
  m.notes = "n1\n\nn2";
  EXPECT_EQ(render_export(m, "Alice: hi", ExportFormat::Markdown),
            "# Plan <A> & \"B\"\n\n- Date: 2024-05-01 12:34 UTC\n- Length: 1:05\n- Source: file\n\n"
            "## Notes\n\nn1\n\nn2\n\n## Transcript\n\nAlice: hi\n");
  EXPECT_EQ(render_export(m, "", ExportFormat::Text),
            "Plan <A> & \"B\"\n==============\n\nDate: 2024-05-01 12:34 UTC\nLength: 1:05\n"
            "Source: file\n\nNotes\n-----\n\nn1\n\nn2\n\nTranscript\n----------\n\n(empty)\n");
  const std::string html = render_export(m, "a < b\n\nc", ExportFormat::Html);
  EXPECT_NE(html.find("<title>Plan &lt;A&gt; &amp; &quot;B&quot;</title>"), std::string::npos);
  EXPECT_NE(html.find("<h2>Transcript</h2>\n<p>a &lt; b</p>\n<p>c</p>\n</body>"),
            std::string::npos);
  EXPECT_EQ(html.find("<A>"), std::string::npos);
}

}  // namespace
}  // namespace vellumo::standin
