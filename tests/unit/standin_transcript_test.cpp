#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_app/transcript.h"

namespace vellumo::standin {
namespace {

TEST(StandinTranscript, SpeakerTurns) {
  auto turn = split_turn("Dr. Ada Lovelace: Hello:  there ");
  ASSERT_TRUE(turn);
  EXPECT_EQ(turn->speaker, "Dr. Ada Lovelace");
  EXPECT_EQ(turn->text, "Hello:  there");
  EXPECT_EQ(split_turn("Bob:")->text, "");
  // Not speakers: a time, a link, too many words, a leading space, none.
  for (const char* line : {"10:30 we start", "see https://x.org", "one two three four five: x",
                           " Bob: hi", ": hi", "no colon at all", "Bob:hi"}) {
    EXPECT_FALSE(split_turn(line)) << line;
  }
  EXPECT_FALSE(is_speaker_name(std::string(41, 'a')));
  EXPECT_TRUE(is_speaker_name(std::string(40, 'a')));
  EXPECT_FALSE(is_speaker_name("\xC3"));  // not UTF-8

  const std::string transcript =
      "Alice: Good morning.\nBob: Hi all, hi.\n\nnarration without a speaker\nAlice: Let's go";
  EXPECT_EQ(speakers_of(transcript), (std::vector<SpeakerStats>{{"Alice", 2, 4}, {"Bob", 1, 3}}));
  EXPECT_EQ(rename_speaker(transcript, "Alice", "Ann Lee"),
            "Ann Lee: Good morning.\nBob: Hi all, hi.\n\nnarration without a speaker\nAnn Lee: "
            "Let's go");
  EXPECT_EQ(rename_speaker("Al: x\nAlice: y", "Al", "B"), "B: x\nAlice: y");
  EXPECT_EQ(strip_speakers(transcript),
            "Good morning.\nHi all, hi.\n\nnarration without a speaker\nLet's go");
  // Tabs part words too.
  EXPECT_EQ(speakers_of("Ann: one\ttwo  three")[0].words, 3u);
}

TEST(StandinTranscript, CleaningAndTitles) {
  EXPECT_EQ(clean_transcript("Alice: um, so we we start   now. Uh.\n\n\n\nBob:   erm\nthe the, end"
                             "\nit is is, fine\nwell um. next"),
            "Alice: So we start now.\n\nThe, end\nIt is, fine\nWell. next");
  EXPECT_EQ(clean_transcript("\n\num\n"), "");
  EXPECT_EQ(clean_transcript("I I think"), "I think");

  EXPECT_EQ(title_from("\nAlice: um, good morning everyone. Let us start."),
            "Good morning everyone");
  EXPECT_EQ(title_from("one two three four five six seven eight nine ten"),
            "One two three four five six seven eight");
  EXPECT_EQ(title_from("Bob: hmm\nwhat about v2.0, then?"), "What about v2.0, then");
  EXPECT_EQ(title_from("Bob:\n  \n"), "");
  const std::string long_word(100, 'x');
  EXPECT_EQ(title_from(long_word).size(), 80u);
  // Never cut inside a character.
  std::string accents;
  for (int i = 0; i < 50; ++i) {
    accents += "\xC3\xA9";
  }
  EXPECT_EQ(title_from(accents).size(), 80u);
}

TEST(StandinTranscript, FilesAndNotes) {
  auto text = transcript_from_file("\xEF\xBB\xBF\r\n\nA: one  \r\nB: two\rthree\n\n\n");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "A: one\nB: two\nthree");
  EXPECT_FALSE(transcript_from_file("ok \xFF"));
  EXPECT_EQ(*transcript_from_file(""), "");

  const std::string transcript =
      "Alice: Good morning. We start.\nBob: I will send the report.\nAlice: We need to book a "
      "room.\nBob: Fine.\nAlice: Next.\nBob: Bye.\nAlice: Bye.";
  const std::string head = std::string(kNotesHeader) + "\n\n";
  EXPECT_EQ(make_notes(NotesPreset::Summary, transcript),
            head +
                "The opening lines:\n\n- Alice: Good morning. We start.\n- Bob: I will send the "
                "report.\n- Alice: We need to book a room.\n- Bob: Fine.\n- Alice: Next.\n\n(2 "
                "more lines)");
  EXPECT_EQ(make_notes(NotesPreset::Tasks, transcript),
            head +
                "Lines that look like tasks:\n\n- [ ] Bob: I will send the report.\n- [ ] "
                "Alice: We need to book a room.");
  EXPECT_EQ(make_notes(NotesPreset::Tasks, "nothing here"),
            head + "No line of the transcript looks like a task.");
  EXPECT_EQ(make_notes(NotesPreset::Speakers, "Alice: a b\nBob: c\nAlice: d"),
            head + "Speakers:\n\n- Alice: 2 lines, 3 words\n- Bob: 1 line, 1 word");
  EXPECT_EQ(make_notes(NotesPreset::Brief, transcript), head + "In brief: Good morning.");
  EXPECT_EQ(make_notes(NotesPreset::FormattedTranscript,
                       "Alice: one\nAlice: two\nBob: three\nplain\nmore\n\nafter"),
            head + "**Alice:** one two\n\n**Bob:** three\n\nplain more\n\nafter");
  EXPECT_EQ(notes_preset("formattedTranscript"), NotesPreset::FormattedTranscript);
  EXPECT_FALSE(notes_preset("custom"));
  EXPECT_FALSE(notes_preset("Summary"));
}

}  // namespace
}  // namespace vellumo::standin
