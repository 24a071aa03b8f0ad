// The CLI against the stand-in app it launches from its own folder: every
// family of commands end to end, with the app started from cold, quit, and
// started again on the same library.

#include <fstream>
#include <thread>

#include "harness.h"
#include "version.h"

namespace vellumo::e2e {
namespace {

// `seconds` of 8 kHz, 16-bit mono silence.
std::string wav(std::uint32_t seconds) {
  auto le = [](std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) {
      s += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return s;
  };
  const std::uint32_t data = 16000 * seconds;
  return "RIFF" + le(36 + data, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
         le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(data, 4) + std::string(data, '\0');
}

Json json_of(const RunResult& run) {
  auto parsed = parse_json(run.out);
  EXPECT_TRUE(parsed) << "not JSON: " << run.out << run.err;
  return parsed ? *parsed : Json();
}

class Standin : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    install_standin();
    set_env("VELLUMO_STANDIN_PACE_MS", "400");
    // However a test ends, its stand-in ends with it.
    set_env("VELLUMO_STANDIN_STOP_FILE", target().path_text(dir() / "stop"));
    set_env("VELLUMO_STANDIN_MAX_LIFETIME_S", "200");
  }

  void TearDown() override {
    if (app_runs()) {
      (void)cli({"quit"});
    }
    std::ofstream(dir() / "stop") << "stop\n";
    EXPECT_TRUE(app_ends()) << "the stand-in app did not stop";
    E2eTest::TearDown();
  }

  // The stand-in holds this file while it runs.
  fs::path lock_file() const { return dir() / "localappdata" / "Vellumo" / "standin" / "app.lock"; }
  bool app_runs() const { return fs::exists(lock_file()); }
  bool app_ends() const {
    for (int i = 0; i < 300 && app_runs(); ++i) {
      std::this_thread::sleep_for(50ms);
    }
    return !app_runs();
  }

  // Runs the CLI and returns its JSON output, expecting success.
  Json ok(const std::vector<std::string>& words) {
    const RunResult run = cli(words);
    EXPECT_EQ(run.exit_code, 0) << words.front() << " " << words.back() << ": " << run.err;
    EXPECT_EQ(run.err, "");
    return json_of(run);
  }

  std::string path(const std::string& name) const { return target().path_text(dir() / name); }
};

TEST_F(Standin, LaunchedFromColdServesOneInstanceAndQuits) {
  ASSERT_FALSE(app_runs());
  const RunResult first = cli({"status"});
  EXPECT_EQ(first.exit_code, 0) << first.err;
  const Json status = json_of(first);
  EXPECT_EQ(status["version"], VELLUMO_VERSION "-standin");
  EXPECT_EQ(status["state"], "idle");
  EXPECT_EQ(status["meetingRecording"], false);
  EXPECT_EQ(status["activeMeetingId"], nullptr);
  EXPECT_EQ(status["error"], nullptr);
  EXPECT_EQ(status["meetingModel"], "transcript-file");
  EXPECT_EQ(status["meetingSpeakerLabels"], true);
  EXPECT_EQ(status["cli"], cli_path_text());
  EXPECT_TRUE(app_runs());

  // A second instance leaves at once; the first goes on serving.
  const auto standin = cli_path().parent_path() / ("Vellumo" + target().exe_suffix());
  const RunResult second = run(standin, {"--startup"}, {});
  EXPECT_EQ(second.exit_code, 0) << second.err;
  EXPECT_LT(second.took, 10s);
  expect_output(cli({"ping", "--no-launch"}), "\"pong\"\n");

  expect_output(cli({"quit"}), "{\n  \"quitting\": true\n}\n");
  EXPECT_TRUE(app_ends());
  expect_error_around(cli({"status", "--no-launch"}), 3, "Vellumo is not running (", ").");
}

TEST_F(Standin, ACommandRightAfterQuitStartsTheNextInstance) {
  ok({"status"});
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    expect_output(cli({"quit"}), "{\n  \"quitting\": true\n}\n");
    EXPECT_FALSE(app_runs());  // its lock is let go before the reply
    EXPECT_EQ(ok({"meetings", "list"}), Json::array());
  }
}

TEST_F(Standin, DetachedTranscriptionEditingExportAndARestart) {
  const std::string transcript =
      "Zo\xC3\xAB: Um, good morning everyone. Let's start.\nBob: I will send the the report.\n"
      "Zo\xC3\xAB: Thanks, Bob.";
  put_file(dir() / "media" / "standup.wav", wav(2));
  put_file(dir() / "media" / "standup.txt", transcript + "\r\n");
  // Natively the library is the user's alone: its folder, found open to
  // others, is narrowed.
  const fs::path library = lock_file().parent_path();
  fs::create_directories(library);
  fs::permissions(library, fs::perms(0755));

  Json m = ok({"meetings", "import", path("media/standup.wav")});
  EXPECT_EQ(m["status"], "ready");
  EXPECT_EQ(m["title"], "standup");
  EXPECT_EQ(m["durationSeconds"], 2.0);
  EXPECT_EQ(m["source"], "file");
  const std::string id = m["id"].get<std::string>();

  m = ok({"meetings", "transcribe", "latest", "--detach"});
  EXPECT_EQ(m["status"], "transcribing");
  // The job runs in the app; reading the meeting meanwhile does not wait.
  EXPECT_EQ(ok({"meetings", "show", id})["status"], "transcribing");
  m = ok({"meetings", "wait", "latest"});
  EXPECT_EQ(m["status"], "ready");
  EXPECT_EQ(m["id"], id);
  EXPECT_EQ(m["title"], "Good morning everyone");
  EXPECT_EQ(m["transcriptChars"], transcript.size() - 2);  // two characters of two bytes
  EXPECT_EQ(m["speakerCount"], 2);
  EXPECT_EQ(m["recognitionWarnings"][0].get<std::string>().substr(0, 42),
            "The stand-in app does not recognise speech");
  expect_output(cli({"meetings", "transcript", "latest"}), transcript + "\n");

  ok({"meetings", "rename", "latest", "Weekly sync"});
  ok({"meetings", "set-notes", "latest", "--text", "Ship on Friday."});
  expect_output(cli({"meetings", "notes", id.substr(0, 6)}), "Ship on Friday.\n");
  ok({"meetings", "rename-speaker", "latest", "Bob", "Robert"});
  EXPECT_EQ(ok({"meetings", "speakers", "latest"})["speakers"][1],
            (Json{{"name", "Robert"}, {"lines", 1}, {"words", 6}}));
  expect_error(cli({"meetings", "labels", "latest", "off"}), 1,
               "Turning speaker labels off removes the speaker names from the transcript of "
               "meeting " +
                   id + "; confirm it to go on (vellumo-cli: --confirm).");
  m = ok({"meetings", "clean", "latest"});
  EXPECT_EQ(m["status"], "ready");
  expect_output(cli({"meetings", "transcript", "latest", "--cleaned"}),
                "Zo\xC3\xAB: Good morning everyone. Let's start.\nRobert: I will send the "
                "report.\nZo\xC3\xAB: Thanks, Bob.\n");

  // Exports are written for real, in each format the app can make.
  expect_error_around(cli({"meetings", "export", "latest", path("out/w.md")}), 1,
                      "Cannot write " + path("out/w.md") + ": ", "");
  fs::create_directories(dir() / "out");
  expect_output(cli({"meetings", "export", "latest", path("out/w.md")}),
                "{\n  \"exported\": " + to_json_compact(Json(path("out/w.md"))) +
                    ",\n  \"format\": \"markdown\"\n}\n");
  const std::string markdown = file_bytes(dir() / "out" / "w.md");
  EXPECT_EQ(markdown.substr(0, 16), "# Weekly sync\n\n-");
  EXPECT_NE(markdown.find("## Notes\n\nShip on Friday.\n"), std::string::npos) << markdown;
  EXPECT_NE(markdown.find("Robert: I will send the the report."), std::string::npos) << markdown;
  EXPECT_EQ(cli({"meetings", "export", "latest", path("out/w.html"), "--cleaned"}).exit_code, 0);
  EXPECT_NE(file_bytes(dir() / "out" / "w.html").find("<p>Robert: I will send the report.</p>"),
            std::string::npos);
  EXPECT_EQ(cli({"meetings", "export", "latest", path("out/w.txt")}).exit_code, 0);
  EXPECT_EQ(file_bytes(dir() / "out" / "w.txt").substr(0, 24), "Weekly sync\n===========\n");
  expect_error(cli({"meetings", "export", "latest", path("out/w.pdf")}), 1,
               "The stand-in app cannot write PDF; export md, txt or html instead.");
  EXPECT_FALSE(fs::exists(dir() / "out" / "w.pdf"));
  EXPECT_EQ(cli({"meetings", "export-audio", "latest", path("out/a.wav")}).exit_code, 0);
  EXPECT_TRUE(file_bytes(dir() / "out" / "a.wav") == wav(2));

  // Quit, then the next command starts the app again on the same library.
  expect_output(cli({"quit"}), "{\n  \"quitting\": true\n}\n");
  ASSERT_TRUE(app_ends());
  const Json list = ok({"meetings", "list"});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["id"], id);
  EXPECT_EQ(list[0]["title"], "Weekly sync");
  expect_output(cli({"meetings", "notes", "latest"}), "Ship on Friday.\n");
  if (!target().wine) {
    EXPECT_EQ(static_cast<int>(fs::status(library).permissions()), 0700);
    for (const auto& entry : fs::recursive_directory_iterator(library)) {
      EXPECT_EQ(static_cast<int>(entry.status().permissions()), entry.is_directory() ? 0700 : 0600)
          << entry.path();
    }
  }
  EXPECT_EQ(ok({"meetings", "delete", "latest", "--yes"}), (Json{{"deleted", id}}));
  expect_error(cli({"meetings", "show", "latest"}), 1, "There are no meetings yet.");
}

TEST_F(Standin, WithoutATranscriptFileTheTranscriptIsEmptyAndTheWarningSaysWhy) {
  put_file(dir() / "media" / "silence.wav", wav(1));
  ok({"meetings", "import", path("media/silence.wav")});
  const Json m = ok({"meetings", "transcribe", "latest"});
  EXPECT_EQ(m["status"], "ready");
  EXPECT_EQ(m["transcriptChars"], 0);
  EXPECT_EQ(m["recognitionCompleteness"], 0.0);
  EXPECT_EQ(m["title"], "silence");
  EXPECT_EQ(m["recognitionWarnings"],
            Json::array({"The stand-in app does not recognise speech, and there is no transcript "
                         "file " +
                         path("media/silence.txt") + ": the transcript is empty."}));
  expect_output(cli({"meetings", "transcript", "latest"}), "\n");
  expect_error(cli({"meetings", "generate-notes", "latest"}), 1,
               "Meeting " + m["id"].get<std::string>() + " has no transcript to take notes from.");
  expect_error_around(cli({"meetings", "import", path("media/missing.wav")}), 1,
                      "Cannot import " + path("media/missing.wav") + ": ", " (os error 2)");
}

TEST_F(Standin, CancelRecordDictationSettingsAndTheOtherCommands) {
  set_env("VELLUMO_STANDIN_PACE_MS", "3000");
  put_file(dir() / "media" / "talk.wav", wav(1));
  put_file(dir() / "media" / "talk.txt", "Ann: Hello.");
  ok({"meetings", "import", path("media/talk.wav"), "--detach"});
  EXPECT_EQ(ok({"meetings", "show", "latest"})["status"], "importing");
  EXPECT_EQ(ok({"meetings", "wait", "latest"})["status"], "ready");
  EXPECT_EQ(ok({"meetings", "transcribe", "latest", "--detach"})["status"], "transcribing");
  EXPECT_EQ(ok({"meetings", "cancel", "latest"})["status"], "cancelled");
  EXPECT_EQ(ok({"meetings", "wait", "latest", "--timeout", "0"})["status"], "cancelled");
  EXPECT_EQ(ok({"meetings", "show", "latest"})["transcript"], "");

  Json m = ok({"meetings", "record", "start", "--title", "Standup"});
  EXPECT_EQ(m["status"], "recording");
  const Json status = ok({"status"});
  EXPECT_EQ(status["meetingRecording"], true);
  EXPECT_EQ(status["activeMeetingId"], m["id"]);
  EXPECT_EQ(status["state"], "recording");
  m = ok({"meetings", "record", "stop", "--detach"});
  EXPECT_EQ(m["status"], "finalizing");
  EXPECT_EQ(m["recordingWarnings"],
            Json::array({"The stand-in app records no sound: this meeting has no audio."}));
  EXPECT_EQ(ok({"meetings", "wait", "latest"})["status"], "ready");

  // Settings are checked by the app and kept.
  EXPECT_EQ(ok({"settings", "set", "meetingSpeakerLabels=false", "language=de"})["language"], "de");
  expect_output(cli({"settings", "get", "meetingSpeakerLabels"}), "false\n");
  expect_error(cli({"invoke", "save_settings", R"({"settings":{"theme":"dark"}})"}), 1,
               "Unknown setting `theme`.");
  expect_error(cli({"settings", "set", "asrModel=large"}), 1,
               "Unknown speech model `large`; the stand-in app has transcript-file.");

  // Dictation, honest about having no text.
  EXPECT_EQ(ok({"dictation", "start"}),
            (Json{{"state", "dictating"}, {"error", nullptr}, {"outputText", nullptr}}));
  EXPECT_EQ(
      ok({"dictation", "stop"}),
      (Json{{"state", "idle"},
            {"error", "The stand-in app does not recognise speech: the dictation has no text."},
            {"outputText", ""}}));
  EXPECT_EQ(ok({"dictation", "history"}).size(), 1u);
  EXPECT_EQ(ok({"dictation", "copy-last"})["copied"], false);
  EXPECT_EQ(ok({"dictation", "cancel"})["state"], "idle");

  // The remaining commands answer, and unknown ones or bad arguments fail
  // clearly.
  const Json commands = ok({"commands"});
  EXPECT_EQ(commands.size(), 33u);
  EXPECT_EQ(commands[0], (Json{{"name", "get_state"}, {"args", Json::array()}}));
  EXPECT_EQ(ok({"models"})["speechModels"][0]["id"], "transcript-file");
  EXPECT_EQ(ok({"ai"})["provider"], nullptr);
  EXPECT_EQ(ok({"vocabulary"}), (Json{{"words", Json::array()}}));
  EXPECT_EQ(ok({"diagnostics"})["speechRecognition"], false);
  EXPECT_EQ(ok({"snapshot"})["meetings"].size(), 2u);
  EXPECT_EQ(ok({"open", "meetings"})["shown"], false);
  EXPECT_EQ(ok({"open", "setup"})["page"], "setup");
  expect_error(cli({"open", "nowhere"}), 1,
               "Unknown page `nowhere`; the pages are dictation, meetings, history, settings, "
               "models, vocabulary, ai, diagnostics, setup, appearance, microphone, shortcuts.");
  expect_error(cli({"invoke", "nope"}), 1, "Unknown command: nope");
  expect_error(cli({"invoke", "get_meeting", R"({"id":5})"}), 1,
               "The argument `id` of get_meeting must be a string.");
  expect_error(cli({"invoke", "get_meeting", "[]"}), 1,
               "The arguments of get_meeting must be a JSON object.");
  const std::string imported = ok({"meetings"})[1]["id"].get<std::string>();
  EXPECT_EQ(ok({"meetings", "join", "latest", imported})["source"], "joined");
}

}  // namespace
}  // namespace vellumo::e2e
