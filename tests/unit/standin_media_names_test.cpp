#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "standin_app/media_names.h"

namespace vellumo::standin {
namespace {

TEST(StandinMediaNames, ExtensionStemAndTranscriptFile) {
  struct Row {
    const char* path;
    const char* extension;  // of the library's copy
    const char* stem;       // the imported meeting's title
    const char* transcript;
  };
  std::vector<Row> rows = {
      {"/m/talk.wav", ".wav", "talk", "/m/talk.txt"},
      {"/m/Talk.MP3", ".mp3", "Talk", "/m/Talk.txt"},
      {"/m/a.tar.gz", ".gz", "a.tar", "/m/a.tar.txt"},
      {"talk.wav", ".wav", "talk", "talk.txt"},
      {"/m/notes", "", "notes", "/m/notes.txt"},
      {"/m.d/notes", "", "notes", "/m.d/notes.txt"},
      {"/m/.hidden", "", ".hidden", "/m/.hidden.txt"},
      {"/m/.hidden.wav", ".wav", ".hidden", "/m/.hidden.txt"},
      {"/m/file.", "", "file", "/m/file.txt"},
      {"/m/a.we-bm", "", "a", "/m/a.txt"},
      {"/m/a.\xC3\xA9", "", "a", "/m/a.txt"},
      {"/m/a.abcdefghijk", ".abcdefghijk", "a", "/m/a.txt"},  // the longest kept
      {"/m/a.abcdefghijkl", "", "a", "/m/a.txt"},
  };
  if (platform::kPathStyle == PathStyle::Windows) {
    rows.push_back({"C:\\m.d\\Talk.WAV", ".wav", "Talk", "C:\\m.d\\Talk.txt"});
    rows.push_back({"C:\\m.d\\notes", "", "notes", "C:\\m.d\\notes.txt"});
  } else {
    // A backslash is part of a POSIX file name.
    rows.push_back({"/m/a.d\\notes", "", "a", "/m/a.txt"});
  }
  for (const Row& row : rows) {
    EXPECT_EQ(media_extension(row.path), row.extension) << row.path;
    EXPECT_EQ(stem_of(row.path), row.stem) << row.path;
    EXPECT_EQ(transcript_file_of(row.path), row.transcript) << row.path;
  }
}

}  // namespace
}  // namespace vellumo::standin
