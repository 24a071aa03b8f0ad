// The stand-in app as a whole, through the lines it answers: jobs, edits,
// exports, saved state.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "cli/command_table.h"
#include "core/json.h"
#include "standin_app/app.h"
#include "standin_app/commands.h"
#include "support/files.h"
#include "support/scratch_folder.h"
#include "texts/texts.h"

namespace vellumo::standin {
namespace {

namespace fs = std::filesystem;
using test::file_bytes;
using test::put_file;
using test::utf8_of;
using namespace std::chrono_literals;

// One second of 8 kHz, 16-bit mono silence.
std::string one_second_wav() {
  auto le = [](std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) {
      s += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return s;
  };
  return "RIFF" + le(36 + 16000, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
         le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(16000, 4) + std::string(16000, '\0');
}

class StandinApp : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "data");
    fs::create_directories(dir_ / "out");
  }

  void start(std::chrono::milliseconds pace = 0ms) {
    app_.reset();
    app_ = std::make_unique<App>(AppConfig{utf8_of(dir_ / "data"), "test-link", pace});
    auto loaded = app_->load();
    ASSERT_TRUE(loaded) << loaded.error();
  }

  Json reply(std::string_view command, const Json& args = Json::object(), bool detach = false) {
    std::string line = R"({"version":1,"command":)";
    write_json_string(line, command);
    line +=
        ",\"args\":" + to_json_compact(args) + ",\"detach\":" + (detach ? "true" : "false") + "}";
    const std::string answer = app_->answer(line);
    EXPECT_EQ(answer.back(), '\n');
    auto parsed = parse_json(answer);
    EXPECT_TRUE(parsed) << answer;
    return parsed ? *parsed : Json();
  }
  Json ok(std::string_view command, const Json& args = Json::object(), bool detach = false) {
    Json r = reply(command, args, detach);
    EXPECT_EQ(r["ok"], true) << command << ": " << r;
    return r["result"];
  }
  std::string fails(std::string_view command, const Json& args = Json::object(),
                    bool detach = false) {
    Json r = reply(command, args, detach);
    EXPECT_EQ(r["ok"], false) << command << ": " << r;
    return r.value("error", "");
  }
  std::string path(const std::string& name) const { return utf8_of(dir_ / name); }

  // The app goes before its folder.
  test::ScratchFolder scratch_{"vellumo-standin-"};
  const fs::path dir_ = scratch_.path();
  std::unique_ptr<App> app_;
};

TEST_F(StandinApp, ImportTranscribeEditExportAndFindItAllAfterARestart) {
  start();
  put_file(dir_ / "standup.wav", one_second_wav());
  put_file(dir_ / "standup.txt",
           "Alice: Um, good morning team.\r\nBob: I will fix the the build.\n");

  Json m = ok("import_media", {{"path", path("standup.wav")}});
  const std::string id = m["id"].get<std::string>();
  EXPECT_EQ(m["status"], "ready");
  EXPECT_EQ(m["title"], "standup");
  EXPECT_EQ(m["durationSeconds"], 1.0);
  EXPECT_EQ(m["transcript"], "");

  m = ok("transcribe_meeting", {{"id", id}, {"model", nullptr}});
  EXPECT_EQ(m["status"], "ready");
  EXPECT_EQ(m["transcript"], "Alice: Um, good morning team.\nBob: I will fix the the build.");
  EXPECT_EQ(m["title"], "Good morning team");
  EXPECT_EQ(m["speakerCount"], 2);
  EXPECT_EQ(m["transcriptionModel"], "transcript-file");
  EXPECT_EQ(m["recognitionWarnings"],
            Json::array({"The stand-in app does not recognise speech: this transcript was read "
                         "from " +
                         path("standup.txt") + "."}));

  m = ok("clean_meeting", {{"id", id}});
  EXPECT_EQ(m["cleanedTranscript"], "Alice: Good morning team.\nBob: I will fix the build.");
  m = ok("rename_meeting_speaker", {{"id", id}, {"from", "Bob"}, {"to", "Robert"}});
  EXPECT_EQ(m["transcript"], "Alice: Um, good morning team.\nRobert: I will fix the the build.");
  EXPECT_EQ(m["cleanedTranscript"], "Alice: Good morning team.\nRobert: I will fix the build.");
  EXPECT_EQ(fails("rename_meeting_speaker", {{"id", id}, {"from", "Bob"}, {"to", "X"}}),
            "Meeting " + id + " has no speaker `Bob`.");
  EXPECT_EQ(ok("meeting_speakers", {{"id", id}})["speakers"],
            Json::parse(R"([{"lines":1,"name":"Alice","words":4},
                            {"lines":1,"name":"Robert","words":6}])"));

  m = ok("generate_notes", {{"id", id}, {"preset", "tasks"}, {"instructions", ""}});
  EXPECT_NE(m["notes"].get<std::string>().find("- [ ] Robert: I will fix the the build."),
            std::string::npos);
  EXPECT_EQ(fails("generate_notes", {{"id", id}, {"preset", "custom"}, {"instructions", "x"}}),
            "The stand-in app has no language model and cannot follow custom instructions; use "
            "summary, tasks, speakers, brief or formattedTranscript.");

  // Editing: the title sticks, a changed transcript drops the stale
  // cleaned one.
  m = ok("save_meeting", {{"id", id},
                          {"title", "Weekly"},
                          {"transcript", m["transcript"]},
                          {"notes", "Decided: ship."}});
  EXPECT_EQ(m["title"], "Weekly");
  EXPECT_FALSE(m["cleanedTranscript"].is_null());
  EXPECT_EQ(fails("save_meeting", {{"id", id}, {"title", " "}}),
            "A meeting's title cannot be empty.");

  // Exports, each written for real; what cannot be made is refused.
  for (const auto& [format, file] : std::vector<std::pair<std::string, std::string>>{
           {"markdown", "w.md"}, {"text", "w.txt"}, {"html", "w.html"}}) {
    Json done = ok("export_meeting", {{"id", id},
                                      {"path", path("out/" + file)},
                                      {"format", format},
                                      {"transcriptVersion", "cleaned"}});
    const std::string text = file_bytes(dir_ / "out" / file);
    EXPECT_EQ(done["bytes"], text.size());
    EXPECT_NE(text.find("Weekly"), std::string::npos) << format;
    EXPECT_NE(text.find("Decided: ship."), std::string::npos) << format;
    EXPECT_NE(text.find("I will fix the build."), std::string::npos) << format;
  }
  EXPECT_EQ(fails("export_meeting", {{"id", id}, {"path", path("out/w.pdf")}, {"format", "pdf"}}),
            "The stand-in app cannot write PDF; export md, txt or html instead.");
  EXPECT_FALSE(fs::exists(dir_ / "out" / "w.pdf"));
  EXPECT_EQ(fails("export_meeting", {{"id", id}, {"path", "relative.md"}, {"format", "markdown"}}),
            "The path must be absolute: relative.md");
  const std::string unwritable =
      fails("export_meeting", {{"id", id}, {"path", path("missing/w.md")}, {"format", "markdown"}});
  EXPECT_EQ(unwritable.substr(0, 15 + path("missing/w.md").size()),
            "Cannot write " + path("missing/w.md") + ": ")
      << unwritable;
  ok("export_meeting_audio", {{"id", id}, {"path", path("out/audio.wav")}});
  EXPECT_TRUE(file_bytes(dir_ / "out" / "audio.wav") == one_second_wav());
  ok("export_meeting", {{"id", id}, {"path", path("out/again.wav")}, {"format", "wav"}});
  EXPECT_TRUE(file_bytes(dir_ / "out" / "again.wav") == one_second_wav());
  // No temporary files are left beside the exports.
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir_ / "out")) {
    EXPECT_EQ(entry.path().extension().string().find("tmp"), std::string::npos) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 5u);

  // A second meeting, then a restart: both are there, newest first.
  put_file(dir_ / "b.wav", "not a wav");
  const std::string second = ok("import_media", {{"path", path("b.wav")}})["id"].get<std::string>();
  EXPECT_EQ(fails("export_meeting_audio", {{"id", second}, {"path", path("out/b.wav")}}),
            "The stand-in app exports WAV audio only, and the media of meeting " + second +
                " is no WAV file.");
  start();
  Json list = ok("list_meetings");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["id"], second);
  EXPECT_EQ(list[1]["title"], "Weekly");
  Json again = ok("get_meeting", {{"id", id}});
  EXPECT_EQ(again["notes"], "Decided: ship.");
  EXPECT_EQ(again["status"], "ready");

  EXPECT_EQ(ok("delete_meeting", {{"id", second}}), (Json{{"deleted", second}}));
  EXPECT_EQ(fails("get_meeting", {{"id", second}}), "No meeting has the ID `" + second + "`.");
  EXPECT_EQ(ok("list_meetings").size(), 1u);
}

TEST_F(StandinApp, JobsRunBesideOtherRequestsAndCanBeCancelled) {
  start(400ms);
  put_file(dir_ / "talk.wav", one_second_wav());

  Json m = ok("import_media", {{"path", path("talk.wav")}}, true);
  const std::string id = m["id"].get<std::string>();
  EXPECT_EQ(m["status"], "importing");
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(ok("get_meeting", {{"id", id}})["status"], "importing");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 200ms) << "a request waited for the job";
  EXPECT_EQ(fails("transcribe_meeting", {{"id", id}}),
            "Meeting " + id + " is busy (importing); wait for it or cancel it.");
  EXPECT_EQ(fails("save_meeting", {{"id", id}, {"title", "x"}}),
            "Meeting " + id + " is busy (importing); wait for it or cancel it.");
  EXPECT_EQ(fails("delete_meeting", {{"id", id}}),
            "Meeting " + id + " is busy (importing); wait for it or cancel it.");
  EXPECT_EQ(ok("cancel_meeting", {{"id", id}})["status"], "cancelled");
  EXPECT_EQ(fails("cancel_meeting", {{"id", id}}), "Nothing is running for meeting " + id + ".");
  EXPECT_EQ(fails("transcribe_meeting", {{"id", id}}),
            "Meeting " + id + " has no audio to transcribe.");

  // No transcript file: an empty transcript and a warning, never text.
  m = ok("import_media", {{"path", path("talk.wav")}});
  const std::string second = m["id"].get<std::string>();
  // A job that is waited for holds up only its own request.
  Json waited;
  std::thread waiter([&] {
    waited = reply("transcribe_meeting", {{"id", second}, {"model", "transcript-file"}});
  });
  for (int i = 0; i < 100 && ok("get_meeting", {{"id", second}})["status"] != "transcribing"; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  const auto polled = std::chrono::steady_clock::now();
  EXPECT_EQ(ok("get_meeting", {{"id", second}})["status"], "transcribing");
  EXPECT_LT(std::chrono::steady_clock::now() - polled, 200ms);
  waiter.join();
  EXPECT_EQ(waited["ok"], true) << waited;
  m = waited["result"];
  EXPECT_EQ(m["status"], "ready");
  EXPECT_EQ(m["transcript"], "");
  EXPECT_EQ(m["title"], "talk");
  EXPECT_EQ(m["recognitionCompleteness"], 0.0);
  EXPECT_EQ(m["recognitionWarnings"],
            Json::array({"The stand-in app does not recognise speech, and there is no transcript "
                         "file " +
                         path("talk.txt") + ": the transcript is empty."}));
  EXPECT_EQ(fails("generate_notes", {{"id", second}}),
            "Meeting " + second + " has no transcript to take notes from.");
  EXPECT_EQ(fails("clean_meeting", {{"id", second}}),
            "Meeting " + second + " has no transcript to clean.");

  // A transcript file that is not UTF-8 fails the job, with the reason.
  put_file(dir_ / "talk.txt", "caf\xE9");
  EXPECT_EQ(fails("transcribe_meeting", {{"id", second}}),
            "Cannot use the transcript file " + path("talk.txt") + ": it is not UTF-8 text.");
  m = ok("get_meeting", {{"id", second}});
  EXPECT_EQ(m["status"], "failed");
  EXPECT_EQ(m["error"],
            "Cannot use the transcript file " + path("talk.txt") + ": it is not UTF-8 text.");

  // Quitting stops a running job and refuses what comes after.
  put_file(dir_ / "talk.txt", "Alice: hello");
  ok("transcribe_meeting", {{"id", second}}, true);
  EXPECT_EQ(ok("quit_app"), (Json{{"quitting", true}}));
  EXPECT_TRUE(app_->quitting());
  EXPECT_EQ(fails("ping"), "Vellumo is quitting.");
  app_->shutdown();
  start();
  EXPECT_EQ(ok("get_meeting", {{"id", second}})["status"], "cancelled");
}

TEST_F(StandinApp, RecordingDictationSettingsAndLabels) {
  start();
  Json m = ok("start_meeting", {{"title", ""}, {"source", "both"}});
  const std::string id = m["id"].get<std::string>();
  EXPECT_EQ(m["status"], "recording");
  EXPECT_EQ(m["title"].get<std::string>().substr(0, 8), "Meeting ");
  EXPECT_EQ(m["recordingWarnings"],
            Json::array({"The stand-in app records no sound: this meeting has no audio."}));
  Json state = ok("get_state");
  EXPECT_EQ(state["state"], "recording");
  EXPECT_EQ(state["meetingRecording"], true);
  EXPECT_EQ(state["activeMeetingId"], id);
  EXPECT_EQ(fails("start_meeting", {{"title", "x"}, {"source", "both"}}),
            "Meeting " + id + " is being recorded already; stop it first.");
  EXPECT_EQ(fails("cancel_meeting", {{"id", id}}),
            "Meeting " + id + " is being recorded; stop the recording instead.");
  m = ok("stop_meeting");
  EXPECT_EQ(m["status"], "ready");
  EXPECT_TRUE(m["durationSeconds"].is_number());
  EXPECT_EQ(ok("get_state")["activeMeetingId"], nullptr);
  EXPECT_EQ(fails("stop_meeting"), "No meeting is being recorded.");
  EXPECT_EQ(fails("export_meeting_audio", {{"id", id}, {"path", path("out/a.wav")}}),
            "Meeting " + id + " has no audio to export.");
  EXPECT_EQ(fails("start_meeting", {{"title", "x"}, {"source", "radio"}}),
            "The source must be both, microphone or system, not `radio`.");

  // Labels: turning them off needs confirming, and removes the names.
  ok("save_meeting", {{"id", id}, {"transcript", "Ann: one\nBo: two"}});
  EXPECT_EQ(
      fails("set_meeting_speaker_labels", {{"id", id}, {"enabled", false}, {"confirmed", false}}),
      "Turning speaker labels off removes the speaker names from the transcript of meeting " + id +
          "; confirm it to go on (vellumo-cli: --confirm).");
  EXPECT_EQ(ok("get_meeting", {{"id", id}})["transcript"], "Ann: one\nBo: two");
  m = ok("set_meeting_speaker_labels", {{"id", id}, {"enabled", false}, {"confirmed", true}});
  EXPECT_EQ(m["transcript"], "one\ntwo");
  EXPECT_EQ(m["speakerCount"], nullptr);
  EXPECT_EQ(fails("rename_meeting_speaker", {{"id", id}, {"from", "Ann"}, {"to", "A"}}),
            "Meeting " + id + " has no speaker labels.");
  EXPECT_EQ(ok("set_meeting_speaker_labels", {{"id", id}, {"enabled", true}})["speakerLabels"],
            true);

  // Joining keeps the parts and says the audio is not joined.
  const std::string other =
      ok("start_meeting", {{"title", "Other"}, {"source", "microphone"}})["id"].get<std::string>();
  ok("stop_meeting");
  ok("save_meeting", {{"id", other}, {"transcript", "Cy: three"}});
  m = ok("join_meetings", {{"ids", {id, other}}, {"title", nullptr}});
  EXPECT_EQ(m["transcript"], "one\ntwo\n\nCy: three");
  EXPECT_EQ(m["source"], "joined");
  EXPECT_EQ(fails("join_meetings", {{"ids", {id, id}}}), "Meeting " + id + " is named twice.");
  EXPECT_EQ(fails("join_meetings", {{"ids", {id}}}), "Joining needs at least two meetings.");
  EXPECT_EQ(ok("list_meetings").size(), 3u);

  // Dictation: honest about having no text.
  EXPECT_EQ(fails("copy_last_dictation"), "There is no dictation yet.");
  EXPECT_EQ(fails("stop_dictation"), "No dictation is running.");
  EXPECT_EQ(ok("start_dictation")["state"], "dictating");
  EXPECT_EQ(ok("get_state")["state"], "dictating");
  Json stopped = ok("stop_dictation");
  EXPECT_EQ(stopped["state"], "idle");
  EXPECT_EQ(stopped["outputText"], "");
  EXPECT_EQ(stopped["error"],
            "The stand-in app does not recognise speech: the dictation has no text.");
  ok("start_dictation");
  EXPECT_EQ(ok("cancel_dictation")["state"], "idle");
  ok("start_dictation");
  ok("stop_dictation");
  EXPECT_EQ(ok("list_dictations", {{"limit", 1}}).size(), 1u);
  EXPECT_EQ(ok("list_dictations").size(), 2u);
  EXPECT_EQ(ok("copy_last_dictation")["copied"], false);

  // Settings: checked, saved, found again.
  Json settings = ok("get_state")["settings"];
  settings["meetingSpeakerLabels"] = false;
  settings["vocabulary"] = {"Vellumo"};
  EXPECT_EQ(ok("save_settings", {{"settings", settings}})["settings"], settings);
  EXPECT_EQ(fails("save_settings", {{"settings", {{"theme", "dark"}}}}),
            "Unknown setting `theme`.");
  EXPECT_EQ(fails("show_page", {{"page", "nowhere"}}).substr(0, 24), "Unknown page `nowhere`; ");
  EXPECT_EQ(ok("show_page", {{"page", "meetings"}})["shown"], false);
  EXPECT_EQ(fails("no_such_command"), "Unknown command: no_such_command");
  EXPECT_EQ(fails("get_meeting", {{"id", 5}}),
            "The argument `id` of get_meeting must be a string.");
  EXPECT_EQ(app_->answer("not json").substr(0, 35), "{\"error\":\"The request is not JSON: ");
  start();
  EXPECT_EQ(ok("get_vocabulary"), (Json{{"words", {"Vellumo"}}}));
  EXPECT_EQ(ok("get_state")["settings"], settings);
  EXPECT_EQ(ok("list_dictations").size(), 2u);
  const std::string third =
      ok("start_meeting", {{"title", "T"}, {"source", "system"}})["id"].get<std::string>();
  EXPECT_EQ(ok("get_meeting", {{"id", third}})["speakerLabels"], false);
  // Shutting down ends the recording properly.
  app_->shutdown();
  start();
  EXPECT_EQ(ok("get_meeting", {{"id", third}})["status"], "ready");
  EXPECT_EQ(ok("get_state")["meetingRecording"], false);
}

TEST_F(StandinApp, UnreadableFilesAreSetAsideNotOverwritten) {
  put_file(dir_ / "data" / "library.json", "{\"meetings\": [oops");
  put_file(dir_ / "data" / "settings.json", "[]");
  start();
  const std::string problem = ok("get_state")["error"].get<std::string>();
  EXPECT_NE(problem.find("library.json"), std::string::npos) << problem;
  EXPECT_NE(problem.find("settings.json"), std::string::npos) << problem;
  EXPECT_EQ(ok("list_meetings"), Json::array());
  std::vector<std::string> kept;
  for (const auto& entry : fs::directory_iterator(dir_ / "data")) {
    const std::string name = utf8_of(entry.path().filename());
    if (name.find(".unreadable-") != std::string::npos) {
      kept.push_back(file_bytes(entry.path()));
    }
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"[]", "{\"meetings\": [oops"}));
  // The new library is whole JSON.
  EXPECT_TRUE(parse_json(file_bytes(dir_ / "data" / "library.json")));

  // A byte that is not UTF-8: the reason quotes it as U+FFFD, so that every
  // reply stays UTF-8 (a client refuses one that is not).
  app_.reset();
  put_file(dir_ / "data" / "library.json", file_bytes(dir_ / "data" / "library.json") + "\xFF");
  start();
  const std::string quoted = ok("get_state")["error"].get<std::string>();
  EXPECT_NE(quoted.find("\xEF\xBF\xBD"), std::string::npos) << quoted;
  EXPECT_EQ(ok("get_diagnostics")["problem"], quoted);
}

TEST_F(StandinApp, OpensEveryPageTheUsageTextOffers) {
  start();
  std::string listed;
  for (std::string_view page : kUsagePages) {
    listed += (listed.empty() ? "" : ", ") + std::string(page);
    EXPECT_EQ(ok("show_page", {{"page", page}})["page"], page);
  }
  EXPECT_NE(usage_text().find("Open a window: " + listed + "\n"), std::string_view::npos);
}

}  // namespace
}  // namespace vellumo::standin
