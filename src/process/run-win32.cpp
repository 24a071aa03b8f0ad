// Running a child on Windows: CreateProcessW with only the child's three
// standard handles inherited, the child placed in a job object before it
// runs a single instruction, and at the time limit taskkill /T /F, the job
// and TerminateProcess, so that nothing it started outlives it.

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win32.h"
#include "process/child.h"
#include "process/quote_command_line.h"

namespace vellumo::process::detail {

namespace {

// How long kill_tree waits for taskkill, and then for the child to end.
constexpr DWORD kTaskkillWaitMs = 10'000;
constexpr DWORD kEndWaitMs = 10'000;

// ReadFile on a pipe succeeds with no bytes when the writer wrote none; this
// many of those in a row are taken as the end of the stream.
constexpr int kMaxEmptyReads = 64;

using win32::error_text;
using win32::Handle;
using win32::open_null_device;

// The system folder (C:\Windows\System32), where cmd.exe and taskkill.exe
// are taken from: never the current folder, which may be anyone's.
std::wstring system_folder() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    return L"C:\\Windows\\System32";
  }
  return std::wstring(buffer, length);
}

// Restricts what a child inherits to the handles given (which must be
// inheritable): PROC_THREAD_ATTRIBUTE_HANDLE_LIST. Without it a child would
// also inherit every inheritable handle that another thread of ours has
// open at that moment.
class InheritList {
 public:
  explicit InheritList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    std::sort(handles_.begin(), handles_.end());
    // The same handle twice makes CreateProcess fail.
    handles_.erase(std::unique(handles_.begin(), handles_.end()), handles_.end());
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0) {
      return;
    }
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      return;
    }
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      DeleteProcThreadAttributeList(list);
      return;
    }
    list_ = list;
  }
  InheritList(const InheritList&) = delete;
  InheritList& operator=(const InheritList&) = delete;
  ~InheritList() {
    if (list_) {
      DeleteProcThreadAttributeList(list_);
    }
  }

  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

struct Created {
  Handle process;
  Handle thread;
  DWORD id = 0;
};

// CreateProcessW with the three standard handles given, no console window,
// inheriting nothing else. The error is GetLastError's code.
Result<Created, DWORD> create_process(const std::wstring& application, std::wstring command_line,
                                      HANDLE input, HANDLE output, HANDLE error, DWORD flags) {
  InheritList inherit({input, output, error});
  STARTUPINFOEXW startup{};
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = error;
  flags |= CREATE_NO_WINDOW;
  if (inherit.get()) {
    startup.StartupInfo.cb = sizeof(STARTUPINFOEXW);
    startup.lpAttributeList = inherit.get();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  } else {
    startup.StartupInfo.cb = sizeof(STARTUPINFOW);
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                      nullptr, nullptr, &startup.StartupInfo, &info)) {
    return GetLastError();
  }
  return Created{Handle(info.hProcess), Handle(info.hThread), info.dwProcessId};
}

// A job that kills every process in it when its last handle is closed.
// Null when the system refuses one.
Handle make_kill_on_close_job() {
  Handle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) {
    return Handle();
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return Handle();
  }
  return job;
}

void run_taskkill(DWORD process_id) {
  Handle null_device = open_null_device();
  if (!null_device) {
    return;
  }
  const std::wstring application = system_folder() + L"\\taskkill.exe";
  std::wstring command_line = L"taskkill.exe /T /F /PID " + std::to_wstring(process_id);
  auto created = create_process(application, std::move(command_line), null_device.get(),
                                null_device.get(), null_device.get(), 0);
  if (created) {
    WaitForSingleObject(created->process.get(), kTaskkillWaitMs);
  }
}

}  // namespace

struct ChildProcess::Native {
  Handle process;
  DWORD id = 0;
  Handle job;  ///< null when the child could not be put in one
  bool ended = false;
  bool killed = false;
  ChildState state = ChildState::Running;
};

std::ptrdiff_t PipeReader::read(char* buffer, std::size_t size) {
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  for (int empty = 0; empty < kMaxEmptyReads; ++empty) {
    DWORD count = 0;
    if (!ReadFile(win32::as_handle(handle_.get()), buffer, wanted, &count, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    if (count > 0) {
      return static_cast<std::ptrdiff_t>(count);
    }
  }
  return 0;
}

ChildProcess::ChildProcess(std::unique_ptr<Native> native) : native_(std::move(native)) {}
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

ChildProcess::~ChildProcess() {
  if (!native_) {
    return;
  }
  if (!native_->ended) {
    kill_tree();
  }
  if (native_->job && !native_->killed) {
    // The child ended by itself: what it left running may go on, as it
    // would on any other system. Closing the job as it is would kill it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    SetInformationJobObject(native_->job.get(), JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);
  }
}

ChildState ChildProcess::poll() {
  Native& n = *native_;
  if (n.ended) {
    return n.state;
  }
  // Asked through the wait rather than the exit code alone, for which a
  // program's own exit code 259 (STILL_ACTIVE) would look like running.
  switch (WaitForSingleObject(n.process.get(), 0)) {
    case WAIT_TIMEOUT:
      return ChildState::Running;
    case WAIT_OBJECT_0:
      break;
    default:
      return ChildState::Unknown;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(n.process.get(), &code)) {
    return ChildState::Unknown;
  }
  n.ended = true;
  n.state = code == 0 ? ChildState::ExitedWithZero : ChildState::ExitedOtherwise;
  return n.state;
}

void ChildProcess::kill_tree() {
  Native& n = *native_;
  // taskkill walks the tree by parent process numbers, so it goes first,
  // while the child is still there to be the root.
  run_taskkill(n.id);
  if (n.job) {
    TerminateJobObject(n.job.get(), 1);
  }
  // Fails with ERROR_ACCESS_DENIED once the process has ended: fine.
  TerminateProcess(n.process.get(), 1);
  WaitForSingleObject(n.process.get(), kEndWaitMs);
  n.ended = true;
  n.killed = true;
  n.state = ChildState::ExitedOtherwise;
}

Result<StartedChild, std::string> start_child(const std::string& program,
                                              const std::vector<std::string>& arguments) {
  const bool batch = is_batch_file(program);
  auto line =
      batch ? batch_command_line(program, arguments) : windows_command_line(program, arguments);
  if (!line) {
    switch (line.error()) {
      case CommandLineError::BatchArgumentInvalid:
        return std::string("batch file arguments are invalid");
      case CommandLineError::NulInArgument:
        return std::string("an argument holds a NUL character");
      case CommandLineError::InvalidProgramPath:
        return error_text(ERROR_INVALID_NAME);
    }
  }
  TRY(const std::wstring wide_line, win32::to_wide(*line));
  TRY(const std::wstring wide_program, win32::to_wide(program));
  // The program file itself, with no search: a batch script through the
  // command interpreter of the system folder.
  const std::wstring application = batch ? system_folder() + L"\\cmd.exe" : wide_program;

  Handle null_device = open_null_device();
  if (!null_device) {
    return error_text(GetLastError());
  }
  HANDLE ends[4] = {};
  // 64 KiB pipe buffers: a chatty child rarely waits for the reader.
  if (!CreatePipe(&ends[0], &ends[1], nullptr, 64 * 1024)) {
    return error_text(GetLastError());
  }
  Handle output_read(ends[0]), output_write(ends[1]);
  if (!CreatePipe(&ends[2], &ends[3], nullptr, 64 * 1024)) {
    return error_text(GetLastError());
  }
  Handle error_read(ends[2]), error_write(ends[3]);
  // Only the child's ends are inheritable; ours never are.
  if (!SetHandleInformation(output_write.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
      !SetHandleInformation(error_write.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    return error_text(GetLastError());
  }

  // Suspended, so that it is in the job before it can start anything.
  auto created = create_process(application, wide_line, null_device.get(), output_write.get(),
                                error_write.get(), CREATE_SUSPENDED);
  if (!created) {
    return error_text(created.error());
  }
  auto native = std::make_unique<ChildProcess::Native>();
  native->process = std::move(created->process);
  native->id = created->id;
  native->job = make_kill_on_close_job();
  if (native->job && !AssignProcessToJobObject(native->job.get(), native->process.get())) {
    native->job.reset();  // taskkill alone then
  }
  if (ResumeThread(created->thread.get()) == static_cast<DWORD>(-1)) {
    const DWORD code = GetLastError();
    ChildProcess doomed(std::move(native));  // killed on the way out
    return error_text(code);
  }
  return StartedChild{ChildProcess(std::move(native)),
                      PipeReader(win32::as_value(output_read.release())),
                      PipeReader(win32::as_value(error_read.release()))};
}

}  // namespace vellumo::process::detail
