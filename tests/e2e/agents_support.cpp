#include "agents_support.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "core/utf8.h"

namespace vellumo::e2e {

const std::vector<std::string> kEveryTarget = {"PATH",           "Claude Code", "Codex",
                                               "Gemini CLI",     "Cursor",      "Windsurf",
                                               "Claude Desktop", "opencode"};
const std::vector<std::string> kGeminiOnlyTargets = {"PATH", "Claude Code", "Codex", "Gemini CLI"};

std::string report_text(const std::vector<ReportLine>& lines) {
  Json report = Json::array();
  for (const ReportLine& line : lines) {
    Json object = {{"target", line.target}, {"state", line.state}};
    if (line.detail) {
      object["detail"] = *line.detail;
    }
    report.push_back(std::move(object));
  }
  return to_json_pretty(report) + "\n";
}

void PrintTo(const ReportLine& line, std::ostream* out) {
  *out << "{" << line.target << ", " << line.state << ", "
       << (line.detail ? json_string(*line.detail) : std::string("no detail")) << "}";
}

std::optional<ReportLine> report_line(const RunResult& run, std::string_view target) {
  const auto report = parse_json(run.out);
  if (!report || !report->is_array()) {
    ADD_FAILURE() << "no report: " << run.out;
    return std::nullopt;
  }
  for (const Json& line : report.value()) {
    if (line.value("target", "") == target) {
      ReportLine found{line.at("target").get<std::string>(), line.at("state").get<std::string>(),
                       std::nullopt};
      if (line.contains("detail")) {
        found.detail = line.at("detail").get<std::string>();
      }
      return found;
    }
  }
  return std::nullopt;
}

std::string json_string(std::string_view text) {
  std::string out;
  write_json_string(out, text);
  return out;
}

std::optional<FileStamp> stamp(const fs::path& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return FileStamp{
      static_cast<std::uint64_t>(info.st_ino),
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

void make_old(const fs::path& path) {
  // 2001-09-09, far before any test run.
  const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::string UserPathValue::text() const {
  EXPECT_TRUE(data.size() >= 2 && data.size() % 2 == 0 &&
              data.compare(data.size() - 2, 2, std::string(2, '\0')) == 0 &&
              (data.size() < 4 || data.compare(data.size() - 4, 2, std::string(2, '\0')) != 0))
      << "the value does not end with exactly one NUL";
  std::u16string units;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                          (static_cast<unsigned char>(data[i + 1]) << 8)));
  }
  while (!units.empty() && units.back() == u'\0') {
    units.pop_back();
  }
  return utf16_to_utf8_lossy(units);
}

void AgentsTest::SetUp() {
  E2eTest::SetUp();
  if (HasFatalFailure() || !target().wine) {
    return;
  }
  // Each test starts without a user PATH and leaves the one it found.
  saved_user_path_ = user_path();
  user_path_saved_ = !HasFailure();
  ASSERT_TRUE(user_path_saved_) << "cannot read the user PATH of the prefix";
  delete_user_path();
}

void AgentsTest::TearDown() {
  if (user_path_saved_) {
    if (saved_user_path_.exists) {
      set_user_path_raw(saved_user_path_.type, saved_user_path_.data);
    } else {
      delete_user_path();
    }
  }
  E2eTest::TearDown();
}

std::string AgentsTest::in(const std::string& base, std::initializer_list<std::string_view> parts) {
  std::string path = base;
  for (std::string_view part : parts) {
    path += target().wine ? '\\' : '/';
    path += part;
  }
  return path;
}

std::string AgentsTest::marker_text(const std::string& cli, bool removed) {
  return "{\n  \"cli\": " + json_string(cli) + ",\n  \"removed\": " + (removed ? "true" : "false") +
         "\n}";
}

void AgentsTest::make_agent_folders() {
  for (const fs::path& folder :
       {gemini_file().parent_path(), cursor_file().parent_path(), windsurf_file().parent_path(),
        claude_desktop_file().parent_path(), opencode_folder()}) {
    fs::create_directories(folder);
  }
}

ReportLine AgentsTest::path_line(const std::string& state, const fs::path& cli) const {
  const fs::path program = cli.empty() ? cli_path() : cli;
  if (target().wine) {
    return {"PATH", state, text(program.parent_path())};
  }
  return {"PATH", state, (home() / ".local" / "bin" / "vellumo-cli").string()};
}

std::vector<ReportLine> AgentsTest::report(const std::string& state,
                                           const std::vector<std::string>& targets,
                                           const std::vector<ReportLine>& changed) const {
  const std::map<std::string, std::optional<std::string>> details = {
      {"PATH", path_line(state).detail},
      {"Claude Code", std::nullopt},
      {"Codex", codex_detail()},
      {"Gemini CLI", gemini_detail()},
      {"Cursor", cursor_detail()},
      {"Windsurf", windsurf_detail()},
      {"Claude Desktop", claude_desktop_detail()},
      {"opencode", opencode_detail()},
  };
  for (const ReportLine& line : changed) {
    EXPECT_NE(std::find(targets.begin(), targets.end(), line.target), targets.end()) << line.target;
  }
  std::vector<ReportLine> lines;
  for (const std::string& name : targets) {
    const auto change = std::find_if(changed.begin(), changed.end(),
                                     [&](const ReportLine& line) { return line.target == name; });
    lines.push_back(change != changed.end() ? *change : ReportLine{name, state, details.at(name)});
  }
  return lines;
}

void AgentsTest::expect_report(const RunResult& run, const std::vector<ReportLine>& lines) {
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, report_text(lines));
}

void AgentsTest::expect_failed_report(const RunResult& run, const std::vector<ReportLine>& lines) {
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "error: Some targets could not be updated; see `detail`.\n");
  EXPECT_EQ(run.out, report_text(lines));
}

fs::path AgentsTest::copy_cli(const fs::path& relative) {
  fs::path copy = dir() / relative;
  copy += target().exe_suffix();
  fs::create_directories(copy.parent_path());
  fs::copy_file(cli_path(), copy);
  return copy;
}

fs::path AgentsTest::put_claude_program(const fs::path& folder) {
  fs::create_directories(folder);
  fs::create_directories(claude_state());
  set_env("FAKE_CLAUDE_DIR", text(claude_state()));
  const fs::path program = folder / ("claude" + target().exe_suffix());
  fs::copy_file(target().fake_claude, program);
  return program;
}

fs::path AgentsTest::put_claude_script(const fs::path& folder) {
  fs::create_directories(folder);
  fs::create_directories(claude_state());
  set_env("FAKE_CLAUDE_DIR", text(claude_state()));
  const fs::path script = folder / "claude.cmd";
  std::ofstream(script, std::ios::binary) << "@echo off\r\n"
                                          << "set FAKE_CLAUDE_VIA=%~f0\r\n"
                                          << "\"" << text(target().fake_claude) << "\" %*\r\n";
  return script;
}

std::vector<Json> AgentsTest::claude_calls() const {
  std::vector<Json> calls;
  std::istringstream log(file_bytes(claude_state() / "calls.log"));
  for (std::string line; std::getline(log, line);) {
    auto parsed = parse_json(line);
    EXPECT_TRUE(parsed.ok()) << line;
    if (parsed) {
      calls.push_back(*parsed);
    }
  }
  return calls;
}

std::vector<std::vector<std::string>> AgentsTest::claude_args(std::size_t from) const {
  std::vector<std::vector<std::string>> args;
  const auto calls = claude_calls();
  for (std::size_t i = from; i < calls.size(); ++i) {
    args.push_back(calls[i].at("args").get<std::vector<std::string>>());
  }
  return args;
}

std::vector<std::string> AgentsTest::add_args(const fs::path& cli) const {
  return {"mcp", "add", "--scope", "user", "vellumo", "--", text(cli.empty() ? cli_path() : cli),
          "mcp"};
}

bool AgentsTest::machine_has_claude() {
  for (const char* folder : {"/opt/homebrew/bin", "/usr/local/bin"}) {
    for (const char* name : {"claude", "claude.exe", "claude.cmd"}) {
      if (fs::exists(fs::path(folder) / name)) {
        return true;
      }
    }
  }
  return false;
}

UserPathValue AgentsTest::user_path() {
  const RunResult run = this->run(target().user_environment, {"get"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  UserPathValue value;
  const std::string head = line_of(run.out, 1);
  const std::string ticks = line_of(run.out, 2);
  value.key_written = ticks.empty() ? 0 : std::stoull(ticks);
  if (head == "missing") {
    return value;
  }
  const auto space = head.find(' ');
  EXPECT_NE(space, std::string::npos) << run.out;
  if (space == std::string::npos) {
    return value;
  }
  value.exists = true;
  value.type = static_cast<unsigned>(std::stoul(head.substr(0, space)));
  const std::string hex = head.substr(space + 1);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    value.data.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return value;
}

void AgentsTest::set_user_path_raw(unsigned type, const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  std::vector<std::string> words = {"set", std::to_string(type)};
  if (!hex.empty()) {
    words.push_back(hex);
  }
  const RunResult run = this->run(target().user_environment, words);
  EXPECT_EQ(run.exit_code, 0) << run.err;
}

std::string utf16_bytes(const std::string& text) {
  const auto units = utf8_to_utf16(text);
  EXPECT_TRUE(units.has_value()) << text;
  std::string bytes;
  for (char16_t unit : units.value_or(u"")) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

void AgentsTest::set_user_path(unsigned type, const std::string& text) {
  set_user_path_raw(type, utf16_bytes(text) + std::string(2, '\0'));
}

void AgentsTest::delete_user_path() {
  const RunResult run = this->run(target().user_environment, {"delete"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
}

}  // namespace vellumo::e2e
