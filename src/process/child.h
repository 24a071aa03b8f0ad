#pragma once

// The operating-system half of running a program: starting it with its
// output on two pipes, asking whether it has ended, and killing it with
// everything it started. Implemented in run-posix.cpp and run-win32.cpp.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "platform/handle.h"

namespace vellumo::process::detail {

/// The reading end of a pipe from a child. Closed on destruction. Used by
/// one thread at a time.
class PipeReader {
 public:
  PipeReader() = default;
  explicit PipeReader(std::intptr_t handle) : handle_(handle) {}

  /// Reads up to `size` bytes, blocking: the count read, 0 at the end of the
  /// stream (every writer closed), or -1 when reading fails.
  std::ptrdiff_t read(char* buffer, std::size_t size);

 private:
  platform::UniqueHandle<platform::SystemHandle> handle_;
};

enum class ChildState { Running, ExitedWithZero, ExitedOtherwise, Unknown };

/// A started child process. Destroying one that is still running kills it
/// and everything it started.
class ChildProcess {
 public:
  struct Native;

  explicit ChildProcess(std::unique_ptr<Native> native);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ~ChildProcess();

  /// Whether the child has ended, asked without waiting. Once it has ended,
  /// later calls give the same answer.
  ChildState poll();

  /// Kills the child and every process it started, and waits (briefly) for
  /// the child to end. Failures are ignored: there is nothing left to try.
  void kill_tree();

 private:
  std::unique_ptr<Native> native_;
};

struct StartedChild {
  ChildProcess process;
  PipeReader output;  ///< the child's standard output
  PipeReader error;   ///< the child's standard error
};

/// Starts `program` with `arguments`: standard input on the null device,
/// standard output and error on two new pipes, no other handle or
/// descriptor of ours inherited, no console window. The error is the reason
/// the start failed (the system error text, or why the arguments cannot be
/// passed).
Result<StartedChild, std::string> start_child(const std::string& program,
                                              const std::vector<std::string>& arguments);

}  // namespace vellumo::process::detail
