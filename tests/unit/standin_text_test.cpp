// The stand-in app's pure parts: transcript text, media names, exports and
// WAV lengths, settings, the request reader and the command table, the
// library file.

#include <gtest/gtest.h>

#include <set>

#include "platform/platform.h"
#include "standin_app/app.h"
#include "standin_app/commands.h"
#include "standin_app/export.h"
#include "standin_app/library.h"
#include "standin_app/media_names.h"
#include "standin_app/settings.h"
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
  EXPECT_EQ(count_words(transcript), 14u);
  EXPECT_EQ(count_characters("\xC3\xA9t\xC3\xA9"), 3u);
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

TEST(StandinSettings, ChecksEveryKey) {
  const Json defaults = default_settings();
  auto next = apply_settings(defaults, Json{{"meetingSpeakerLabels", false},
                                            {"meetingAsrModel", ""},
                                            {"vocabulary", Json::array({"Vellumo"})}});
  ASSERT_TRUE(next) << next.error();
  EXPECT_EQ((*next)["meetingSpeakerLabels"], false);
  EXPECT_EQ((*next)["vocabulary"], Json::array({"Vellumo"}));
  EXPECT_EQ((*next)["asrModel"], defaults["asrModel"]);

  const std::vector<std::pair<Json, std::string>> refused = {
      {Json{{"colour", "blue"}}, "Unknown setting `colour`."},
      {Json{{"asrModel", "large-v3"}},
       "Unknown speech model `large-v3`; the stand-in app has transcript-file."},
      {Json{{"asrModel", ""}}, "Unknown speech model ``; the stand-in app has transcript-file."},
      {Json{{"notesModel", 5}}, "`notesModel` must be a model name."},
      {Json{{"meetingSpeakerLabels", "yes"}}, "`meetingSpeakerLabels` must be true or false."},
      {Json{{"vocabulary", Json::array({"a", 1})}}, "`vocabulary` must be a list of words."},
      {Json::array(), "The settings must be a JSON object."},
  };
  for (const auto& [changes, message] : refused) {
    auto outcome = apply_settings(defaults, changes);
    ASSERT_FALSE(outcome) << changes;
    EXPECT_EQ(outcome.error(), message);
  }
  // A saved file keeps what is still valid.
  Json saved = settings_from_saved(
      Json{{"language", "de"}, {"asrModel", "gone"}, {"old", 1}, {"meetingSpeakerLabels", false}});
  Json expected = defaults;
  expected["language"] = "de";
  expected["meetingSpeakerLabels"] = false;
  EXPECT_EQ(saved, expected);
  EXPECT_EQ(settings_from_saved(Json("junk")), defaults);
}

TEST(StandinRequests, ReadingAndArguments) {
  auto request =
      parse_request(R"({"version":1,"command":"get_meeting","args":{"id":"x"},"detach":true})");
  ASSERT_TRUE(request) << request.error();
  EXPECT_EQ(request->command, "get_meeting");
  EXPECT_EQ(request->args, (Json{{"id", "x"}}));
  EXPECT_TRUE(request->detach);
  auto bare = parse_request(R"({"version":1,"command":"ping"})");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->args, Json::object());
  EXPECT_FALSE(bare->detach);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "The request is not JSON: "},
      {"[1]", "The request is not a JSON object."},
      {R"({"version":2,"command":"ping"})", "The request does not speak protocol version 1."},
      {R"({"command":"ping"})", "The request does not speak protocol version 1."},
      {R"({"version":1,"command":7})", "The request has no command."},
      {R"({"version":1,"command":"ping","detach":1})", "`detach` must be true or false."},
      {"{\"version\":1,\"command\":\"\xFF\"}", "The request is not valid UTF-8."},
      {R"({"version":1,"command":"a","command":"b"})", "The request is not JSON: "},
  };
  for (const auto& [line, message] : bad) {
    auto outcome = parse_request(line);
    ASSERT_FALSE(outcome) << line;
    EXPECT_EQ(outcome.error().substr(0, message.size()), message) << line;
  }

  const CommandSpec& labels = *App::find_command("set_meeting_speaker_labels");
  EXPECT_TRUE(check_args(labels, Json{{"id", "a"}, {"enabled", true}}));
  EXPECT_TRUE(check_args(labels, Json{{"id", "a"}, {"enabled", false}, {"confirmed", nullptr}}));
  const std::vector<std::pair<Json, std::string>> refused = {
      {Json{{"id", "a"}}, "set_meeting_speaker_labels needs the argument `enabled`."},
      {Json{{"id", "a"}, {"enabled", "yes"}},
       "The argument `enabled` of set_meeting_speaker_labels must be true or false."},
      {Json{{"id", "a"}, {"enabled", true}, {"colour", 1}},
       "set_meeting_speaker_labels takes no argument `colour`."},
      {Json::array(), "The arguments of set_meeting_speaker_labels must be a JSON object."},
  };
  for (const auto& [args, message] : refused) {
    auto outcome = check_args(labels, args);
    ASSERT_FALSE(outcome) << args;
    EXPECT_EQ(outcome.error(), message);
  }
  EXPECT_EQ(*check_args(*App::find_command("ping"), nullptr), Json::object());
  EXPECT_FALSE(
      check_args(*App::find_command("join_meetings"), Json{{"ids", Json::array({"a", 2})}}));
  EXPECT_FALSE(check_args(*App::find_command("list_dictations"), Json{{"limit", -1}}));
  EXPECT_TRUE(check_args(*App::find_command("list_dictations"), Json::object()));
  EXPECT_FALSE(App::find_command("Ping"));

  // Every command of the table is answered, and `commands` lists each once.
  std::set<std::string> names;
  for (const Json& entry : App::commands_json()) {
    const std::string name = entry.at("name").get<std::string>();
    EXPECT_TRUE(App::find_command(name)) << name;
    EXPECT_TRUE(names.insert(name).second) << name;
  }
  EXPECT_EQ(names.size(), 33u);
  EXPECT_EQ(App::commands_json()[3],
            (Json{{"name", "get_meeting"}, {"args", Json::array({"id"})}}));

  EXPECT_EQ(reply_line(Result<Json, std::string>(Json{{"b", 1}, {"a", nullptr}})),
            "{\"ok\":true,\"result\":{\"a\":null,\"b\":1}}\n");
  EXPECT_EQ(reply_line(Result<Json, std::string>(Err{std::string("No \"x\".")})),
            "{\"error\":\"No \\\"x\\\".\",\"ok\":false}\n");
}

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
