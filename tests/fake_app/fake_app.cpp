// A scripted stand-in for the Vellumo app, for the end-to-end tests. It
// serves the app link of the current user and answers each request from a
// scenario file (JSON):
//
//   log               file that receives every request line, byte for byte,
//                     each as "request <length>\n<bytes>\n"
//   start_log         file that receives one line per start: the arguments as
//                     a JSON array
//   error_log         file that receives the app's own failures
//   stop_file         the app exits as soon as this file exists
//   running_dir       while the app runs, it keeps a file "running-<token>"
//                     here, so that a harness can wait for apps it did not
//                     start itself
//   ready_file        created once the link is served
//   link              the link path to serve; without it, the link of the
//                     user named by USERNAME
//   max_lifetime_ms   the app exits after this long whatever happens
//                     (default 60000)
//   listen_delay_ms   wait this long before serving the link
//   listen_after      then wait until this file exists
//   exit_at_once      exit right after starting, serving nothing
//   busy              hold the link so that every client finds it busy
//   buffer_size       size of the server's link buffers (Windows)
//   listen_as_uid     POSIX, run as root: the socket is made as usual but
//                     listened on under this effective uid, so that clients
//                     see a server of another user
//   read_limit        read at most this many bytes of a request; the rest is
//                     left unread
//   replies           command name -> step, or array of steps: the n-th
//                     request of a command gets the n-th step, the last one
//                     repeats
//   default           the step for commands not in `replies`; without it,
//                     `ping` succeeds and anything else gets an error
//
// A step writes, in this order, whichever of these it has:
//   reply             a JSON value, compact, then a line feed
//   raw               a text, as it is
//   hex               bytes given in hex (for replies that are not UTF-8)
//   fill              {"prefix", "byte", "count", "suffix"}: prefix, count
//                     times byte, suffix (large replies without large files);
//                     "text" in place of "byte" repeats a text of any
//                     length, such as one character of several bytes
// A step with none of them closes the connection without a reply. Further:
//   delay_ms          wait this long before answering
//   exit              stop serving before answering, and exit after it
//
// Started as `fake_app --scenario <file>`, or as `fake_app --startup` (how
// the CLI starts the app), when it reads scenario.json beside itself.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#endif

#include "core/json.h"
#include "core/link_protocol.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/link_server.h"
#include "platform/platform.h"

namespace vellumo::fake_app {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path fs_path(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void append_file(const std::string& path, std::string_view bytes) {
  if (path.empty()) {
    return;
  }
  std::ofstream out(fs_path(path), std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Fill {
  std::string prefix;
  std::string unit = " ";
  std::uint64_t count = 0;
  std::string suffix;
};

struct Step {
  std::optional<Json> reply;
  std::string raw;
  std::optional<Fill> fill;
  std::uint64_t delay_ms = 0;
  bool exit = false;

  bool writes() const { return reply || !raw.empty() || fill; }
};

struct Scenario {
  std::string log;
  std::string start_log;
  std::string error_log;
  std::string stop_file;
  std::string running_dir;
  std::string ready_file;
  std::string link;
  std::uint64_t max_lifetime_ms = 60000;
  std::uint64_t listen_delay_ms = 0;
  std::string listen_after;
  bool exit_at_once = false;
  bool busy = false;
  std::uint32_t buffer_size = 65536;
  std::size_t read_limit = std::size_t{64} << 20;
  long long listen_as_uid = -1;
  std::map<std::string, std::vector<Step>, std::less<>> replies;
  std::optional<Step> fallback;
};

// What the watcher and the main thread both need to end the process cleanly.
struct Exit {
  std::string marker;
  std::string error_log;
};
Exit g_exit;

[[noreturn]] void leave(int code) {
  if (!g_exit.marker.empty()) {
    std::error_code ignored;
    fs::remove(fs_path(g_exit.marker), ignored);
  }
  std::fflush(stderr);
  std::_Exit(code);
}

[[noreturn]] void fail(const std::string& message) {
  append_file(g_exit.error_log, "fake_app: " + message + "\n");
  std::fprintf(stderr, "fake_app: %s\n", message.c_str());
  leave(2);
}

std::string text_member(const Json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end()) {
    return {};
  }
  if (!it->is_string()) {
    fail(std::string("`") + name + "` must be a string");
  }
  return it->get<std::string>();
}

std::uint64_t number_member(const Json& object, const char* name, std::uint64_t fallback) {
  auto it = object.find(name);
  if (it == object.end()) {
    return fallback;
  }
  if (!it->is_number_unsigned()) {
    fail(std::string("`") + name + "` must be a number of at least 0");
  }
  return it->get<std::uint64_t>();
}

bool flag_member(const Json& object, const char* name) {
  auto it = object.find(name);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

std::string from_hex(const std::string& hex) {
  auto digit = [](char c) -> int {
    const int value = hex_digit(c);
    if (value < 0) {
      fail("`hex` holds a character that is not a hex digit");
    }
    return value;
  };
  if (hex.size() % 2 != 0) {
    fail("`hex` needs an even number of digits");
  }
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  return bytes;
}

Step read_step(const Json& value) {
  if (!value.is_object()) {
    fail("a step must be an object");
  }
  Step step;
  if (auto it = value.find("reply"); it != value.end()) {
    step.reply = *it;
  }
  step.raw = text_member(value, "raw") + from_hex(text_member(value, "hex"));
  if (auto it = value.find("fill"); it != value.end()) {
    Fill fill;
    fill.prefix = text_member(*it, "prefix");
    if (it->contains("text")) {
      fill.unit = text_member(*it, "text");
      if (fill.unit.empty() || it->contains("byte")) {
        fail("`fill.text` must be a text of one byte or more, and stands alone");
      }
    } else {
      fill.unit = text_member(*it, "byte");
      if (fill.unit.size() != 1) {
        fail("`fill.byte` must be one byte");
      }
    }
    fill.count = number_member(*it, "count", 0);
    fill.suffix = text_member(*it, "suffix");
    step.fill = std::move(fill);
  }
  step.delay_ms = number_member(value, "delay_ms", 0);
  step.exit = flag_member(value, "exit");
  return step;
}

Scenario read_scenario(const std::string& path) {
  std::ifstream in(fs_path(path), std::ios::binary);
  if (!in) {
    fail("cannot read the scenario " + path);
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto parsed = parse_json(text);
  if (!parsed) {
    fail("the scenario " + path + " is not JSON: " + parsed.error());
  }
  const Json& root = *parsed;
  if (!root.is_object()) {
    fail("the scenario must be an object");
  }
  Scenario s;
  s.error_log = text_member(root, "error_log");
  g_exit.error_log = s.error_log;
  s.log = text_member(root, "log");
  s.start_log = text_member(root, "start_log");
  s.stop_file = text_member(root, "stop_file");
  s.running_dir = text_member(root, "running_dir");
  s.ready_file = text_member(root, "ready_file");
  s.link = text_member(root, "link");
  s.max_lifetime_ms = number_member(root, "max_lifetime_ms", s.max_lifetime_ms);
  s.listen_delay_ms = number_member(root, "listen_delay_ms", 0);
  s.listen_after = text_member(root, "listen_after");
  s.exit_at_once = flag_member(root, "exit_at_once");
  s.busy = flag_member(root, "busy");
  s.buffer_size = static_cast<std::uint32_t>(number_member(root, "buffer_size", s.buffer_size));
  s.read_limit = static_cast<std::size_t>(number_member(root, "read_limit", s.read_limit));
  s.listen_as_uid = number_member(root, "listen_as_uid", -1);
  if (auto it = root.find("replies"); it != root.end()) {
    if (!it->is_object()) {
      fail("`replies` must be an object");
    }
    for (const auto& [command, steps] : it->items()) {
      auto& list = s.replies[command];
      if (steps.is_array()) {
        for (const auto& step : steps) {
          list.push_back(read_step(step));
        }
      } else {
        list.push_back(read_step(steps));
      }
      if (list.empty()) {
        fail("`replies` of " + command + " has no step");
      }
    }
  }
  if (auto it = root.find("default"); it != root.end()) {
    s.fallback = read_step(*it);
  }
  return s;
}

bool stop_requested(const Scenario& s) {
  std::error_code ignored;
  return !s.stop_file.empty() && fs::exists(fs_path(s.stop_file), ignored);
}

void watch(const Scenario& s, Clock::time_point started) {
  const auto lifetime = std::chrono::milliseconds(s.max_lifetime_ms);
  for (;;) {
    if (stop_requested(s) || Clock::now() - started >= lifetime) {
      leave(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

// One request line: the bytes up to and including the first line feed, the
// end of the stream, or the read limit, whichever comes first.
std::string read_request(platform::LinkStream& stream, std::size_t limit) {
  std::string line;
  char buffer[65536];
  while (line.size() < limit) {
    std::size_t want = std::min(sizeof(buffer), limit - line.size());
    auto got = stream.read(buffer, want);
    if (!got || *got == 0) {
      break;
    }
    std::string_view chunk(buffer, *got);
    if (auto end = chunk.find('\n'); end != std::string_view::npos) {
      line.append(chunk.substr(0, end + 1));
      break;
    }
    line.append(chunk);
  }
  return line;
}

// The command of a request, also when it was cut short by the read limit.
std::string command_of(const std::string& line) {
  if (auto parsed = parse_json(line); parsed && parsed->is_object()) {
    auto it = parsed->find("command");
    return it != parsed->end() && it->is_string() ? it->get<std::string>() : std::string();
  }
  constexpr std::string_view kKey = "\"command\":\"";
  auto at = line.find(kKey);
  if (at == std::string::npos) {
    return {};
  }
  at += kKey.size();
  auto end = line.find('"', at);
  return end == std::string::npos ? std::string() : line.substr(at, end - at);
}

const Step& step_for(const Scenario& s, std::map<std::string, std::size_t, std::less<>>& seen,
                     const std::string& command) {
  static const Step kPong = [] {
    Step step;
    step.reply = Json{{"ok", true}, {"result", nullptr}};
    return step;
  }();
  static Step unknown;
  std::size_t n = seen[command]++;
  if (auto it = s.replies.find(command); it != s.replies.end()) {
    return it->second[std::min(n, it->second.size() - 1)];
  }
  if (s.fallback) {
    return *s.fallback;
  }
  if (command == "ping") {
    return kPong;
  }
  unknown = Step{};
  unknown.reply = Json{{"ok", false}, {"error", "The fake app has no reply for " + command + "."}};
  return unknown;
}

// Writes the step's reply in blocks, so that large replies are never held
// whole in memory. The client may leave early; that is not our failure.
#if !defined(_WIN32)
// A listening Unix socket at `path` whose server, as its clients see it,
// runs as `uid`: the credentials of a listening socket are the effective
// ones at listen().
Result<int, std::string> listen_as(const std::string& path, long long uid) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) {
    return Err{std::string("cannot make a socket for ") + path};
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::seteuid(static_cast<uid_t>(uid)) != 0) {
    return Err{"cannot bind " + path + " or take uid " + std::to_string(uid) + ": " +
               platform::last_error_text()};
  }
  const bool listening = ::listen(fd, 16) == 0;
  if (::seteuid(0) != 0 || !listening) {
    return Err{"cannot listen on " + path + ": " + platform::last_error_text()};
  }
  return fd;
}

int accept_client(int fd) { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
#else
Result<int, std::string> listen_as(const std::string&, long long) {
  return Err{std::string("listen_as_uid is for POSIX only")};
}

int accept_client(int) { return -1; }
#endif

void answer(platform::LinkStream& stream, const Step& step) {
  if (step.reply) {
    std::string line = to_json_compact(*step.reply);
    line += '\n';
    if (!stream.write_all(line)) {
      return;
    }
  }
  if (!step.raw.empty() && !stream.write_all(step.raw)) {
    return;
  }
  if (step.fill) {
    if (!stream.write_all(step.fill->prefix)) {
      return;
    }
    // Blocks of about 1 MiB, each a whole number of units.
    const std::string& unit = step.fill->unit;
    const std::size_t units_per_block =
        std::max<std::size_t>(1, (std::size_t{1} << 20) / unit.size());
    std::string block;
    for (std::size_t i = 0; i < units_per_block; ++i) {
      block += unit;
    }
    for (std::uint64_t left = step.fill->count; left > 0;) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, units_per_block));
      if (!stream.write_all(std::string_view(block).substr(0, n * unit.size()))) {
        return;
      }
      left -= n;
    }
    (void)stream.write_all(step.fill->suffix);
  }
}

std::string random_token() {
  std::random_device device;
  char text[17];
  std::snprintf(text, sizeof(text), "%08x%08x", device(), device());
  return text;
}

int run(const std::vector<std::string>& words) {
  const auto started = Clock::now();
  std::string scenario_path;
  if (words.size() == 2 && words[0] == "--scenario") {
    scenario_path = words[1];
  } else if (words.size() == 1 && words[0] == "--startup") {
    auto self = platform::executable_path();
    if (!self) {
      fail("cannot find its own executable: " + self.error());
    }
    auto folder = parent_folder(*self, platform::kPathStyle);
    if (!folder) {
      fail("its executable has no folder: " + *self);
    }
    scenario_path = join_path(*folder, "scenario.json", platform::kPathStyle);
  } else {
    std::fprintf(stderr, "usage: fake_app --scenario <file> | --startup\n");
    return 2;
  }

  const Scenario s = read_scenario(scenario_path);
  if (!s.running_dir.empty()) {
    g_exit.marker = join_path(s.running_dir, "running-" + random_token(), platform::kPathStyle);
    append_file(g_exit.marker, "");
  }
  Json arguments = Json::array();
  for (const auto& word : words) {
    arguments.push_back(word);
  }
  append_file(s.start_log, to_json_compact(arguments) + "\n");
  if (s.exit_at_once || stop_requested(s)) {
    leave(0);
  }
  std::thread(watch, std::cref(s), started).detach();

  std::this_thread::sleep_for(std::chrono::milliseconds(s.listen_delay_ms));
  while (!s.listen_after.empty() && !fs::exists(fs_path(s.listen_after))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string path =
      s.link.empty() ? platform::link_path(user_tag(platform::get_env("USERNAME"))) : s.link;
  std::function<Result<platform::LinkStream, std::string>()> accept_next;
  std::optional<platform::LinkServer> server;
  if (s.listen_as_uid >= 0) {
    auto listener = listen_as(path, s.listen_as_uid);
    if (!listener) {
      fail(listener.error());
    }
    accept_next = [fd = *listener]() -> Result<platform::LinkStream, std::string> {
      const int client = accept_client(fd);
      if (client < 0) {
        return Err{std::string("accept failed")};
      }
      return platform::LinkStream(client);
    };
  } else {
    auto served = platform::LinkServer::listen(
        path,
        {s.busy ? platform::LinkServerMode::Busy : platform::LinkServerMode::Serve, s.buffer_size});
    if (!served) {
      fail(served.error());
    }
    server = std::move(*served);
    accept_next = [&server] { return server->accept(); };
  }
  append_file(s.ready_file, path + "\n");
  if (s.busy) {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::hours(1));
    }
  }

  std::map<std::string, std::size_t, std::less<>> seen;
  for (;;) {
    auto stream = accept_next();
    if (!stream) {
      fail(stream.error());
    }
    const std::string line = read_request(*stream, s.read_limit);
    append_file(s.log, "request " + std::to_string(line.size()) + "\n" + line + "\n");
    const Step& step = step_for(s, seen, command_of(line));
    if (step.exit) {
      // Stop serving first, so that no client reaches the link between this
      // answer and the exit.
      server.reset();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(step.delay_ms));
    if (step.writes()) {
      answer(*stream, step);
    }
    platform::finish(std::move(*stream));
    if (step.exit) {
      leave(0);
    }
  }
}

}  // namespace
}  // namespace vellumo::fake_app

int main(int argc, char** argv) {
  auto words = vellumo::platform::command_words(argc, argv);
  if (!words) {
    std::fprintf(stderr, "fake_app: %s\n", words.error().c_str());
    return 2;
  }
  return vellumo::fake_app::run(*words);
}
