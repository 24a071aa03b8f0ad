#pragma once

// Running an external program to its end, with a time limit.

#include <chrono>
#include <cstddef>
#include <string>
#include <variant>
#include <vector>

namespace vellumo::process {

/// How long a run may take before the program is killed with every process
/// it started.
inline constexpr std::chrono::milliseconds kTimeLimit{45'000};

/// How often the caller asks whether the program has ended.
inline constexpr std::chrono::milliseconds kPollInterval{100};

/// At most this many bytes of each output stream are kept (16 MiB); the rest
/// is read and thrown away, so that a program that prints without end never
/// blocks on a full pipe nor fills our memory.
inline constexpr std::size_t kMaxCapturedBytes = std::size_t{16} << 20;

/// The program ended by itself within the time limit.
struct Finished {
  bool success = false;  ///< the exit code was 0
  /// Standard-output text, one line feed, standard-error text. A stream
  /// whose bytes are not UTF-8 gives an empty text. Not trimmed.
  std::string output;

  friend bool operator==(const Finished&, const Finished&) = default;
};

/// The program could not be started ("Cannot run <program>: <reason>"), or
/// it was killed at the time limit ("<program> did not finish in time.").
struct RunError {
  std::string message;

  friend bool operator==(const RunError&, const RunError&) = default;
};

using RunOutcome = std::variant<Finished, RunError>;

/// Runs `program` (a path to the program file, used as given: no search)
/// with `arguments`, each of which reaches the program unchanged as one
/// argument, and blocks until it ends or `time_limit` has passed on a
/// monotonic clock. Standard input is the null device; standard output and
/// error are captured. Environment and working directory are inherited.
///
/// On Windows a `.cmd` or `.bat` program is run through the command
/// interpreter with every argument escaped so that it is passed on
/// literally; an argument that cannot be passed that way (a carriage return,
/// a line feed or a NUL) refuses the start with the reason "batch file
/// arguments are invalid".
///
/// At the time limit the program and every process it started are killed
/// (Windows: taskkill /T /F, TerminateProcess and a job object; POSIX: its
/// own process group gets SIGKILL), and the outcome is a RunError. After a
/// normal end, processes the program left behind keep running; if they hold
/// its output pipes open, the output is taken as read one second after the
/// program ended.
///
/// Never throws.
RunOutcome Run(const std::string& program, const std::vector<std::string>& arguments,
               std::chrono::milliseconds time_limit = kTimeLimit);

}  // namespace vellumo::process
