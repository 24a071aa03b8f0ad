#include <gtest/gtest.h>

#include <set>
#include <string>

#include "standin_app/library.h"

namespace vellumo::standin {
namespace {

TEST(StandinLibrary, FileRoundTripAndRecovery) {
  Meeting m;
  m.id = "0123456789abcdef0123456789abcdef";
  m.title = "Weekly";
  m.status = std::string(kTranscribing);
  m.created_at = "2024-05-01T12:00:00.000Z";
  m.source = "file";
  m.duration_seconds = 2.5;
  m.transcript = "Alice: hi\nBob: yo";
  m.cleaned_transcript = "Alice: Hi";
  m.recognition_warnings = {"w"};
  m.media_path = "/data/media/x.wav";
  Library library;
  library.meetings = {m};
  library.dictations = {{"d1", "2024-05-01T12:00:00.000Z", 1.5, "", {"no speech"}}};

  auto back = library_from_text(library_text(library));
  ASSERT_TRUE(back) << back.error();
  ASSERT_EQ(back->meetings.size(), 1u);
  const Meeting& read = back->meetings[0];
  // A job cannot outlive the app: the meeting says so instead of running
  // for ever.
  EXPECT_EQ(read.status, "failed");
  EXPECT_EQ(read.error, "Vellumo stopped while this meeting was transcribing.");
  Json expected = meeting_json(m);
  expected["status"] = "failed";
  expected["error"] = "Vellumo stopped while this meeting was transcribing.";
  EXPECT_EQ(meeting_json(read), expected);
  EXPECT_EQ(expected["speakerCount"], 2);
  ASSERT_EQ(back->dictations.size(), 1u);
  EXPECT_EQ(dictation_json(back->dictations[0]), dictation_json(library.dictations[0]));

  // The record carries every member the CLI reads.
  for (const char* member :
       {"id", "title", "status", "createdAt", "durationSeconds", "source", "transcriptionModel",
        "speakerLabels", "speakerCount", "transcript", "cleanedTranscript", "notes",
        "recognitionCompleteness", "recordingWarnings", "recognitionWarnings", "error"}) {
    EXPECT_TRUE(expected.contains(member)) << member;
  }
  m.speaker_labels = false;
  EXPECT_EQ(meeting_json(m)["speakerCount"], nullptr);
  EXPECT_EQ(meeting_entry(m)["transcriptChars"], 17);

  for (const char* text : {"{}", "[]", R"({"meetings":[{"title":"no id"}]})",
                           R"({"meetings":[{"id":"a"},{"id":"a"}]})", "{\"meetings\":[]"}) {
    EXPECT_FALSE(library_from_text(text)) << text;
  }

  std::set<std::string> ids;
  for (int i = 0; i < 100; ++i) {
    const std::string id = new_id();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 100u);
  const std::string now = now_text();
  ASSERT_EQ(now.size(), 24u) << now;
  EXPECT_EQ(now[10], 'T');
  EXPECT_EQ(now.back(), 'Z');
  EXPECT_GE(now.substr(0, 4), "2024");
}

}  // namespace
}  // namespace vellumo::standin
