#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

namespace vellumo::e2e {
namespace {

using Clock = std::chrono::steady_clock;

Target g_target;

// A pipe whose ends the harness keeps are closed in every child it starts.
struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  return {fds[0], fds[1]};
}

// Starts `argv` with `env`; stdin from `stdin_path` (the null device when
// empty), stdout and stderr to the given descriptors (-1: the null device).
// The child gets a process group of its own, so that a timeout can end
// whatever it started there; it starts in `working_dir` when one is given.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& stdin_path, int out_fd, const std::string& err_path, int err_fd,
            const fs::path& working_dir = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!working_dir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str());
  }
  posix_spawn_file_actions_addopen(
      &actions, 0, stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  if (err_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err_path.empty() ? "/dev/null" : err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<char*> args;
  for (const auto& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) {
    envp.push_back(const_cast<char*>(e.c_str()));
  }
  envp.push_back(nullptr);

  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  return pid;
}

int exit_code_of(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    if (!part.empty()) {
      parts.push_back(part);
    }
  }
  return parts;
}

}  // namespace

std::string Target::path_text(const fs::path& path) const {
  if (!wine) {
    return path.string();
  }
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) {
    if (c == '/') {
      c = '\\';
    }
  }
  return text;
}

const Target& target() { return g_target; }
void set_target(Target target) { g_target = std::move(target); }

std::string line_of(std::string_view text, std::size_t n) {
  std::size_t start = 0;
  for (std::size_t i = 1; i < n; ++i) {
    start = text.find('\n', start);
    if (start == std::string_view::npos) {
      return {};
    }
    ++start;
  }
  return std::string(text.substr(start, text.find('\n', start) - start));
}

std::size_t count_lines(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void E2eTest::SetUp() {
  ASSERT_FALSE(scratch_.path().empty());
  dir_ = fs::canonical(scratch_.path());
  for (const char* sub : {"cli", "home", "appdata", "localappdata", "codex", "path", "run"}) {
    fs::create_directory(dir_ / sub);
  }
  fs::permissions(dir_ / "run", fs::perms::owner_all, fs::perm_options::replace);
  cli_path_ = dir_ / "cli" / ("vellumo-cli" + target().exe_suffix());
  fs::copy_file(target().cli, cli_path_);
  username_ = "e2e-" + std::to_string(::getpid());
}

void E2eTest::TearDown() {
  if (dir_.empty()) {
    return;
  }
  // Every fake app of the test watches this file and exits when it appears.
  std::ofstream(dir_ / "stop") << "stop\n";
  for (pid_t pid : app_pids_) {
    int status = 0;
    bool ended = wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 15s);
    if (!ended) {
      ADD_FAILURE() << "the fake app " << pid << " did not stop";
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
  }
  // Apps the CLI launched are not our children; their markers tell.
  if (!wait_until([&] { return running_apps() == 0; }, 15s)) {
    ADD_FAILURE() << "a fake app launched by the CLI did not stop";
  }
  if (HasFailure()) {
    scratch_.keep();
    std::cerr << "kept the test folder " << dir_ << "\n";
    std::string errors = file_bytes(dir_ / "app-errors");
    if (!errors.empty()) {
      std::cerr << "fake app errors:\n" << errors;
    }
  }
}

std::string E2eTest::cli_path_text() const { return target().path_text(cli_path_); }

std::string E2eTest::link_path_for(const std::string& tag) const {
  if (target().wine) {
    return R"(\\.\pipe\Vellumo-cli-)" + tag;
  }
  return (dir_ / "run" / ("Vellumo-cli-" + tag)).string();
}

std::vector<std::string> E2eTest::environment() const {
  const Target& t = target();
  // A UTF-8 locale: without one, Wine reads the Linux environment as 7-bit
  // text and turns non-ASCII user names into other ASCII letters.
  std::vector<std::string> env = {
      "LANG=C.UTF-8",
      "PATH=" + (dir_ / "path").string(),
      "HOME=" + (dir_ / "home").string(),
      "USERPROFILE=" + t.path_text(dir_ / "home"),
      "APPDATA=" + t.path_text(dir_ / "appdata"),
      "LOCALAPPDATA=" + t.path_text(dir_ / "localappdata"),
      "CODEX_HOME=" + t.path_text(dir_ / "codex"),
      "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
  };
  if (username_) {
    env.push_back("USERNAME=" + *username_);
  }
  // A sanitized build's programs send their reports where the test run
  // collects them.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) {
      env.push_back(std::string(name) + "=" + value);
    }
  }
  if (t.wine) {
    env.insert(env.end(), t.wine_env.begin(), t.wine_env.end());
  }
  for (const auto& [name, value] : env_overrides_) {
    const std::string head = name + "=";
    std::erase_if(env, [&](const std::string& setting) { return setting.rfind(head, 0) == 0; });
    if (value) {
      env.push_back(head + *value);
    }
  }
  return env;
}

void E2eTest::set_env(const std::string& name, std::optional<std::string> value) {
  std::erase_if(env_overrides_, [&](const auto& entry) { return entry.first == name; });
  env_overrides_.emplace_back(name, std::move(value));
}

void E2eTest::set_path_entries(const std::vector<std::string>& entries) {
  const char separator = target().wine ? ';' : ':';
  std::string value;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      value += separator;
    }
    value += entries[i];
  }
  set_env(target().wine ? "WINEPATH" : "PATH", value);
}

std::vector<std::string> E2eTest::command(const fs::path& program,
                                          const std::vector<std::string>& words) const {
  std::vector<std::string> argv;
  if (target().wine) {
    argv.push_back(target().wine64.string());
  }
  argv.push_back(program.string());
  argv.insert(argv.end(), words.begin(), words.end());
  return argv;
}

RunResult E2eTest::cli(const std::vector<std::string>& words, const RunOptions& options) {
  return run(cli_path_, words, options);
}

RunResult E2eTest::run(const fs::path& program, const std::vector<std::string>& words,
                       const RunOptions& options) {
  RunResult result = run_once(program, words, options);
  if (target().wine && result.exit_code == 1 && result.out.empty() && result.err.empty() &&
      options.output == Output::Pipe) {
    // Now and then, beside other Wine tests on a loaded machine, Wine ends
    // a program with 1 before it has run (our programs never fail without
    // a word). A fault of ours would show on the second run too.
    std::cerr << "[   NOTE   ] " << program.filename().string()
              << " ended with 1 without a word under Wine; run once more\n";
    result = run_once(program, words, options);
  }
  return result;
}

RunResult E2eTest::run_once(const fs::path& program, const std::vector<std::string>& words,
                            const RunOptions& options) {
  std::string stdin_path;
  if (options.stdin_text) {
    stdin_path = (dir_ / "stdin").string();
    std::ofstream(stdin_path, std::ios::binary) << *options.stdin_text;
  }
  // Wine hands its own Unix standard error, meant for its debug output, to
  // every process a Windows program creates, whatever standard handles that
  // program chose; an app the CLI launches would hold a pipe there. So under
  // Wine standard error goes to a file, and only standard output is a pipe
  // whose end-of-file is watched.
  Pipe out;
  int out_fd = -1;
  switch (options.output) {
    case Output::Pipe:
    case Output::ClosedPipe:
      out = make_pipe();
      out_fd = out.write;
      if (options.output == Output::ClosedPipe) {
        ::close(out.read);
        out.read = -1;
      }
      break;
    case Output::Full:
      out_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
      break;
    case Output::ReadOnly:
      out_fd = ::open((dir_ / "stdout-read-only").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
      break;
  }
  if (out_fd < 0) {
    throw std::runtime_error(std::string("standard output: ") + std::strerror(errno));
  }
  Pipe err;
  const fs::path err_file = dir_ / "cli-stderr";
  if (target().wine) {
    fs::remove(err_file);
  } else {
    err = make_pipe();
  }
  const auto started = Clock::now();
  pid_t pid = spawn(command(program, words), environment(), stdin_path, out_fd, err_file.string(),
                    err.write, options.working_dir.value_or(fs::path()));
  ::close(out_fd);
  if (err.write >= 0) {
    ::close(err.write);
  }

  RunResult run;
  std::optional<Clock::time_point> ended;
  int fds[2] = {out.read, err.read};
  std::string* sinks[2] = {&run.out, &run.err};
  int open_count = (out.read >= 0 ? 1 : 0) + (err.read >= 0 ? 1 : 0);
  char buffer[65536];
  bool interrupted = false;
  while (open_count > 0 || !ended) {
    const auto now = Clock::now();
    if (!ended && !interrupted && options.interrupt_when && fs::exists(*options.interrupt_when)) {
      ::kill(pid, SIGINT);
      interrupted = true;
    }
    if (!ended) {
      int status = 0;
      rusage usage{};
      if (::wait4(pid, &status, WNOHANG, &usage) == pid) {
        ended = now;
        run.exit_code = exit_code_of(status);
        run.peak_kib = usage.ru_maxrss;
        run.took = now - started;
        continue;
      }
      if (now - started > options.timeout) {
        run.timed_out = true;
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ended = Clock::now();
        run.took = *ended - started;
        continue;
      }
    } else if (now - *ended > 5s) {
      run.output_held_open = true;
      break;
    }
    pollfd polls[2];
    int n = 0;
    int which[2];
    for (int i = 0; i < 2; ++i) {
      if (fds[i] >= 0) {
        polls[n] = {fds[i], POLLIN, 0};
        which[n++] = i;
      }
    }
    if (n == 0) {
      std::this_thread::sleep_for(5ms);
      continue;
    }
    if (::poll(polls, static_cast<nfds_t>(n), 20) <= 0) {
      continue;
    }
    for (int k = 0; k < n; ++k) {
      if (polls[k].revents == 0) {
        continue;
      }
      const int i = which[k];
      ssize_t got = ::read(fds[i], buffer, sizeof(buffer));
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i]);
        fds[i] = -1;
        --open_count;
      }
    }
  }
  for (int fd : fds) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  run.eof_after_exit = Clock::now() - *ended;
  if (target().wine) {
    run.err = file_bytes(err_file);
  }
  EXPECT_FALSE(run.timed_out) << program.filename() << " did not finish within "
                              << options.timeout.count() << " s";
  EXPECT_FALSE(run.output_held_open)
      << program.filename()
      << "'s output stayed open after it ended: a process it started holds it";
  return run;
}

Json E2eTest::scenario() const {
  const Target& t = target();
  return Json{
      {"log", t.path_text(dir_ / "requests.log")},
      {"start_log", t.path_text(dir_ / "starts.log")},
      {"error_log", t.path_text(dir_ / "app-errors")},
      {"stop_file", t.path_text(dir_ / "stop")},
      {"running_dir", t.path_text(dir_)},
      {"ready_file", t.path_text(dir_ / "ready")},
      {"max_lifetime_ms", 60000},
  };
}

void E2eTest::start_app(const Json& scenario) {
  const fs::path file = dir_ / "scenario.json";
  std::ofstream(file, std::ios::binary) << to_json_pretty(scenario) << "\n";
  fs::remove(dir_ / "ready");
  const std::size_t before = starts().size();
  const std::size_t running_before = running_apps();
  pid_t pid = spawn(command(target().fake_app, {"--scenario", target().path_text(file)}),
                    environment(), "", -1, (dir_ / "app-stderr").string(), -1);
  app_pids_.push_back(pid);
  const bool serving = scenario.value("exit_at_once", false) == false;
  const bool serving_later = scenario.contains("listen_after");
  const bool ready = wait_until(
      [&] {
        return serving_later ? running_apps() > running_before
               : serving     ? fs::exists(dir_ / "ready")
                             : starts().size() > before;
      },
      30s);
  ASSERT_TRUE(ready) << "the fake app did not come up: " << file_bytes(dir_ / "app-errors")
                     << file_bytes(dir_ / "app-stderr");
}

void E2eTest::install_app(const Json& scenario, const std::string& name) {
  const fs::path folder = cli_path_.parent_path();
  fs::copy_file(target().fake_app, folder / (name + target().exe_suffix()));
  std::ofstream(folder / "scenario.json", std::ios::binary) << to_json_pretty(scenario) << "\n";
}

void E2eTest::install_standin() {
  fs::copy_file(target().standin, cli_path_.parent_path() / ("Vellumo" + target().exe_suffix()));
}

std::vector<std::string> E2eTest::requests() const {
  // Entries are "request <length>\n<bytes>\n".
  const std::string log = file_bytes(dir_ / "requests.log");
  std::vector<std::string> lines;
  std::size_t at = 0;
  constexpr std::string_view kHead = "request ";
  while (at < log.size()) {
    if (log.compare(at, kHead.size(), kHead) != 0) {
      ADD_FAILURE() << "malformed request log at byte " << at;
      break;
    }
    std::size_t end_of_head = log.find('\n', at);
    std::size_t length = std::stoull(log.substr(at + kHead.size(), end_of_head - at));
    lines.push_back(log.substr(end_of_head + 1, length));
    at = end_of_head + 1 + length + 1;
  }
  return lines;
}

std::vector<std::string> E2eTest::commands() const {
  std::vector<std::string> names;
  for (const auto& line : requests()) {
    auto parsed = parse_json(line);
    names.push_back(parsed && parsed->is_object() && parsed->contains("command")
                        ? parsed->at("command").get<std::string>()
                        : "<unreadable request>");
  }
  return names;
}

std::vector<Json> E2eTest::starts() const {
  std::vector<Json> list;
  for (const auto& line : split(file_bytes(dir_ / "starts.log"), '\n')) {
    auto parsed = parse_json(line);
    list.push_back(parsed ? *parsed : Json(line));
  }
  return list;
}

std::size_t E2eTest::running_apps() const {
  std::size_t n = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir_, error)) {
    n += entry.path().filename().string().rfind("running-", 0) == 0;
  }
  return n;
}

std::string E2eTest::request_line(std::string_view command, std::string_view args, bool detach) {
  std::string line = R"({"version":1,"command":)";
  write_json_string(line, command);
  line += R"(,"args":)";
  line += args;
  line += R"(,"detach":)";
  line += detach ? "true" : "false";
  line += "}\n";
  return line;
}

void E2eTest::expect_error(const RunResult& run, int exit_code, const std::string& message) {
  EXPECT_EQ(run.exit_code, exit_code) << run.err;
  EXPECT_EQ(run.out, "");
  std::string expected = "error: " + message + "\n";
  if (exit_code == 2) {
    expected += "Run `vellumo-cli help` for usage.\n";
  }
  EXPECT_EQ(run.err, expected);
}

void E2eTest::expect_error_around(const RunResult& run, int exit_code, const std::string& prefix,
                                  const std::string& suffix) {
  EXPECT_EQ(run.exit_code, exit_code) << run.err;
  EXPECT_EQ(run.out, "");
  const std::string head = "error: " + prefix;
  std::string tail = suffix + "\n";
  if (exit_code == 2) {
    tail += "Run `vellumo-cli help` for usage.\n";
  }
  const std::string& err = run.err;
  EXPECT_TRUE(err.size() > head.size() + tail.size() && err.rfind(head, 0) == 0 &&
              err.compare(err.size() - tail.size(), tail.size(), tail) == 0 &&
              count_lines(err) == count_lines(head + tail))
      << "standard error: " << err << "expected: " << head << "..." << tail;
}

void E2eTest::expect_output(const RunResult& run, const std::string& out) {
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, out);
}

}  // namespace vellumo::e2e
