// The meetings family end to end: the requests each subcommand sends, in
// order and byte for byte, what it prints, meeting references, waiting on
// jobs, text input and paths made absolute.

#include <fstream>
#include <map>

#include "harness.h"

namespace vellumo::e2e {
namespace {

Json ok(Json result) { return Json{{"reply", Json{{"ok", true}, {"result", std::move(result)}}}}; }
Json app_error(const std::string& message) {
  return Json{{"reply", Json{{"ok", false}, {"error", message}}}};
}

std::string json_text(std::string_view text) {
  std::string out;
  write_json_string(out, text);
  return out;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) {
    text += text.empty() ? "" : " ";
    text += word;
  }
  return text;
}

// A full ID as typed, and the record's own ID, which the app may spell
// differently.
const std::string kTyped = "0123456789ABCDEF0123456789abcdef";
const std::string kRecordId = "0123456789abcdef0123456789abcdef";
const std::string kTypedArgs = R"({"id":")" + kTyped + R"("})";
// 7 characters in 12 bytes.
const std::string kTranscript =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xF0\x9F\x91\x8B";

Json full_record() {
  return Json{{"cleanedTranscript", nullptr},
              {"createdAt", "2024-05-01T09:00:00Z"},
              {"durationSeconds", 61.5},
              {"error", nullptr},
              {"extra", Json{{"kept", true}}},
              {"id", kRecordId},
              {"notes", "- a\n"},
              {"recognitionCompleteness", 1.0},
              {"recognitionWarnings", Json::array({"low volume"})},
              {"recordingWarnings", Json::array()},
              {"source", "both"},
              {"speakerCount", 2},
              {"speakerLabels", true},
              {"status", "done"},
              {"title", "Standup"},
              {"transcript", kTranscript},
              {"transcriptionModel", "base"}};
}

// The record printed as it comes.
const std::string kRecordPretty =
    "{\n"
    "  \"cleanedTranscript\": null,\n"
    "  \"createdAt\": \"2024-05-01T09:00:00Z\",\n"
    "  \"durationSeconds\": 61.5,\n"
    "  \"error\": null,\n"
    "  \"extra\": {\n"
    "    \"kept\": true\n"
    "  },\n"
    "  \"id\": \"" +
    kRecordId +
    "\",\n"
    "  \"notes\": \"- a\\n\",\n"
    "  \"recognitionCompleteness\": 1.0,\n"
    "  \"recognitionWarnings\": [\n"
    "    \"low volume\"\n"
    "  ],\n"
    "  \"recordingWarnings\": [],\n"
    "  \"source\": \"both\",\n"
    "  \"speakerCount\": 2,\n"
    "  \"speakerLabels\": true,\n"
    "  \"status\": \"done\",\n"
    "  \"title\": \"Standup\",\n"
    "  \"transcript\": \"" +
    kTranscript +
    "\",\n"
    "  \"transcriptionModel\": \"base\"\n"
    "}\n";

// A meeting summary as printed: the given members as JSON texts, every
// other one null (the two counts 0).
std::string summary(const std::map<std::string, std::string>& values) {
  static const char* const kMembers[] = {"createdAt",
                                         "durationSeconds",
                                         "error",
                                         "id",
                                         "notesChars",
                                         "recognitionCompleteness",
                                         "recognitionWarnings",
                                         "recordingWarnings",
                                         "source",
                                         "speakerCount",
                                         "speakerLabels",
                                         "status",
                                         "title",
                                         "transcriptChars",
                                         "transcriptionModel"};
  std::string text = "{\n";
  for (const char* name : kMembers) {
    auto it = values.find(name);
    const bool count = std::string_view(name).ends_with("Chars");
    text += text.size() > 2 ? ",\n" : "";
    text += "  \"" + std::string(name) + "\": " +
            (it != values.end() ? it->second
             : count            ? "0"
                                : "null");
  }
  return text + "\n}\n";
}

const std::string kRecordSummary = summary({{"createdAt", "\"2024-05-01T09:00:00Z\""},
                                            {"durationSeconds", "61.5"},
                                            {"id", json_text(kRecordId)},
                                            {"notesChars", "4"},
                                            {"recognitionCompleteness", "1.0"},
                                            {"recognitionWarnings", "[\n    \"low volume\"\n  ]"},
                                            {"recordingWarnings", "[]"},
                                            {"source", "\"both\""},
                                            {"speakerCount", "2"},
                                            {"speakerLabels", "true"},
                                            {"status", "\"done\""},
                                            {"title", "\"Standup\""},
                                            {"transcriptChars", "7"},
                                            {"transcriptionModel", "\"base\""}});

class Meetings : public E2eTest {
 protected:
  const std::string kList = request_line("list_meetings");

  static std::string get_meeting(const std::string& id) {
    return request_line("get_meeting", R"({"id":)" + json_text(id) + "}");
  }

  // Runs the CLI and checks the request lines the run caused, in order.
  RunResult run(const std::vector<std::string>& words, const std::vector<std::string>& sent,
                const RunOptions& options = {}) {
    const std::size_t before = requests().size();
    RunResult result = cli(words, options);
    const auto lines = requests();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + std::min(before, lines.size()), lines.end()),
              sent)
        << joined(words);
    return result;
  }

  // A failed run that printed `out` first.
  static void expect_failure_after_output(const RunResult& run, const std::string& out,
                                          const std::string& message) {
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, "error: " + message + "\n");
  }

  fs::path make_work_dir(const std::string& name) {
    const fs::path work = dir() / name;
    fs::create_directories(work / "sub");
    return work;
  }
};

TEST_F(Meetings, EverySubcommandSendsItsRequestAndPrintsItsResult) {
  Json s = scenario();
  s["default"] = ok(full_record());
  s["replies"]["list_meetings"] =
      ok(Json::array({Json{{"id", kRecordId}, {"title", "Standup"}}, Json{{"id", "older"}}}));
  s["replies"]["stop_meeting"] = ok(Json{{"stopped", true}});
  s["replies"]["meeting_speakers"] = ok(Json::array({"Anna", "Speaker 2"}));
  s["replies"]["delete_meeting"] = ok(Json{{"deleted", true}});
  start_app(s);

  const std::string list_pretty =
      "[\n  {\n    \"id\": \"" + kRecordId +
      "\",\n    \"title\": \"Standup\"\n  },\n  {\n    \"id\": \"older\"\n  }\n]\n";
  const std::string by_typed = get_meeting(kTyped);
  const std::string by_record = get_meeting(kRecordId);
  auto save = [](const std::string& member_texts, bool detach = false) {
    return request_line("save_meeting", "{\"id\":\"" + kRecordId + "\"," + member_texts + "}",
                        detach);
  };
  auto notes = [](const std::string& preset, const std::string& instructions = "") {
    return request_line("generate_notes", R"({"id":")" + kTyped + R"(","instructions":)" +
                                              json_text(instructions) + R"(,"preset":")" + preset +
                                              "\"}");
  };

  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> sent;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"meetings"}, {kList}, list_pretty},
      {{"meeting", "list", "--detach"}, {request_line("list_meetings", "{}", true)}, list_pretty},
      // Printed unchanged, transcript and all.
      {{"meetings", "show", kTyped}, {by_typed}, kRecordPretty},
      {{"meetings", "show", kTyped, "--detach"},
       {request_line("get_meeting", kTypedArgs, true)},
       kRecordPretty},
      {{"meetings", "transcript", kTyped, "--detach"}, {by_typed}, kTranscript + "\n"},
      // No cleaned transcript: an empty line, never the recognized one.
      {{"meetings", "transcript", kTyped, "--cleaned"}, {by_typed}, "\n"},
      {{"meetings", "notes", "latest"}, {kList, by_record}, "- a\n\n"},
      {{"meetings", "record", "start"},
       {request_line("start_meeting", R"({"source":"both","title":""})")},
       kRecordSummary},
      {{"meetings", "record", "start", "--title", "Board: Q3", "--source", "microphone",
        "--detach"},
       {request_line("start_meeting", R"({"source":"microphone","title":"Board: Q3"})", true)},
       kRecordSummary},
      // A result that is not a meeting record is printed as it comes.
      {{"meetings", "record", "stop"},
       {request_line("stop_meeting")},
       "{\n  \"stopped\": true\n}\n"},
      {{"meetings", "transcribe", kTyped},
       {request_line("transcribe_meeting", R"({"id":")" + kTyped + R"(","model":null})")},
       kRecordSummary},
      {{"meetings", "transcribe", kTyped, "--model", "large-v3", "--detach"},
       {request_line("transcribe_meeting", R"({"id":")" + kTyped + R"(","model":"large-v3"})",
                     true)},
       kRecordSummary},
      {{"meetings", "cancel", kTyped}, {request_line("cancel_meeting", kTypedArgs)}, kRecordPretty},
      // An edit reads the meeting and sends back what it does not change;
      // the ID is the record's own.
      {{"meetings", "rename", kTyped, "Weekly sync"},
       {by_typed,
        save(R"("notes":"- a\n","title":"Weekly sync","transcript":")" + kTranscript + "\"")},
       kRecordSummary},
      {{"meetings", "rename", "latest", "", "--detach"},
       {kList, by_record,
        save(R"("notes":"- a\n","title":"","transcript":")" + kTranscript + "\"", true)},
       kRecordSummary},
      {{"meetings", "speakers", kTyped},
       {request_line("meeting_speakers", kTypedArgs)},
       "[\n  \"Anna\",\n  \"Speaker 2\"\n]\n"},
      {{"meetings", "rename-speaker", kTyped, "Speaker 1", "Anna"},
       {request_line("rename_meeting_speaker",
                     R"({"from":"Speaker 1","id":")" + kTyped + R"(","to":"Anna"})")},
       kRecordSummary},
      {{"meetings", "labels", kTyped, "on", "--yes"},
       {request_line("set_meeting_speaker_labels",
                     R"({"confirmed":true,"enabled":true,"id":")" + kTyped + "\"}")},
       kRecordSummary},
      {{"meetings", "labels", kTyped, "off"},
       {request_line("set_meeting_speaker_labels",
                     R"({"confirmed":false,"enabled":false,"id":")" + kTyped + "\"}")},
       kRecordSummary},
      {{"meetings", "clean", kTyped, "--detach"},
       {request_line("clean_meeting", kTypedArgs, true)},
       kRecordSummary},
      {{"meetings", "generate-notes", kTyped}, {notes("summary")}, kRecordSummary},
      {{"meetings", "generate-notes", kTyped, "--preset", "formatted-transcript", "--instructions",
        "Use \"quotes\""},
       {notes("formattedTranscript", "Use \"quotes\"")},
       kRecordSummary},
      {{"meetings", "generate-notes", kTyped, "--preset=formattedTranscript"},
       {notes("formattedTranscript")},
       kRecordSummary},
      {{"meetings", "generate-notes", kTyped, "--preset", "tasks"},
       {notes("tasks")},
       kRecordSummary},
      {{"meetings", "generate-notes", kTyped, "--preset", "speakers"},
       {notes("speakers")},
       kRecordSummary},
      {{"meetings", "generate-notes", kTyped, "--preset", "brief"},
       {notes("brief")},
       kRecordSummary},
      {{"meetings", "generate-notes", kTyped, "--preset", "custom", "--instructions", "Only dates"},
       {notes("custom", "Only dates")},
       kRecordSummary},
      {{"meetings", "set-notes", kTyped, "--text="},
       {by_typed, save(R"("notes":"","title":"Standup","transcript":")" + kTranscript + "\"")},
       kRecordSummary},
      // Only --file gives `-` a meaning of its own.
      {{"meetings", "set-notes", kTyped, "--text", "-"},
       {by_typed, save(R"("notes":"-","title":"Standup","transcript":")" + kTranscript + "\"")},
       kRecordSummary},
      {{"meetings", "set-transcript", kTyped, "--text", "Neu \xC3\xA9", "--detach"},
       {by_typed, save(R"("notes":"- a\n","title":"Standup","transcript":"Neu )"
                       "\xC3\xA9\"",
                       true)},
       kRecordSummary},
      {{"meetings", "delete", kTyped, "--confirm"},
       {request_line("delete_meeting", kTypedArgs)},
       "{\n  \"deleted\": true\n}\n"},
      {{"meetings", "delete", "latest", "--yes", "--detach"},
       {kList, request_line("delete_meeting", R"({"id":")" + kRecordId + "\"}", true)},
       "{\n  \"deleted\": true\n}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.words));
    expect_output(run(c.words, c.sent), c.out);
  }
}

// Each case's list_meetings requests are answered with its `list`.
TEST_F(Meetings, ReferencesResolveThroughTheListInOrder) {
  const Json library =
      Json::array({Json{{"id", "e5f0-newest"}, {"title", "Latest"}}, Json{{"id", "abc1"}},
                   Json{{"id", "abc2"}}, Json{{"id", "abc2x"}}, Json{{"id", 7}},
                   Json{{"title", "no id"}}, Json{{"id", "Zed"}}, "not a meeting"});
  const Json joined_record = {{"id", "joined"}, {"status", "done"}, {"transcript", "ab"}};
  const std::string joined_summary =
      summary({{"id", "\"joined\""}, {"status", "\"done\""}, {"transcriptChars", "2"}});
  const std::string shown = "\"shown\"\n";
  const std::string no_meetings = "There are no meetings yet.";
  auto no_match = [](const std::string& reference) {
    return "No meeting ID starts with `" + reference + "`. Run `vellumo-cli meetings list`.";
  };
  auto ambiguous = [](const std::string& reference, int count) {
    return "`" + reference + "` matches " + std::to_string(count) +
           " meetings; use more characters.";
  };
  auto join = [](const std::string& ids, const std::string& title, bool detach = false) {
    return request_line("join_meetings", R"({"ids":[)" + ids + R"(],"title":)" + title + "}",
                        detach);
  };

  struct Case {
    Json list;
    std::vector<std::string> words;
    std::vector<std::string> sent;
    int exit_code = 0;
    std::string printed;  // standard output, or the error message
  };
  const std::vector<Case> cases = {
      {library, {"meetings", "show", "latest"}, {kList, get_meeting("e5f0-newest")}, 0, shown},
      {library, {"meetings", "show", "abc1"}, {kList, get_meeting("abc1")}, 0, shown},
      {library, {"meetings", "show", "Z"}, {kList, get_meeting("Zed")}, 0, shown},
      // A full ID costs no list, in either case of letters.
      {nullptr, {"meetings", "show", kTyped}, {get_meeting(kTyped)}, 0, shown},
      {library, {"meetings", "show", "abc"}, {kList}, 1, ambiguous("abc", 3)},
      // No preference for the exact match.
      {library, {"meetings", "show", "abc2"}, {kList}, 1, ambiguous("abc2", 2)},
      // An empty reference would match every meeting: it is refused.
      {library, {"meetings", "show", ""}, {}, 2, "A meeting reference cannot be empty."},
      {library, {"meetings", "show", "zed"}, {kList}, 1, no_match("zed")},
      {library, {"meetings", "show", "LATEST"}, {kList}, 1, no_match("LATEST")},
      {library,
       {"meetings", "show", kTyped.substr(0, 31)},
       {kList},
       1,
       no_match(kTyped.substr(0, 31))},
      {library, {"meetings", "show", kTyped + "0"}, {kList}, 1, no_match(kTyped + "0")},
      {library,
       {"meetings", "show", kTyped.substr(0, 31) + "g"},
       {kList},
       1,
       no_match(kTyped.substr(0, 31) + "g")},
      // join resolves each reference in order, and stops at the first
      // that fails.
      {library,
       {"meetings", "join", "abc1", kTyped, "latest", "--title", "Both halves"},
       {kList, kList, join("\"abc1\",\"" + kTyped + "\",\"e5f0-newest\"", "\"Both halves\"")},
       0,
       joined_summary},
      {library,
       {"meeting", "join", "abc2x", "abc1"},
       {kList, kList, join("\"abc2x\",\"abc1\"", "null")},
       0,
       joined_summary},
      {nullptr,
       {"meetings", "join", kTyped, kTyped, "--detach"},
       {join("\"" + kTyped + "\",\"" + kTyped + "\"", "null", true)},
       0,
       joined_summary},
      {library,
       {"meetings", "join", "abc1", "nope", "latest"},
       {kList, kList},
       1,
       no_match("nope")},
      {Json::array(), {"meetings", "show", "latest"}, {kList}, 1, no_meetings},
      {Json::array(), {"meetings", "show", "a"}, {kList}, 1, no_match("a")},
      {Json{{"id", "abc"}}, {"meetings", "show", "latest"}, {kList}, 1, no_meetings},
      {Json{{"id", "abc"}}, {"meetings", "show", "abc"}, {kList}, 1, no_match("abc")},
      {nullptr, {"meetings", "show", "latest", "--detach"}, {kList}, 1, no_meetings},
      // `latest` looks at the first meeting only.
      {Json::array({Json{{"title", "x"}}, Json{{"id", "later"}}}),
       {"meetings", "show", "latest"},
       {kList},
       1,
       no_meetings},
      {Json::array({Json{{"title", "x"}}, Json{{"id", "later"}}}),
       {"meetings", "show", "l"},
       {kList, get_meeting("later")},
       0,
       shown},
      {Json::array({Json{{"id", "only-one"}}}),
       {"meetings", "delete", "", "--confirm"},
       {},
       2,
       "A meeting reference cannot be empty."},
  };

  Json s = scenario();
  Json& lists = s["replies"]["list_meetings"] = Json::array();
  for (const Case& c : cases) {
    for (const auto& line : c.sent) {
      if (line == kList) {
        lists.push_back(ok(c.list));
      }
    }
  }
  // The list request fails: its error ends the command.
  lists.push_back(app_error("The library is locked."));
  s["replies"]["get_meeting"] = ok("shown");
  s["replies"]["join_meetings"] = ok(joined_record);
  start_app(s);

  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.words));
    const RunResult result = run(c.words, c.sent);
    if (c.exit_code == 0) {
      expect_output(result, c.printed);
    } else {
      expect_error(result, c.exit_code, c.printed);
    }
  }
  expect_error(run({"meetings", "rename", "abc", "x"}, {kList}), 1, "The library is locked.");
}

TEST_F(Meetings, WaitPollsUntilTheJobIsOver) {
  auto record = [](Json status) {
    Json r = {{"id", kRecordId}, {"title", "Call"}, {"transcript", "Hallo"}};
    if (!status.is_null()) {
      r["status"] = std::move(status);
    }
    return r;
  };
  auto summary_of = [](const std::string& status, const std::string& error = "null") {
    return summary({{"error", error},
                    {"id", json_text(kRecordId)},
                    {"status", status},
                    {"title", "\"Call\""},
                    {"transcriptChars", "5"}});
  };
  Json failed = record("failed");
  failed["error"] = "Out of memory.";
  Json failed_odd = record("failed");
  failed_odd["error"] = 5;
  const std::vector<std::string> running = {"recording",    "importing",       "finalizing",
                                            "transcribing", "processingNotes", "generatingTitle"};

  Json s = scenario();
  s["replies"]["list_meetings"] = ok(Json::array({Json{{"id", kRecordId}}}));
  Json synchronous = ok(record("done"));
  synchronous["delay_ms"] = 1500;
  s["replies"]["transcribe_meeting"] = Json::array({ok(record("transcribing")), synchronous});
  Json& polls = s["replies"]["get_meeting"] = Json::array();
  for (int i = 0; i < 3; ++i) {
    polls.push_back(ok(record("transcribing")));
  }
  polls.push_back(ok(record("done")));
  for (const auto& status : running) {
    polls.push_back(ok(record(status)));
  }
  polls.push_back(ok(record("Transcribing")));
  polls.push_back(ok(record("finalizing")));
  polls.push_back(ok(failed));
  polls.push_back(ok(failed_odd));
  polls.push_back(ok(nullptr));
  polls.push_back(ok(record("recording")));
  polls.push_back(ok(record("recording")));
  polls.push_back(app_error("Meeting not found."));
  // The app answers and goes away; the one beside the CLI takes over.
  Json last = ok(record("transcribing"));
  last["exit"] = true;
  polls.push_back(last);
  Json beside = scenario();
  beside["replies"]["get_meeting"] = ok(record("done"));
  install_app(beside);
  start_app(s);

  const std::string by_record = get_meeting(kRecordId);
  const std::string by_typed = get_meeting(kTyped);
  // The workflow of agents: start detached, then wait.
  expect_output(
      run({"meetings", "transcribe", "latest", "--detach", "--model", "small"},
          {kList, request_line("transcribe_meeting",
                               R"({"id":")" + kRecordId + R"(","model":"small"})", true)}),
      summary_of("\"transcribing\""));
  const RunResult waited =
      run({"meetings", "wait", "latest"}, {kList, by_record, by_record, by_record, by_record});
  expect_output(waited, summary_of("\"done\""));
  EXPECT_GE(waited.took, 6s);  // a 2-second pause after each running poll

  for (const auto& status : running) {
    SCOPED_TRACE(status);
    expect_error(run({"meetings", "wait", kTyped, "--timeout", "0"}, {by_typed}), 1,
                 "Still " + status + " after 0 s.");
  }
  // Matched exactly; a finished meeting is reported even with no time left.
  expect_output(run({"meetings", "wait", kTyped, "--timeout", "0"}, {by_typed}),
                summary_of("\"Transcribing\""));
  expect_failure_after_output(run({"meetings", "wait", kTyped}, {by_typed, by_typed}),
                              summary_of("\"failed\"", "\"Out of memory.\""), "Out of memory.");
  expect_failure_after_output(
      run({"meetings", "wait", kTyped, "--timeout", "+30", "--detach"}, {by_typed}),
      summary_of("\"failed\"", "5"), "The operation failed.");
  expect_output(run({"meetings", "wait", kTyped, "--timeout", "007"}, {by_typed}), summary({}));
  // The configured timeout is named, not the time measured.
  const RunResult timed_out =
      run({"meetings", "wait", kTyped, "--timeout=1"}, {by_typed, by_typed});
  expect_error(timed_out, 1, "Still recording after 1 s.");
  EXPECT_GE(timed_out.took, 2s);
  expect_error(run({"meetings", "wait", kTyped}, {by_typed}), 1, "Meeting not found.");
  // The timeout is read once the reference is resolved.
  expect_error(run({"meetings", "wait", "latest", "--timeout", "1.5"}, {kList}), 2,
               "--timeout is a number of seconds.");
  // Without --detach the app answers when the job is done, however long
  // that takes.
  const RunResult synchronous_run =
      run({"meetings", "transcribe", kTyped},
          {request_line("transcribe_meeting", R"({"id":")" + kTyped + R"(","model":null})")});
  expect_output(synchronous_run, summary_of("\"done\""));
  EXPECT_GE(synchronous_run.took, 1.5s);

  // Each poll is a call of its own: when the app goes away during a wait,
  // the next poll launches it again.
  expect_output(run({"meetings", "wait", kTyped}, {by_typed, request_line("ping"), by_typed}),
                summary_of("\"done\""));
  const auto started = starts();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[1], Json::array({"--startup"}));
}

TEST_F(Meetings, SummaryCountsCharactersOfSmallAndHugeTranscripts) {
  constexpr std::uint64_t kTwoByteCharacters = 15'000'000;  // 30 MB of transcript
  Json s = scenario();
  s["replies"]["clean_meeting"] = Json::array({
      Json{{"raw", R"({"ok":true,"result":{"id":"one","transcript":"\u00e9"}})"
                   "\n"}},
      Json{{"raw",
            "{\"ok\":true,\"result\":{\"id\":\"two\",\"notes\":\"\xF0\x9F\x98\x80x\","
            "\"transcript\":\"\\ud83d\\ude00\\n\xC3\xA9\"}}\n"}},
      ok(Json{{"id", "none"}, {"transcript", nullptr}, {"notes", 12}}),
      Json{{"fill",
            {{"prefix", R"({"ok":true,"result":{"id":"big","status":"done","transcript":")"},
             {"text", "\xC3\xA9"},
             {"count", kTwoByteCharacters},
             {"suffix", "\"}}\n"}}}},
  });
  start_app(s);
  const std::string clean = request_line("clean_meeting", kTypedArgs);
  const std::vector<std::string> words = {"meetings", "clean", kTyped};
  expect_output(run(words, {clean}), summary({{"id", "\"one\""}, {"transcriptChars", "1"}}));
  expect_output(run(words, {clean}),
                summary({{"id", "\"two\""}, {"notesChars", "2"}, {"transcriptChars", "3"}}));
  expect_output(run(words, {clean}), summary({{"id", "\"none\""}}));
  const RunResult big = run(words, {clean});
  expect_output(big, summary({{"id", "\"big\""},
                              {"status", "\"done\""},
                              {"transcriptChars", std::to_string(kTwoByteCharacters)}}));
}

// Text for set-notes and set-transcript comes from --text, a file or
// standard input, byte for byte; paths sent to the app are made absolute
// against the CLI's current folder.
TEST_F(Meetings, TextInputAndPathsFromTheWorkingFolder) {
  const fs::path work = make_work_dir("work d\xC3\xAFr");
  const std::string notes_bytes = "\xEF\xBB\xBF# Notes  \r\n\tline two \r\n\r\n";
  const std::string notes_json = "\xEF\xBB\xBF# Notes  \\r\\n\\tline two \\r\\n\\r\\n";
  std::ofstream(work / "notes.md", std::ios::binary) << notes_bytes;
  std::ofstream(work / "sub" / "t.txt", std::ios::binary) << "one\nlast line without end ";

  Json s = scenario();
  Json& gets = s["replies"]["get_meeting"] = Json::array();
  for (int i = 0; i < 5; ++i) {
    gets.push_back(ok(full_record()));
  }
  gets.push_back(ok(Json{{"cleanedTranscript", "Sauber"}, {"transcript", "roh"}}));
  gets.push_back(ok("not a record"));
  gets.push_back(ok(Json{{"transcript", 5}}));
  gets.push_back(app_error("Meeting not found."));
  s["replies"]["list_meetings"] = ok(Json::array({Json{{"id", kRecordId}}}));
  s["replies"]["save_meeting"] = ok(full_record());
  s["replies"]["import_media"] = ok(full_record());
  s["replies"]["export_meeting"] = ok(Json{{"ignored", true}});
  s["replies"]["export_meeting_audio"] = ok(nullptr);
  start_app(s);

  RunOptions in_work;
  in_work.working_dir = work;
  const std::string by_typed = get_meeting(kTyped);
  auto save = [](const std::string& title, const std::string& transcript_json,
                 const std::string& notes_member_json) {
    return request_line("save_meeting", "{\"id\":\"" + kRecordId +
                                            "\",\"notes\":" + notes_member_json + ",\"title\":\"" +
                                            title + "\",\"transcript\":" + transcript_json + "}");
  };
  const std::string transcript_json = json_text(kTranscript);

  expect_output(
      run({"meetings", "set-notes", kTyped, "--file", "notes.md"},
          {by_typed, save("Standup", transcript_json, "\"" + notes_json + "\"")}, in_work),
      kRecordSummary);
  const std::string absolute_notes = target().path_text(work / "notes.md");
  expect_output(run({"meetings", "set-notes", kTyped, "--file", absolute_notes},
                    {by_typed, save("Standup", transcript_json, "\"" + notes_json + "\"")}),
                kRecordSummary);
  RunOptions piped = in_work;
  piped.stdin_text = "from stdin\r\n\xEF\xBB\xBF ";
  expect_output(
      run({"meetings", "set-notes", kTyped, "--file", "-"},
          {by_typed, save("Standup", transcript_json, "\"from stdin\\r\\n\xEF\xBB\xBF \"")}, piped),
      kRecordSummary);
  piped.stdin_text = "";
  expect_output(run({"meetings", "set-notes", kTyped, "--file", "-"},
                    {by_typed, save("Standup", transcript_json, "\"\"")}, piped),
                kRecordSummary);
  const std::string sub_file = target().wine ? "sub\\t.txt" : "sub/t.txt";
  expect_output(
      run({"meetings", "set-transcript", kTyped, "--file", sub_file},
          {by_typed, save("Standup", "\"one\\nlast line without end \"", "\"- a\\n\"")}, in_work),
      kRecordSummary);

  // Printing a text member: absent, or not a string, is an empty line.
  expect_output(run({"meetings", "transcript", kTyped, "--cleaned"}, {by_typed}), "Sauber\n");
  expect_output(run({"meetings", "notes", kTyped}, {by_typed}), "\n");
  expect_output(run({"meetings", "transcript", kTyped}, {by_typed}), "\n");
  // After a failed read nothing is saved.
  expect_error(run({"meetings", "set-notes", kTyped, "--text", "x"}, {by_typed}), 1,
               "Meeting not found.");

  // Paths: joined onto the current folder as they are, `..` and all.
  const std::string here = target().path_text(work);
  const std::string sep = target().wine ? "\\" : "/";
  auto import = [](const std::string& path, bool detach = false) {
    return request_line("import_media", R"({"path":)" + json_text(path) + "}", detach);
  };
  expect_output(run({"meetings", "import", "clip.m4a"}, {import(here + sep + "clip.m4a")}, in_work),
                kRecordSummary);
  const std::string up = ".." + sep + "clip.m4a";
  expect_output(
      run({"meetings", "import", up, "--detach"}, {import(here + sep + up, true)}, in_work),
      kRecordSummary);
  std::vector<std::pair<std::string, std::string>> absolute = {
      {"/media/clip.m4a", "/media/clip.m4a"}};
  if (target().wine) {
    absolute = {{R"(D:\media\clip.m4a)", R"(D:\media\clip.m4a)"},
                {"C:/media/clip.m4a", "C:/media/clip.m4a"},
                {R"(\\server\share\clip.m4a)", R"(\\server\share\clip.m4a)"},
                {"D:clip.m4a", "D:clip.m4a"},
                {R"(\media\clip.m4a)", R"(Z:\media\clip.m4a)"}};
  }
  for (const auto& [typed, sent] : absolute) {
    expect_output(run({"meetings", "import", typed}, {import(sent)}, in_work), kRecordSummary);
  }
  // At the root the separator is not doubled.
  RunOptions at_root;
  at_root.working_dir = "/";
  const std::string from_root = target().wine ? R"(Z:\clip.m4a)" : "/clip.m4a";
  expect_output(run({"meetings", "import", "clip.m4a"}, {import(from_root)}, at_root),
                kRecordSummary);

  // Exports print the absolute path and the format sent; the app's result
  // is dropped, and --detach does not reach the request.
  auto export_line = [](const std::string& id, const std::string& path, const std::string& format,
                        const std::string& version) {
    return request_line("export_meeting", R"({"format":")" + format + R"(","id":")" + id +
                                              R"(","path":)" + json_text(path) +
                                              R"(,"transcriptVersion":")" + version + "\"}");
  };
  auto exported = [](const std::string& path, const std::string& format) {
    return "{\n  \"exported\": " + json_text(path) + ",\n  \"format\": \"" + format + "\"\n}\n";
  };
  expect_output(run({"meetings", "export", kTyped, "out.HTML", "--detach"},
                    {export_line(kTyped, here + sep + "out.HTML", "html", "recognized")}, in_work),
                exported(here + sep + "out.HTML", "html"));
  expect_output(
      run({"meetings", "export", "latest", "call", "--cleaned"},
          {kList, export_line(kRecordId, here + sep + "call", "markdown", "cleaned")}, in_work),
      exported(here + sep + "call", "markdown"));
  const std::string sub_md = "sub" + sep + "x.md";
  expect_output(run({"meetings", "export", kTyped, sub_md, "--format", "wav"},
                    {export_line(kTyped, here + sep + sub_md, "wav", "recognized")}, in_work),
                exported(here + sep + sub_md, "wav"));
  expect_output(run({"meetings", "export", kTyped, "notes.TXT"},
                    {export_line(kTyped, here + sep + "notes.TXT", "text", "recognized")}, in_work),
                exported(here + sep + "notes.TXT", "text"));
  auto audio_line = [](const std::string& id, const std::string& path) {
    return request_line("export_meeting_audio",
                        R"({"id":")" + id + R"(","path":)" + json_text(path) + "}");
  };
  expect_output(run({"meetings", "export-audio", kTyped, "take.wav", "--detach"},
                    {audio_line(kTyped, here + sep + "take.wav")}, in_work),
                "{\n  \"exported\": " + json_text(here + sep + "take.wav") + "\n}\n");
  expect_output(run({"meetings", "export-audio", "latest", up},
                    {kList, audio_line(kRecordId, here + sep + up)}, in_work),
                "{\n  \"exported\": " + json_text(here + sep + up) + "\n}\n");
}

// Checks that need no app fail with nothing serving the link and an app
// beside the CLI that could be launched: it never is.
TEST_F(Meetings, UsageAndInputErrorsNeedNoApp) {
  const fs::path work = make_work_dir("work");
  std::ofstream(work / "bad.md", std::ios::binary) << "caf\xE9 au lait\n";
  std::ofstream(work / "notes.md", std::ios::binary) << "fine\n";
  Json s = scenario();
  s["replies"]["list_meetings"] = ok(Json::array());
  install_app(s);
  RunOptions in_work;
  in_work.working_dir = work;

  const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
      {{"meetings", "list", "all"}, "Unknown meetings command: list all"},
      {{"meeting", "show"}, "Unknown meetings command: show"},
      {{"meetings", "Show", kTyped}, "Unknown meetings command: Show " + kTyped},
      {{"meetings", "record"}, "Unknown meetings command: record"},
      {{"meetings", "record", "pause"}, "Unknown meetings command: record pause"},
      {{"meetings", "record", "start", "now"}, "Unknown meetings command: record start now"},
      {{"meetings", "labels", "latest", "ON"}, "Unknown meetings command: labels latest ON"},
      {{"meetings", "join"}, "Unknown meetings command: join"},
      {{"meetings", "join", "abc"}, "Unknown meetings command: join abc"},
      {{"meetings", "", "latest"}, "Unknown meetings command:  latest"},
      {{"meetings", "rename", "latest"}, "Unknown meetings command: rename latest"},
      {{"meetings", "wait", "latest", "5"}, "Unknown meetings command: wait latest 5"},
      {{"meetings", "export-audio", "latest"}, "Unknown meetings command: export-audio latest"},
      {{"meetings", "delete", "latest"},
       "Deleting a meeting removes its audio and transcript. Add --confirm."},
      {{"meetings", "delete", kTyped, "--confirm=yes"},
       "Deleting a meeting removes its audio and transcript. Add --confirm."},
      {{"meetings", "generate-notes", "latest", "--preset", "Summary"},
       "--preset is summary, tasks, speakers, brief, formatted-transcript or custom."},
      {{"meetings", "generate-notes", "latest", "--preset="},
       "--preset is summary, tasks, speakers, brief, formatted-transcript or custom."},
      {{"meetings", "export", "latest", "out.html", "--format", "HTML"},
       "Unknown export format `HTML`. Use md, txt, html, pdf or wav."},
      {{"meetings", "export", "latest", "call."},
       "Unknown export format ``. Use md, txt, html, pdf or wav."},
      {{"meetings", "export", "latest", "notes.docx"},
       "Unknown export format `docx`. Use md, txt, html, pdf or wav."},
      {{"meetings", "set-notes", "latest"},
       "Pass --text \"...\" or --file <path> (use - for stdin)."},
      {{"meetings", "set-transcript", "latest", "--file", "notes.md", "--text", "x"},
       "Pass --text \"...\" or --file <path> (use - for stdin)."},
      // An empty reference would match every meeting; it is refused first.
      {{"meetings", "delete", ""}, "A meeting reference cannot be empty."},
      {{"meetings", "set-notes", ""}, "A meeting reference cannot be empty."},
      {{"meetings", "export", "", "notes.docx"}, "A meeting reference cannot be empty."},
      {{"meetings", "join", "latest", ""}, "A meeting reference cannot be empty."},
      {{"meetings", "wait", "", "--timeout", "x"}, "A meeting reference cannot be empty."},
  };
  for (const auto& [words, message] : usage) {
    SCOPED_TRACE(joined(words));
    expect_error(cli(words, in_work), 2, message);
  }
  // A full ID needs no resolving, so the timeout is checked at once.
  for (const char* timeout : {"-5", "1.5", "10s", "", "+", "-", "++1", "18446744073709551616"}) {
    SCOPED_TRACE(timeout);
    expect_error(cli({"meetings", "wait", kTyped, "--timeout", timeout}), 2,
                 "--timeout is a number of seconds.");
  }

  expect_error(cli({"meetings", "set-notes", "latest", "--file", "bad.md"}, in_work), 1,
               "Cannot read bad.md: stream did not contain valid UTF-8");
  RunOptions piped = in_work;
  piped.stdin_text = "ok \xC3";
  expect_error(cli({"meetings", "set-transcript", "latest", "--file", "-"}, piped), 1,
               "stream did not contain valid UTF-8");
  expect_error_around(cli({"meetings", "set-notes", "latest", "--file", "missing.md"}, in_work), 1,
                      "Cannot read missing.md: ", " (os error 2)");
  EXPECT_TRUE(starts().empty());
  EXPECT_TRUE(requests().empty());

  // The control: a command that does need the app launches the one beside.
  expect_error(cli({"meetings", "notes", "latest"}), 1, "There are no meetings yet.");
  EXPECT_EQ(starts(), std::vector<Json>{Json::array({"--startup"})});
  EXPECT_EQ(commands(), (std::vector<std::string>{"ping", "list_meetings"}));
}

}  // namespace
}  // namespace vellumo::e2e
