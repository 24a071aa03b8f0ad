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
constexpr std::string_view kAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kRandomLength = 8;
constexpr std::string_view kTemporarySuffix = ".vellumo-tmp";

std::string random_part() {
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  std::string part(kRandomLength, '\0');
  for (char& c : part) {
    c = kAlphabet[engine() % kAlphabet.size()];
  }
  return part;
}

// A temporary sibling's name for `target`, taken by no one with luck.
std::string temporary_name(const std::string& target) {
  return target + "." + random_part() + std::string(kTemporarySuffix);
}

// Whether `name` is one that temporary_name gives for a file named `file`.
bool is_temporary_name(std::string_view name, std::string_view file) {
  const std::size_t length = file.size() + 1 + kRandomLength + kTemporarySuffix.size();
  if (name.size() != length || !name.starts_with(file) || name[file.size()] != '.' ||
      !name.ends_with(kTemporarySuffix)) {
    return false;
  }
  const std::string_view random = name.substr(file.size() + 1, kRandomLength);
  return random.find_first_not_of(kAlphabet) == std::string_view::npos;
}

// Creates a new temporary sibling of `target`, taking over what of `target`
// must survive; a name that is taken is replaced by another.
Result<system::NewFile, std::string> create_temporary(const std::string& target) {
  TRY_STATUS(injected(ReplaceStep::CreateTemporary));
  for (int attempt = 0;; ++attempt) {
    auto created = system::NewFile::create(temporary_name(target), target);
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

// create_folders, with the kind of the failure.
Result<void, system::Failure> make_folders(const std::string& path, std::uint32_t mode) {
  if (path.empty() || is_directory(path)) {
    return {};
  }
  if (auto parent = parent_folder(path, platform::kPathStyle)) {
    auto above = make_folders(*parent, mode);
    // A file in the way is reported by the folder made in it ("not a
    // directory"), which says more than "file exists".
    if (!above && above.error().kind != system::Failure::Exists) {
      return above;
    }
  }
  auto made = system::make_folder(path, mode);
  if (!made && !is_directory(path)) {  // else made meanwhile, or "a/b/" after "a/b"
    return made;
  }
  return {};
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
  // The home folder is not ours to make: a mistyped HOME must not leave
  // a tree of folders behind.
  if (auto home = absolute("HOME"); home && is_directory(*home)) {
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

Result<void, std::string> create_folders(const std::string& path, std::uint32_t mode) {
  if (auto made = make_folders(path, mode); !made) {
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

void remove_leftovers(const std::string& path, Leftovers kind) {
  std::string file = path;
  if (kind == Leftovers::Files) {
    auto target = system::final_path(path);
    if (!target) {
      return;
    }
    file = std::move(target).value();
  }
  const auto folder = parent_folder(file, platform::kPathStyle);
  const auto name = file_name(file, platform::kPathStyle);
  if (!folder || !name) {
    return;
  }
  system::remove_owned(
      *folder, [&](std::string_view entry) { return is_temporary_name(entry, *name); },
      kind == Leftovers::Links);
}

Result<void, std::string> place_link(const std::string& target, const std::string& link) {
  for (int attempt = 0;; ++attempt) {
    const std::string temporary = temporary_name(link);
    auto made = system::make_link(target, temporary);
    if (!made) {
      if (made.error().kind != system::Failure::Exists || attempt == 15) {
        return std::move(made.error().text);
      }
      continue;
    }
    system::remember_temporary(temporary, -1);
    auto renamed = rename_replacing(temporary, link);
    if (!renamed) {
      (void)remove_file(temporary);
    }
    system::forget_temporary(temporary);
    return renamed;
  }
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

void inject_replace_failure(std::optional<ReplaceStep> step) {
  injected_step.store(step ? static_cast<int>(*step) : -1, std::memory_order_relaxed);
}

}  // namespace vellumo::files
