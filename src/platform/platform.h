#pragma once

// The operating-system layer. Everything the program needs from the system
// is declared here and implemented twice, in platform-posix.cpp and
// platform-win32.cpp; the build picks one (LinkStream::read_line, which
// only reads, is written once). Texts are UTF-8 on both sides:
// the Windows layer converts to and from UTF-16 at each call.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"
#include "core/result.h"
#include "platform/handle.h"

namespace vellumo::platform {

/// How paths are written on this system.
extern const PathStyle kPathStyle;

/// The app's executable names, tried in this order beside the CLI.
extern const std::string_view kAppExecutableNames[2];

/// The system's message for `code`, without its trailing line break, then
/// " (os error N)".
std::string system_error_text(long code);

/// The system error text of the last failed call on this thread
/// (GetLastError or errno).
std::string last_error_text();

/// Prepares the standard streams once at start-up: no line-feed
/// translation on Windows; on POSIX a closed pipe gives a write error
/// instead of killing the process with SIGPIPE. On Windows, Ctrl+C and
/// Ctrl+Break end the process with STATUS_CONTROL_C_EXIT, under Wine too.
void init_standard_streams();

/// Why standard output could not take what was written to it.
struct OutputError {
  /// Nobody reads it any more: a pipe whose reader has closed it (EPIPE;
  /// ERROR_NO_DATA, ERROR_BROKEN_PIPE or ERROR_PIPE_NOT_CONNECTED).
  bool reader_gone = false;
  std::string text;  ///< the system error text
};

/// Writes all of `bytes` to standard output or error: UTF-8 through
/// WriteConsoleW on a Windows console, the bytes unchanged otherwise.
/// Nothing is buffered: once this returns, the bytes are with the system.
Result<void, OutputError> write_stdout(std::string_view bytes);
/// Returns false when standard error could not take the bytes.
bool write_stderr(std::string_view bytes);

/// Reads up to `size` bytes of standard input; 0 at its end. The error is
/// the system error text. Text typed at a Windows console arrives as UTF-8
/// (read as UTF-16; Ctrl+Z at the start of a line ends it).
Result<std::size_t, std::string> read_stdin(char* buffer, std::size_t size);

/// The process's current folder (lossy UTF-8), or the system error text.
Result<std::string, std::string> current_directory();

/// The command words after the program name, in UTF-8. On Windows they are
/// split from GetCommandLineW; on POSIX `argv` is taken as given. Fails
/// with a message when the command line is not valid Unicode.
Result<std::vector<std::string>, std::string> command_words(int argc, char** argv);

/// An environment variable in UTF-8; nullopt when unset or not valid
/// Unicode.
std::optional<std::string> get_env(const char* name);

/// Full path of the running executable (lossy UTF-8), or the system error
/// text.
Result<std::string, std::string> executable_path();

/// The same path as the system names it, or the system error text: on
/// POSIX its bytes, which need not be UTF-8; on Windows UTF-8 in which an
/// unpaired surrogate keeps its three-byte form (utf16_to_utf8_marked).
/// Either way it is valid UTF-8 exactly when the name is text.
Result<std::string, std::string> executable_name();

/// The app link path for a user tag: \\.\pipe\Vellumo-cli-<tag> on Windows,
/// <runtime dir>/Vellumo-cli-<tag> on POSIX, where the runtime dir is
/// XDG_RUNTIME_DIR when that is an absolute path to a folder of ours that
/// nobody else can use, else /tmp/vellumo-<uid>.
std::string link_path(std::string_view tag);

/// Why LinkStream::read_line gave no line.
struct LineError {
  enum class Kind {
    Read,     ///< a read failed; `text` is the system error text
    TooLong,  ///< the line runs past the limit
  };
  Kind kind;
  std::string text;
};

/// One open connection on the app link (either end). Closed on destruction.
class LinkStream {
 public:
  LinkStream() = default;
  explicit LinkStream(std::intptr_t handle) : handle_(handle) {}

  /// Writes every byte, retrying interrupted writes. The error is the
  /// system error text; a write that accepts no bytes is an error too.
  Result<void, std::string> write_all(std::string_view bytes);

  /// Reads up to `size` bytes; 0 means the other end closed the stream.
  Result<std::size_t, std::string> read(char* buffer, std::size_t size);

  /// Reads one line: up to the first line feed (not kept) or the end of the
  /// stream; nullopt when the stream ends before its first byte. A line
  /// that runs past `limit` bytes is refused as soon as that is clear, so
  /// that memory stays bounded whatever the other end sends. The one part
  /// of this header written once for both systems (link_stream.cpp).
  Result<std::optional<std::string>, LineError> read_line(std::size_t limit);

  std::intptr_t native_handle() const { return handle_.get(); }

 private:
  UniqueHandle<SystemHandle> handle_;
};

/// Why the link could not be opened.
enum class LinkOpenFailure {
  /// Nobody serves it (or the attempt failed in another way).
  Unreachable,
  /// The server exists but has no free instance (ERROR_PIPE_BUSY, or
  /// EAGAIN from connect): the one failure worth retrying.
  Busy,
  /// It is served by a process that must not get our request (another
  /// user, or a lower integrity level), or its folder is not safe to use
  /// (POSIX). Not a case for launching the app.
  Untrusted,
};

struct LinkOpenError {
  LinkOpenFailure kind = LinkOpenFailure::Unreachable;
  std::string text;  ///< what went wrong, or why the server is not trusted
};

/// Opens the client end of the app link at `path`; one attempt, no retry.
/// Before anything is written, the serving process is checked: it must run
/// as our user (and, on Windows, at an integrity level not below ours).
Result<LinkStream, LinkOpenError> open_link(const std::string& path);

/// A process started by launch_detached. Held only while the caller waits
/// for it; destroying it releases the process without waiting for it or
/// ending it.
class DetachedChild {
 public:
  DetachedChild() = default;
  explicit DetachedChild(std::intptr_t handle) : handle_(handle) {}

  /// Whether the process has ended, asked without waiting; nullopt when the
  /// question itself fails.
  std::optional<bool> has_ended();

 private:
  /// Windows: closes the process handle. POSIX: nothing to close; the
  /// process ID is only forgotten.
  struct Release {
    static constexpr std::intptr_t invalid = -1;
    static void close(std::intptr_t handle);
  };
  UniqueHandle<Release> handle_;
};

/// Starts `program` with the single argument `argument`, in the background:
/// no console or session of the caller's, standard streams on the null
/// device, none of the caller's handles inherited. The error is the system
/// error text.
Result<DetachedChild, std::string> launch_detached(const std::string& program,
                                                   const std::string& argument);

}  // namespace vellumo::platform
