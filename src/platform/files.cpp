// The portable half of files.h: the order of the steps, on top of the
// system calls of files-posix.cpp or files-win32.cpp.

#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <utility>

#include "core/paths.h"
#include "core/utf8.h"
#include "platform/files_system.h"
#include "platform/platform.h"

namespace vellumo::files {
namespace {

std::atomic<int> injected_step{-1};
std::function<void(ReplaceStep)> injected_before;
std::function<void(const std::string&)> injected_change;
std::function<void(const std::string&)> injected_creation;
std::atomic<std::uint64_t> syncs{0};

// An edit is made again at most this often when the file keeps changing.
constexpr int kEditAttempts = 3;
// How many temporary names are tried before a taken one is an error.
constexpr int kNameAttempts = 16;

using system::injected;

constexpr std::string_view kAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kRandomLength = 8;
constexpr std::string_view kTemporarySuffix = ".vellumo-tmp";

// Eight random letters and digits: names that another run, or a file
// planted in advance, does not share (and the exclusive create catches the
// rare one that does).
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

// How much of the file name `name` a temporary name copies: all of it,
// unless the name and the temporary's suffix together are longer than the
// folder takes a name to be; then the characters up to the last that
// leaves room.
std::size_t kept_of_name(std::string_view name, const system::NameLimit& limit) {
  constexpr std::size_t kSuffix = 1 + kRandomLength + kTemporarySuffix.size();
  std::size_t units = kSuffix;
  for (std::size_t i = 0; i < name.size();) {
    const Utf8Step step = decode_utf8(name, i);
    units += !limit.utf16 ? step.length : step.valid && step.code_point > 0xFFFF ? 2 : 1;
    if (units > limit.units) {
      return i;
    }
    i += step.length;
  }
  return name.size();
}

// How much of the name of the file `name` of `folder` its temporary names
// copy.
std::string_view temporary_stem(const Folder& folder, std::string_view name) {
  return name.substr(0, kept_of_name(name, system::name_limit(folder)));
}

// A temporary sibling's name for the file `name` of `folder`, taken by no
// one with luck.
std::string temporary_name(const Folder& folder, std::string_view name) {
  return std::string(temporary_stem(folder, name)) + "." + random_part() +
         std::string(kTemporarySuffix);
}

// Whether `name` is one that temporary_name gives for a file whose name
// starts its temporary names with `stem`.
bool is_temporary_name(std::string_view name, std::string_view stem) {
  const std::size_t length = stem.size() + 1 + kRandomLength + kTemporarySuffix.size();
  if (name.size() != length || !name.starts_with(stem) || name[stem.size()] != '.' ||
      !name.ends_with(kTemporarySuffix)) {
    return false;
  }
  const std::string_view random = name.substr(stem.size() + 1, kRandomLength);
  return random.find_first_not_of(kAlphabet) == std::string_view::npos;
}

// Creates a new temporary sibling of the file `name` of `folder`, taking
// over what of it must survive; a name that is taken is replaced by
// another.
Result<system::NewFile, std::string> create_temporary(const Folder& folder,
                                                      const std::string& name) {
  TRY_STATUS(injected(ReplaceStep::CreateTemporary));
  for (int attempt = 0;; ++attempt) {
    auto created = system::NewFile::create(folder, temporary_name(folder, name), name);
    if (created) {
      return std::move(created).value();
    }
    if (created.error().kind != system::Failure::Exists || attempt == kNameAttempts - 1) {
      return std::move(created.error().text);
    }
  }
}

// The pauses between tries of a lock: 5 ms at first, doubling up to 100 ms,
// none past the deadline.
class Backoff {
 public:
  explicit Backoff(std::chrono::milliseconds patience)
      : deadline_(std::chrono::steady_clock::now() + patience) {}

  /// Waits before the next try; false, without waiting, once the deadline
  /// has passed.
  bool wait() {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline_) {
      return false;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause_, deadline_ - now));
    pause_ = std::min(pause_ * 2, std::chrono::milliseconds(100));
    return true;
  }

 private:
  std::chrono::steady_clock::time_point deadline_;
  std::chrono::milliseconds pause_{5};
};

enum class Replaced { Done, Stopped, Changed };

constexpr std::string_view kForeignLink = "reached through a link owned by another user";

// The folder of the file `path` leads to, held open, and the file's name
// there; why not, as the reason of "Cannot write {path}: {why}".
Result<system::Place, std::string> place_of(const std::string& path) {
  auto place = system::locate(path, system::Last::Followed);
  if (!place && place.error().kind == system::Failure::ForeignLink) {
    return Err{std::string(kForeignLink)};
  }
  if (!place) {
    return Err{std::move(place.error().text)};
  }
  return std::move(place).value();
}

// Fills a temporary sibling of the file `name` of `folder` through `fill`,
// then puts it in that file's place; with `expected`, only while that file
// is still the one read (Changed when not). Every step is made in
// `folder`. An Owner::Own file is made private, and takes over nothing of
// the file it replaces.
template <class Fill>
auto replace_through_temporary(const Folder& folder, const std::string& name, Fill&& fill,
                               const system::Identity* expected = nullptr,
                               system::Owner owner = system::Owner::Other)
    -> Result<Replaced, std::string> {
  TRY(system::NewFile temporary, create_temporary(folder, name));
  TRY(const bool whole, fill(temporary));
  if (!whole) {
    return Replaced::Stopped;
  }
  TRY_STATUS(temporary.flush());
  if (auto failed = injected(ReplaceStep::Attributes); !failed) {
    return "cannot keep its attributes: " + failed.error();
  }
  if (owner == system::Owner::Own) {
    TRY_STATUS(temporary.make_private());
  } else {
    TRY_STATUS(temporary.adopt(name));
  }
  if (expected) {
    if (injected_change) {
      injected_change(folder.path_of(name));
    }
    TRY(const system::Identity now, system::identity_of(folder, name));
    if (now != *expected) {
      return Replaced::Changed;
    }
  }
  TRY_STATUS(injected(ReplaceStep::Rename));
  TRY_STATUS(temporary.commit(name));
  return Replaced::Done;
}

// The file `name` of `folder` read for an edit, or why it is left alone
// (saying `path`).
Result<system::Snapshot, std::string> read_snapshot(const Folder& folder, const std::string& name,
                                                    const std::string& path,
                                                    std::optional<std::string>& left_alone,
                                                    system::Owner owner = system::Owner::Other) {
  TRY(system::Snapshot snapshot, system::read_snapshot(folder, name, kMaxEditedSize, owner));
  if (snapshot.kind == system::Snapshot::NotRegular) {
    left_alone = path + ": not a regular file, left alone";
  } else if (snapshot.kind == system::Snapshot::TooLarge) {
    left_alone = path + ": larger than 64 MiB, left alone";
  }
  return snapshot;
}

// Why the file of `snapshot` cannot be replaced without taking something
// away, if it cannot. The program's own file need not keep its owner: the
// new one is ours.
std::optional<std::string> kept_from_replacing(const std::string& path,
                                               const system::Snapshot& snapshot,
                                               system::Owner owner = system::Owner::Other) {
  if (snapshot.kind != system::Snapshot::Regular) {
    return std::nullopt;
  }
  if (snapshot.read_only) {
    return path + ": read-only, left alone";
  }
  if (snapshot.other_links) {
    return path + ": has other hard links, left alone";
  }
  if (snapshot.foreign_owner && owner == system::Owner::Other) {
    return path + ": owned by another user or group, left alone";
  }
  return std::nullopt;
}

// Replaces the file `name` of `folder` by `text`; see
// replace_through_temporary. The error says `path`.
Result<Replaced, std::string> replace_by_text(const Folder& folder, const std::string& name,
                                              const std::string& path, std::string_view text,
                                              const system::Identity* expected = nullptr,
                                              system::Owner owner = system::Owner::Other) {
  auto replaced = replace_through_temporary(
      folder, name,
      [&](system::NewFile& file) -> Result<bool, std::string> {
        TRY_STATUS(injected(ReplaceStep::Write));
        TRY_STATUS(file.write(text));
        return true;
      },
      expected, owner);
  if (!replaced) {
    return Err{"Cannot write " + path + ": " + replaced.error()};
  }
  return *replaced;
}

// What open_own_folder and FileLock::acquire tell of a failure.
OwnError own_error(system::Failure failure) {
  const bool changeable =
      failure.kind == system::Failure::Changeable || failure.kind == system::Failure::ForeignLink;
  return changeable ? OwnError{std::move(failure.text), {}} : OwnError{{}, std::move(failure.text)};
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

std::optional<std::string> env_path(const char* name) {
  auto value = platform::get_env(name);
  return value && is_absolute_path(*value, platform::kPathStyle) ? value : std::nullopt;
}

std::optional<std::string> data_folder() {
  if (auto base = env_path("LOCALAPPDATA")) {
    return join(*base, "Vellumo");
  }
  if (auto base = env_path("XDG_DATA_HOME")) {
    return join(*base, "Vellumo");
  }
  // The home folder is not ours to make: a mistyped HOME must not leave
  // a tree of folders behind.
  if (auto home = env_path("HOME"); home && is_directory(*home)) {
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

std::string Folder::path_of(std::string_view name) const { return join(path_, name); }

Result<Folder, OwnError> open_own_folder(const std::string& path, std::uint32_t mode) {
  auto folder = system::open_own_folder(path, mode);
  if (!folder) {
    return own_error(std::move(folder).error());
  }
  return std::move(folder).value();
}

bool reached_through_foreign_link(const std::string& path) {
  auto place = system::locate(path, system::Last::Followed);
  return !place && place.error().kind == system::Failure::ForeignLink;
}

std::string foreign_link_left_alone(std::string_view path) {
  return std::string(path) + ": " + std::string(kForeignLink) + ", left alone";
}

Result<void, std::string> write_file_replacing(const std::string& path, std::string_view text) {
  auto place = place_of(path);
  if (!place) {
    return "Cannot write " + path + ": " + place.error();
  }
  TRY_STATUS(replace_by_text(place->folder, place->name, path, text));
  return {};
}

Result<Edited, std::string> edit_file(const std::string& path, const EditTransform& transform) {
  for (int attempt = 0; attempt < kEditAttempts; ++attempt) {
    Edited edited;
    // Found again at each attempt, so that a link put on the way meanwhile
    // is seen; then every step stays in the folder found.
    auto place = system::locate(path, system::Last::Followed);
    if (!place && place.error().kind == system::Failure::ForeignLink) {
      edited.left_alone = foreign_link_left_alone(path);
      return edited;
    }
    // A missing folder, or a link that leads nowhere, is no file to read;
    // a write there fails below.
    if (!place && place.error().kind != system::Failure::Missing) {
      return Err{std::move(place.error().text)};
    }
    system::Snapshot snapshot;
    if (place) {
      TRY(snapshot, read_snapshot(place->folder, place->name, path, edited.left_alone));
      if (edited.left_alone) {
        return edited;
      }
    }
    const system::Identity read_identity = snapshot.identity;
    const std::optional<std::string> text =
        transform(snapshot.kind == system::Snapshot::Regular
                      ? std::optional<std::string>(std::move(snapshot.text))
                      : std::nullopt);
    if (!text) {
      return edited;
    }
    // What is read is bounded, and so is what is written: a file of the
    // limit read and grown would be one that no later edit reads.
    if (text->size() > kMaxEditedSize) {
      edited.left_alone = path + ": would grow past 64 MiB, left alone";
      return edited;
    }
    edited.left_alone = kept_from_replacing(path, snapshot);
    if (edited.left_alone) {
      return edited;
    }
    if (!place) {
      return Err{"Cannot write " + path + ": " + place.error().text};
    }
    TRY(const Replaced replaced,
        replace_by_text(place->folder, place->name, path, *text, &read_identity));
    if (replaced == Replaced::Done) {
      edited.written = true;
      return edited;
    }
  }
  return Err{"Cannot write " + path + ": it kept changing while being edited"};
}

Result<ReadForEdit, std::string> read_own_file(const Folder& folder, const std::string& name) {
  ReadForEdit read;
  TRY(system::Snapshot snapshot,
      read_snapshot(folder, name, folder.path_of(name), read.left_alone, system::Owner::Own));
  if (snapshot.kind == system::Snapshot::Regular) {
    read.text = std::move(snapshot.text);
  }
  return read;
}

Result<Edited, std::string> write_own_file(const Folder& folder, const std::string& name,
                                           std::string_view text) {
  const std::string path = folder.path_of(name);
  Edited edited;
  TRY(const system::Snapshot snapshot,
      read_snapshot(folder, name, path, edited.left_alone, system::Owner::Own));
  if (!edited.left_alone) {
    edited.left_alone = kept_from_replacing(path, snapshot, system::Owner::Own);
  }
  if (edited.left_alone) {
    return edited;
  }
  TRY(const Replaced replaced,
      replace_by_text(folder, name, path, text, nullptr, system::Owner::Own));
  edited.written = replaced == Replaced::Done;
  return edited;
}

Result<bool, std::string> copy_file_replacing(const std::string& from, const std::string& to,
                                              const std::function<bool()>& keep_going) {
  auto place = place_of(to);
  if (!place) {
    return Err{"Cannot write " + to + ": " + place.error()};
  }
  std::optional<std::string> read_error;
  const auto fill = [&](system::NewFile& file) -> Result<bool, std::string> {
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
  };
  auto copied = replace_through_temporary(place->folder, place->name, fill);
  if (read_error) {
    return Err{"Cannot read " + from + ": " + *read_error};
  }
  if (!copied) {
    return Err{"Cannot write " + to + ": " + copied.error()};
  }
  return *copied == Replaced::Done;
}

namespace {

// Deletes the leftovers of the file `name` of `folder`; see remove_leftovers.
void remove_leftovers_in(const Folder& folder, std::string_view name, bool links) {
  const std::string_view stem = temporary_stem(folder, name);
  system::remove_owned(
      folder, [&](std::string_view entry) { return is_temporary_name(entry, stem); }, links);
}

}  // namespace

void remove_leftovers(const std::string& path, Leftovers kind) {
  const auto place = system::locate(
      path, kind == Leftovers::Files ? system::Last::Followed : system::Last::Itself);
  if (place) {
    remove_leftovers_in(place->folder, place->name, kind == Leftovers::Links);
  }
}

void remove_own_leftovers(const Folder& folder, const std::string& name) {
  remove_leftovers_in(folder, name, false);
}

Result<void, std::string> place_link(const std::string& target, const std::string& link) {
  auto place = system::locate(link, system::Last::Itself);
  if (!place) {
    return place.error().kind == system::Failure::ForeignLink ? std::string(kForeignLink)
                                                              : std::move(place.error().text);
  }
  const Folder& folder = place->folder;
  for (int attempt = 0;; ++attempt) {
    const std::string temporary = temporary_name(folder, place->name);
    Result<void, system::Failure> made;
    system::holding_interruptions([&] {
      made = system::make_link(folder, temporary, target);
      if (made) {
        system::after_create(folder.path_of(temporary));
        system::remember_temporary(folder, temporary, -1);
      }
    });
    if (!made) {
      if (made.error().kind != system::Failure::Exists || attempt == kNameAttempts - 1) {
        return std::move(made.error().text);
      }
      continue;
    }
    auto renamed = injected(ReplaceStep::Rename);
    if (renamed) {
      renamed = system::rename_in(folder, temporary, place->name);
    }
    if (!renamed) {
      (void)system::remove_in(folder, temporary);
    }
    system::forget_temporary(folder, temporary);
    return renamed;
  }
}

Result<std::optional<FileLock>, OwnError> FileLock::acquire(const Folder& folder,
                                                            const std::string& name,
                                                            std::chrono::milliseconds patience) {
  auto opened = system::open_own_lock_file(folder, name);
  if (!opened) {
    return own_error(std::move(opened).error());
  }
  FileLock lock(*opened);
  Backoff backoff(patience);
  do {
    auto locked = system::try_lock(*opened);
    if (!locked) {
      return OwnError{{}, std::move(locked).error()};
    }
    if (*locked) {
      return std::optional<FileLock>(std::move(lock));
    }
  } while (backoff.wait());
  return std::optional<FileLock>();
}

Result<std::optional<FileLock>, std::string> FileLock::acquire_noted(
    const std::string& path, std::chrono::milliseconds patience, std::string_view note) {
  Backoff backoff(patience);
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
    if (!backoff.wait()) {
      if (!opened) {
        return std::move(opened).error();
      }
      return std::optional<FileLock>();
    }
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

Result<void, std::string> system::injected(ReplaceStep step) {
  if (injected_before) {
    injected_before(step);
  }
  if (injected_step.load(std::memory_order_relaxed) == static_cast<int>(step)) {
    return std::string("injected failure");
  }
  return {};
}

void inject_replace_failure(std::optional<ReplaceStep> step) {
  injected_step.store(step ? static_cast<int>(*step) : -1, std::memory_order_relaxed);
}

void inject_before_step(std::function<void(ReplaceStep step)> before) {
  injected_before = std::move(before);
}

void inject_change_before_rename(std::function<void(const std::string& path)> change) {
  injected_change = std::move(change);
}

void inject_after_create(std::function<void(const std::string& path)> created) {
  injected_creation = std::move(created);
}

void system::after_create(const std::string& path) {
  if (injected_creation) {
    injected_creation(path);
  }
}

void system::count_sync() { syncs.fetch_add(1, std::memory_order_relaxed); }

std::uint64_t synced_files() { return syncs.load(std::memory_order_relaxed); }

}  // namespace vellumo::files
