// The portable half of files.h: the order of the steps, on top of the
// system calls of files-posix.cpp or files-win32.cpp.

#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <utility>

#include "core/paths.h"
#include "platform/files_system.h"
#include "platform/platform.h"

namespace vellumo::files {
namespace {

std::atomic<int> injected_step{-1};

// The injected failure for `step`, as the system would report one.
Result<void, std::string> injected(ReplaceStep step) {
  if (injected_step.load(std::memory_order_relaxed) == static_cast<int>(step)) {
    return std::string("injected failure");
  }
  return {};
}

// Eight random letters and digits: names that another run, or a file
// planted in advance, does not share (and the exclusive create catches the
// rare one that does).
std::string random_part() {
  static constexpr std::string_view kAlphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  std::string part(8, '\0');
  for (char& c : part) {
    c = kAlphabet[engine() % kAlphabet.size()];
  }
  return part;
}

// Creates a new temporary sibling of `target`, taking over what of `target`
// must survive; a name that is taken is replaced by another.
Result<system::NewFile, std::string> create_temporary(const std::string& target) {
  TRY_STATUS(injected(ReplaceStep::CreateTemporary));
  for (int attempt = 0;; ++attempt) {
    auto created = system::NewFile::create(target + "." + random_part() + ".vellumo-tmp", target);
    if (created) {
      return std::move(created).value();
    }
    if (created.error().kind != system::Failure::Exists || attempt == 15) {
      return std::move(created.error().text);
    }
  }
}

// Fills a temporary sibling of the final file of `path` through `fill`,
// then puts it in that file's place.
template <class Fill>
auto replace_through_temporary(const std::string& path, Fill&& fill) -> Result<bool, std::string> {
  TRY(const std::string target, system::final_path(path));
  TRY(system::NewFile temporary, create_temporary(target));
  TRY(const bool whole, fill(temporary));
  if (!whole) {
    return false;
  }
  TRY_STATUS(injected(ReplaceStep::Flush));
  TRY_STATUS(temporary.flush());
  TRY_STATUS(injected(ReplaceStep::Rename));
  TRY_STATUS(temporary.commit(target));
  return true;
}

}  // namespace

std::string join(std::string_view folder, std::string_view name) {
  return join_path(folder, name, platform::kPathStyle);
}

std::optional<std::string> data_folder() {
  const auto absolute = [](const char* name) {
    auto value = platform::get_env(name);
    return value && is_absolute_path(*value, platform::kPathStyle) ? value : std::nullopt;
  };
  if (auto base = absolute("LOCALAPPDATA")) {
    return join(*base, "Vellumo");
  }
  if (auto base = absolute("XDG_DATA_HOME")) {
    return join(*base, "Vellumo");
  }
  if (auto home = absolute("HOME")) {
    return join(join(*home, ".local/share"), "Vellumo");
  }
  return std::nullopt;
}

Result<FileFacts, std::string> inspect(const std::string& path) { return system::inspect(path); }

bool is_directory(const std::string& path) {
  auto facts = system::inspect(path);
  return facts && facts->exists && facts->folder;
}

bool is_regular_file(const std::string& path) {
  auto facts = system::inspect(path);
  return facts && facts->exists && !facts->folder;
}

Result<std::optional<std::string>, std::string> read_whole_file(const std::string& path) {
  auto read = system::read_bytes(path, static_cast<std::size_t>(-1));
  if (!read) {
    if (read.error().kind == system::Failure::Missing) {
      return std::optional<std::string>();
    }
    return std::move(read.error().text);
  }
  return std::optional<std::string>(std::move(read).value());
}

Result<std::string, std::string> read_file(const std::string& path, std::size_t limit) {
  auto read = system::read_bytes(path, limit + 1);
  if (!read) {
    return Err{std::move(read.error().text)};
  }
  if (read->size() > limit) {
    return Err{"the file is larger than " + std::to_string(limit) + " bytes"};
  }
  return std::move(read).value();
}

Result<std::string, std::string> read_head(const std::string& path, std::size_t limit) {
  auto read = system::read_bytes(path, limit);
  if (!read) {
    return Err{std::move(read.error().text)};
  }
  return std::move(read).value();
}

Result<void, std::string> create_folders(const std::string& path) {
  if (path.empty() || is_directory(path)) {
    return {};
  }
  if (auto parent = parent_folder(path, platform::kPathStyle)) {
    TRY_STATUS(create_folders(*parent));
  }
  auto made = system::make_folder(path);
  if (!made && !is_directory(path)) {  // else made meanwhile, or "a/b/" after "a/b"
    return std::move(made.error().text);
  }
  return {};
}

Result<void, std::string> write_file_replacing(const std::string& path, std::string_view text) {
  auto written =
      replace_through_temporary(path, [&](system::NewFile& file) -> Result<bool, std::string> {
        TRY_STATUS(injected(ReplaceStep::Write));
        TRY_STATUS(file.write(text));
        return true;
      });
  if (!written) {
    return "Cannot write " + path + ": " + written.error();
  }
  return {};
}

Result<bool, std::string> copy_file_replacing(const std::string& from, const std::string& to,
                                              const std::function<bool()>& keep_going) {
  std::optional<std::string> read_error;
  auto copied =
      replace_through_temporary(to, [&](system::NewFile& file) -> Result<bool, std::string> {
        TRY_STATUS(injected(ReplaceStep::Write));
        auto appended = file.append_file(from, keep_going);
        if (!appended && appended.error().reading) {
          read_error = std::move(appended.error().text);
          return std::string();
        }
        if (!appended) {
          return std::move(appended.error().text);
        }
        return *appended;
      });
  if (read_error) {
    return Err{"Cannot read " + from + ": " + *read_error};
  }
  if (!copied) {
    return Err{"Cannot write " + to + ": " + copied.error()};
  }
  return *copied;
}

Result<std::optional<FileLock>, std::string> FileLock::acquire(const std::string& path,
                                                               std::chrono::milliseconds patience) {
  TRY(const std::intptr_t handle, system::open_lock_file(path));
  FileLock lock(handle);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    TRY(const bool locked, system::try_lock(handle));
    if (locked) {
      return std::optional<FileLock>(std::move(lock));
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return std::optional<FileLock>();
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(100));
  }
}

Result<std::optional<FileLock>, std::string> FileLock::acquire_noted(
    const std::string& path, std::chrono::milliseconds patience, std::string_view note) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  auto pause = std::chrono::milliseconds(5);
  for (;;) {
    // Opened afresh each round: the file we waited on may be gone.
    auto opened = system::open_lock_file(path);
    if (opened) {
      FileLock lock(*opened);
      TRY(const bool locked, system::try_lock(*opened));
      if (locked && system::names_file(path, *opened)) {
        TRY_STATUS(system::rewrite(*opened, note));
        lock.handle_.closer().remove = path;
        return std::optional<FileLock>(std::move(lock));
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      if (!opened) {
        return std::move(opened).error();
      }
      return std::optional<FileLock>();
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(100));
  }
}

void FileLock::Release::close(std::intptr_t handle) const {
  // Deleted while still locked, so that no later holder locks a file on
  // its way out.
  if (!remove.empty()) {
    (void)remove_file(remove);
  }
  platform::SystemHandle::close(handle);
}

void inject_replace_failure(std::optional<ReplaceStep> step) {
  injected_step.store(step ? static_cast<int>(*step) : -1, std::memory_order_relaxed);
}

}  // namespace vellumo::files
