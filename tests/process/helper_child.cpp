// A small program that plays the child in the runner tests, the same on
// every system, so that no test depends on a shell or on sleep(1). Its
// arguments are commands, done left to right:
//
//   out HEX              write the bytes to standard output
//   err HEX              write the bytes to standard error
//   out-repeat N         write N bytes "a" to standard output
//   sleep MS             sleep
//   exit CODE            end now with that exit code
//   abort                end through abort()
//   pid-file PATH        write our process number to PATH
//   spawn-sleeper MS PATH  start a copy of this program that sleeps MS and
//                        inherits our standard streams; write its number to PATH
//   touch-fd N           write to descriptor N (Windows: SetEvent on handle N),
//                        ignoring failure: shows whether N was inherited
//   dump-args ...        print the remaining arguments as JSON and end
//
// Without a failing command it ends with exit code 0.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/json.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "core/split_command_line.h"
#include "platform/win32.h"
#include "process/quote_command_line.h"
#else
#include <spawn.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

#ifdef _WIN32
using vellumo::win32::to_utf8;

void write_stream(DWORD which, const std::string& bytes) {
  HANDLE handle = GetStdHandle(which);
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr)) {
      return;
    }
    done += written;
  }
}
void write_out(const std::string& bytes) { write_stream(STD_OUTPUT_HANDLE, bytes); }
void write_err(const std::string& bytes) { write_stream(STD_ERROR_HANDLE, bytes); }

long own_id() { return static_cast<long>(GetCurrentProcessId()); }

long spawn_sleeper(const std::string& ms) {
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    return -1;
  }
  std::wstring line =
      L"\"" + std::wstring(path, length) + L"\" sleep " + std::wstring(ms.begin(), ms.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info)) {
    return -1;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<long>(info.dwProcessId);
}

void touch(const std::string& number) {
  SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(number))));
}

// The arguments as this program received them: split by the C runtime's
// rules from the command line, and by CommandLineToArgvW as a second
// opinion. The program name is left out of both.
std::vector<std::string> arguments(std::vector<std::string>* second_opinion, std::string* line) {
  const wchar_t* command_line = GetCommandLineW();
  *line = to_utf8(command_line);
  std::vector<std::string> words = vellumo::split_windows_command_line_with_program(*line);
  if (!words.empty()) {
    words.erase(words.begin());
  }
  int count = 0;
  wchar_t** split = CommandLineToArgvW(command_line, &count);
  for (int i = 1; split && i < count; ++i) {
    second_opinion->push_back(to_utf8(split[i]));
  }
  LocalFree(split);
  return words;
}
#else
void write_fd(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) {
      return;
    }
    done += static_cast<std::size_t>(written);
  }
}
void write_out(const std::string& bytes) { write_fd(1, bytes); }
void write_err(const std::string& bytes) { write_fd(2, bytes); }

long own_id() { return static_cast<long>(::getpid()); }

long spawn_sleeper(const std::string& ms) {
  std::string self = "/proc/self/exe";
  std::string sleep = "sleep";
  std::string duration = ms;
  char* argv[] = {self.data(), sleep.data(), duration.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) {
    return -1;
  }
  return static_cast<long>(pid);
}

void touch(const std::string& number) { write_fd(std::stoi(number), "leak"); }
#endif

std::string from_hex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

void write_file(const std::string& path, long value) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << value;
}

std::string json_list(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      out += ",";
    }
    vellumo::write_json_string(out, items[i]);
  }
  return out + "]";
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  std::vector<std::string> second_opinion;
  std::string line;
  const std::vector<std::string> words = arguments(&second_opinion, &line);
#else
  const std::vector<std::string> words(argv + 1, argv + argc);
#endif
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& command = words[i];
    auto next = [&]() -> std::string { return i + 1 < words.size() ? words[++i] : std::string(); };
    if (command == "out") {
      write_out(from_hex(next()));
    } else if (command == "err") {
      write_err(from_hex(next()));
    } else if (command == "out-repeat") {
      const std::size_t count = std::stoull(next());
      const std::string block(64 * 1024, 'a');
      for (std::size_t done = 0; done < count; done += block.size()) {
        write_out(block.substr(0, std::min(block.size(), count - done)));
      }
    } else if (command == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(next())));
    } else if (command == "exit") {
      return std::stoi(next());
    } else if (command == "abort") {
      std::abort();
    } else if (command == "pid-file") {
      write_file(next(), own_id());
    } else if (command == "spawn-sleeper") {
      const std::string ms = next();
      const long id = spawn_sleeper(ms);
      write_file(next(), id);
      if (id < 0) {
        return 70;
      }
    } else if (command == "touch-fd") {
      touch(next());
    } else if (command == "dump-args") {
      const std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                          words.end());
      std::string json = "{\"args\":" + json_list(rest);
#ifdef _WIN32
      // The second opinion lists the words after dump-args too.
      std::vector<std::string> tail;
      for (std::size_t k = 0; k < second_opinion.size(); ++k) {
        if (second_opinion[k] == "dump-args") {
          tail.assign(second_opinion.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                      second_opinion.end());
          break;
        }
      }
      json += ",\"shell32\":" + json_list(tail) + ",\"line\":";
      vellumo::write_json_string(json, line);
#endif
      write_out(json + "}");
      return 0;
    } else {
      write_err("unknown command: " + command);
      return 64;
    }
  }
  return 0;
}
