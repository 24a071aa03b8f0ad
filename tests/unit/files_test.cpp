#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"
#include "support/scratch_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#endif

namespace vellumo::files {
namespace {

using test::file_bytes;
using test::put_file;
using test::ScratchFolder;

using Names = std::vector<std::string>;

#ifdef _WIN32
// The scratch paths are ASCII.
std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
#endif

TEST(Files, ReadWholeFile) {
  ScratchFolder folder;
  auto missing = read_whole_file(folder / "nothing.json");
  ASSERT_TRUE(missing);
  EXPECT_FALSE(missing->has_value());
  auto missing_folder = read_whole_file(join(folder / "no-folder", "x.json"));
  ASSERT_TRUE(missing_folder);
  EXPECT_FALSE(missing_folder->has_value());

  const std::string bytes = std::string("a\r\nb\0c\xFF", 7) + std::string(200000, 'z');
  put_file(folder / "f.bin", bytes);
  auto read = read_whole_file(folder / "f.bin");
  ASSERT_TRUE(read);
  ASSERT_TRUE(read->has_value());
  EXPECT_EQ(**read, bytes);

  auto empty_name = folder / "empty";
  put_file(empty_name, "");
  read = read_whole_file(empty_name);
  ASSERT_TRUE(read && read->has_value());
  EXPECT_EQ(**read, "");

  auto is_folder = read_whole_file(folder.str());
  ASSERT_FALSE(is_folder);
  EXPECT_NE(is_folder.error().find(" (os error "), std::string::npos);
}

TEST(Files, ExistenceTestsAndFolders) {
  ScratchFolder folder;
  EXPECT_TRUE(is_directory(folder.str()));
  EXPECT_FALSE(is_regular_file(folder.str()));
  const std::string deep = join(join(join(folder.str(), "a"), "b"), "c");
  EXPECT_FALSE(is_directory(deep));
  ASSERT_TRUE(create_folders(deep));
  EXPECT_TRUE(is_directory(deep));
  EXPECT_TRUE(create_folders(deep));  // exists already
  EXPECT_TRUE(create_folders(deep + (platform::kPathStyle == PathStyle::Windows ? "\\" : "/")));

  const std::string file = join(folder.str(), "f");
  put_file(file, "x");
  EXPECT_TRUE(is_regular_file(file));
  EXPECT_FALSE(is_directory(file));
  EXPECT_FALSE(is_regular_file(join(folder.str(), "none")));
  auto blocked = create_folders(join(file, "sub"));
  ASSERT_FALSE(blocked);
  EXPECT_NE(blocked.error().find(" (os error "), std::string::npos);
}

TEST(Files, WriteFileReplacingCreatesAndReplaces) {
  ScratchFolder folder;
  const std::string path = folder / "settings.json";
  ASSERT_TRUE(write_file_replacing(path, "{}\n"));
  EXPECT_EQ(file_bytes(path), "{}\n");
  EXPECT_EQ(folder.names(), Names{"settings.json"});

  const std::string big = std::string(3 << 20, 'x') + "\r\n";
  ASSERT_TRUE(write_file_replacing(path, big));
  EXPECT_EQ(file_bytes(path), big);
  // Each replacement brings its data to the disk.
  const std::uint64_t synced = synced_files();
  ASSERT_TRUE(write_file_replacing(path, "short"));
  EXPECT_EQ(synced_files(), synced + 1);
  EXPECT_EQ(file_bytes(path), "short");
  EXPECT_EQ(folder.names(), Names{"settings.json"});

  // A file left at an old fixed temporary name is not touched.
  put_file(folder / "settings.vellumo-tmp", "stale stale stale");
  ASSERT_TRUE(write_file_replacing(path, "new"));
  EXPECT_EQ(file_bytes(path), "new");
  EXPECT_EQ(folder.names(), (Names{"settings.json", "settings.vellumo-tmp"}));
  EXPECT_EQ(file_bytes(folder / "settings.vellumo-tmp"), "stale stale stale");
}

TEST(Files, WriteFileReplacingNeverCreatesTheFolder) {
  ScratchFolder folder;
  const std::string path = join(folder / "missing", "config.toml");
  auto written = write_file_replacing(path, "x");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().rfind("Cannot write " + path + ": ", 0), 0u) << written.error();
#ifndef _WIN32
  EXPECT_EQ(written.error(), "Cannot write " + path + ": " + platform::system_error_text(ENOENT));
#endif
  EXPECT_TRUE(folder.names().empty());
}

TEST(Files, FailedRenameKeepsTheTargetAndLeavesNoTemporary) {
  ScratchFolder folder;
  // A non-empty folder stands where the file should be replaced.
  const std::string path = folder / "config.toml";
  std::filesystem::create_directory(path);
  put_file(join(path, "inside"), "keep");
  auto written = write_file_replacing(path, "new text");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().rfind("Cannot write " + path + ": ", 0), 0u) << written.error();
  EXPECT_NE(written.error().find(" (os error "), std::string::npos);
  EXPECT_EQ(folder.names(), Names{"config.toml"});
  EXPECT_TRUE(is_directory(path));
  EXPECT_EQ(file_bytes(join(path, "inside")), "keep");
}

#ifndef _WIN32
TEST(Files, ReadOnlyFolderKeepsTheOriginal) {
  ScratchFolder folder;
  const std::string dir = folder / "ro";
  std::filesystem::create_directory(dir);
  const std::string path = join(dir, "mcp.json");
  put_file(path, "{\"old\": true}\n");
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  if (::access(dir.c_str(), W_OK) == 0) {
    ::chmod(dir.c_str(), 0755);
    GTEST_SKIP() << "running with privileges that ignore folder permissions";
  }
  auto written = write_file_replacing(path, "{}\n");
  ::chmod(dir.c_str(), 0755);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "Cannot write " + path + ": " + platform::system_error_text(EACCES));
  EXPECT_EQ(file_bytes(path), "{\"old\": true}\n");
  EXPECT_EQ(std::filesystem::directory_iterator(dir)->path().filename(), "mcp.json");
}

TEST(Files, RenameOverAFileThatCannotBeReplaced) {
  // The temporary file is written, but the rename fails: the target's
  // folder entry is a folder. rename() refuses with EISDIR.
  ScratchFolder folder;
  const std::string path = folder / "x.json";
  std::filesystem::create_directory(path);
  auto written = write_file_replacing(path, "{}");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "Cannot write " + path + ": " + platform::system_error_text(EISDIR));
  EXPECT_EQ(folder.names(), Names{"x.json"});
}
#else

TEST(Files, LockedTargetKeepsTheOriginal) {
  ScratchFolder folder;
  const std::string path = folder / "mcp.json";
  put_file(path, "{\"old\": true}\n");
  HANDLE lock = CreateFileW(wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  auto written = write_file_replacing(path, "{}\n");
  CloseHandle(lock);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().rfind("Cannot write " + path + ": ", 0), 0u) << written.error();
  EXPECT_EQ(file_bytes(path), "{\"old\": true}\n");
  EXPECT_EQ(folder.names(), Names{"mcp.json"});
}

TEST(Files, ReadOnlyTargetIsLeftAlone) {
  ScratchFolder folder;
  const std::string path = folder / "mcp.json";
  put_file(path, "old");
  ASSERT_TRUE(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
  auto edited = edit_file(path, [](const std::optional<std::string>&) { return "new"; });
  SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(edited) << edited.error();
  EXPECT_FALSE(edited->written);
  EXPECT_EQ(edited->left_alone, path + ": read-only, left alone");
  EXPECT_EQ(file_bytes(path), "old");
  EXPECT_EQ(folder.names(), Names{"mcp.json"});
}
#endif

TEST(Files, Utf8Paths) {
  ScratchFolder folder;
  const std::string name = "dossier-\xC3\xA9\xE2\x82\xAC";
  const std::string dir = join(folder.str(), name);
  ASSERT_TRUE(create_folders(dir));
  EXPECT_TRUE(is_directory(dir));
  const std::string path = join(dir, "r\xC3\xA9glages.json");
  ASSERT_TRUE(write_file_replacing(path, "{}"));
  EXPECT_TRUE(is_regular_file(path));
  auto read = read_whole_file(path);
  ASSERT_TRUE(read && read->has_value());
  EXPECT_EQ(**read, "{}");
  // The names on disk are the real characters, not bytes of a code page.
  const std::filesystem::path real = folder.path() / std::u8string(u8"dossier-\u00e9\u20ac") /
                                     std::u8string(u8"r\u00e9glages.json");
  EXPECT_TRUE(std::filesystem::is_regular_file(real));
  ASSERT_TRUE(write_file_replacing(join(dir, "direct.txt"), "d"));
  ASSERT_TRUE(remove_file(join(dir, "direct.txt")));
  EXPECT_FALSE(is_regular_file(join(dir, "direct.txt")));
  EXPECT_FALSE(remove_file(join(dir, "direct.txt")));
}

TEST(Files, LongPaths) {
  ScratchFolder folder;
  std::string dir = folder.str();
  const std::string first = join(dir, std::string(60, 'a'));
  for (int i = 0; i < 5; ++i) {
    dir = join(dir, std::string(60, static_cast<char>('a' + i)));
  }
  ASSERT_GT(dir.size(), 300u);
  ASSERT_TRUE(create_folders(dir));
  EXPECT_TRUE(is_directory(dir));
  const std::string path = join(dir, "settings.json");
  ASSERT_TRUE(write_file_replacing(path, "{}"));
  ASSERT_TRUE(write_file_replacing(path, "{\"a\": 1}"));
  EXPECT_TRUE(is_regular_file(path));
  auto read = read_whole_file(path);
  ASSERT_TRUE(read && read->has_value());
  EXPECT_EQ(**read, "{\"a\": 1}");
  ASSERT_TRUE(remove_file(path));
  EXPECT_FALSE(is_regular_file(path));
#ifdef _WIN32
  // The scratch folder's clean-up cannot reach this deep: take the folders
  // away here, deepest first, in the long form.
  for (std::string level = dir; level.size() >= first.size();) {
    EXPECT_TRUE(RemoveDirectoryW((L"\\\\?\\" + wide(level)).c_str())) << level;
    level = level.substr(0, level.rfind('\\'));
  }
#endif
}

// A name that leaves no room for the temporary's suffix, or fills the
// limit: the temporary's copy of it is cut short by whole characters, also
// when reached through a link, and the sweep takes that form and no other.
TEST(Files, LongNames) {
  std::vector<std::pair<std::string, std::size_t>> rows = {// the name, what a temporary keeps
                                                           {std::string(235, 'n'), 234},
                                                           {std::string(255, 'n'), 234}};
#ifndef _WIN32
  std::string accents = "x";  // 255 bytes, a cut at 234 would split a character
  for (int i = 0; i < 127; ++i) {
    accents += "\xC3\xA9";
  }
  rows.emplace_back(accents, 233);
#endif
  for (const auto& [name, kept] : rows) {
    SCOPED_TRACE(name.size());
    ScratchFolder folder;
    std::string edited = folder / name;
    const std::string stays = name.substr(0, kept - 1) + ".Ab3dE5gH.vellumo-tmp";
    Names names = {name, stays};
#ifndef _WIN32
    edited = folder / "link";
    std::filesystem::create_symlink(folder / name, edited);
    names.push_back("link");
#endif
    ASSERT_TRUE(write_file_replacing(folder / name, "old"));
    auto written = edit_file(edited, [](const std::optional<std::string>&) { return "new"; });
    ASSERT_TRUE(written && written->written) << (written ? "" : written.error());
    EXPECT_EQ(file_bytes(folder / name), "new");
    ASSERT_TRUE(
        write_file_replacing(folder / (name.substr(0, kept) + ".Ab3dE5gH.vellumo-tmp"), "x"));
    ASSERT_TRUE(write_file_replacing(folder / stays, "x"));
    remove_leftovers(edited);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(folder.names(), names);
  }
}

// Whatever step fails, the original is as it was and no temporary file is
// left; a file that did not exist still does not.
TEST(Files, EveryFailedStepKeepsTheOriginal) {
  struct Row {
    ReplaceStep step;
    const char* name;
    const char* why = "injected failure";
  };
  for (const Row& row :
       {Row{ReplaceStep::CreateTemporary, "create"}, Row{ReplaceStep::Write, "write"},
        Row{ReplaceStep::Flush, "flush"},
        Row{ReplaceStep::Attributes, "attributes", "cannot keep its attributes: injected failure"},
        Row{ReplaceStep::Rename, "rename"}}) {
    for (const bool existed : {true, false}) {
      SCOPED_TRACE(std::string(row.name) + (existed ? ", over a file" : ", a new file"));
      ScratchFolder folder;
      const std::string path = folder / "config.toml";
      if (existed) {
        put_file(path, "model = \"o3\"\n");
      }
      inject_replace_failure(row.step);
      auto written = write_file_replacing(path, "new text");
      auto copied = copy_file_replacing(path, folder / "copy", [] { return true; });
      inject_replace_failure(std::nullopt);
      EXPECT_EQ(written.error(), "Cannot write " + path + ": " + row.why);
      EXPECT_FALSE(copied);
      EXPECT_EQ(folder.names(), existed ? Names{"config.toml"} : Names{});
      if (existed) {
        EXPECT_EQ(file_bytes(path), "model = \"o3\"\n");
      }
    }
  }
}

TEST(Files, CopyStoppedOnTheWayLeavesTheTargetAlone) {
  ScratchFolder folder;
  const std::string source = folder / "source.wav";
  const std::string target = folder / "target.wav";
  put_file(source, std::string(3 << 20, 's'));
  put_file(target, "old");
  int blocks = 0;
  auto stopped = copy_file_replacing(source, target, [&] { return ++blocks < 2; });
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(*stopped);
  EXPECT_EQ(file_bytes(target), "old");
  EXPECT_EQ(folder.names(), (Names{"source.wav", "target.wav"}));
  auto copied = copy_file_replacing(source, target, [] { return true; });
  ASSERT_TRUE(copied && *copied);
  EXPECT_EQ(file_bytes(target), std::string(3 << 20, 's'));
  auto missing = copy_file_replacing(folder / "none", target, [] { return true; });
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().rfind("Cannot read " + folder / "none" + ": ", 0), 0u);
  EXPECT_EQ(folder.names(), (Names{"source.wav", "target.wav"}));
}

TEST(Files, OneLockHolderAtATime) {
  ScratchFolder folder;
  const std::string path = folder / "agents.lock";
  auto data = open_own_folder(folder.str());
  ASSERT_TRUE(data);
  {
    auto first = FileLock::acquire(*data, "agents.lock", std::chrono::milliseconds(0));
    ASSERT_TRUE(first && first->has_value());
    auto second = FileLock::acquire(*data, "agents.lock", std::chrono::milliseconds(30));
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->has_value());
  }
  auto again = FileLock::acquire(*data, "agents.lock", std::chrono::milliseconds(0));
  ASSERT_TRUE(again && again->has_value());
  EXPECT_EQ(folder.names(), Names{"agents.lock"});
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

TEST(Files, NotedLockHoldsItsNoteAndGoesWithItsHolder) {
  using namespace std::chrono_literals;
  ScratchFolder folder;
  const std::string path = folder / "app.lock";
  auto first = FileLock::acquire_noted(path, 0ms, "41\n");
  ASSERT_TRUE(first && first->has_value());
#ifndef _WIN32
  EXPECT_EQ(file_bytes(path), "41\n");  // Windows keeps others from the locked byte
#endif
  auto second = FileLock::acquire_noted(path, 30ms, "42\n");
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->has_value());
  // A waiter gets the lock once its holder lets go, on a file of its own.
  std::thread holder([&] {
    std::this_thread::sleep_for(100ms);
    first->reset();
  });
  auto waiter = FileLock::acquire_noted(path, 5s, "43\n");
  holder.join();
  ASSERT_TRUE(waiter && waiter->has_value());
  EXPECT_EQ(folder.names(), Names{"app.lock"});
  waiter->reset();
  EXPECT_EQ(folder.names(), Names{});
}

#ifndef _WIN32
mode_t mode_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// A replacement keeps the permissions of the file it replaces, and follows
// links to it, which stay links.
TEST(Files, ReplacementKeepsModeAndLinks) {
  ScratchFolder folder;
  const std::string secret = folder / "settings.json";
  put_file(secret, "{\"apiKey\": \"k\"}");
  ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(write_file_replacing(secret, "{}"));
  ASSERT_TRUE(write_file_replacing(folder / "new.json", "{}"));
  ::umask(mask);
  EXPECT_EQ(mode_of(secret), 0600u);
  EXPECT_EQ(mode_of(folder / "new.json"), 0644u);

  // dotfiles/mcp.json <- dotfiles/link <- mcp.json, one link relative.
  std::filesystem::create_directory(folder / "dotfiles");
  put_file(folder / "dotfiles/mcp.json", "old");
  ASSERT_EQ(::chmod((folder / "dotfiles/mcp.json").c_str(), 0640), 0);
  std::filesystem::create_symlink("mcp.json", folder / "dotfiles/link");
  std::filesystem::create_symlink(folder / "dotfiles/link", folder / "mcp.json");
  ASSERT_TRUE(write_file_replacing(folder / "mcp.json", "new"));
  EXPECT_EQ(file_bytes(folder / "dotfiles/mcp.json"), "new");
  EXPECT_EQ(mode_of(folder / "dotfiles/mcp.json"), 0640u);
  EXPECT_EQ(std::filesystem::read_symlink(folder / "mcp.json"), folder / "dotfiles/link");
  EXPECT_EQ(std::filesystem::read_symlink(folder / "dotfiles/link"), "mcp.json");

  // A loop, and a link that leads nowhere: nothing is written anywhere.
  std::filesystem::create_symlink("b", folder / "a");
  std::filesystem::create_symlink("a", folder / "b");
  std::filesystem::create_symlink("gone", folder / "dangling");
  const Names before = folder.names();
  auto loop = write_file_replacing(folder / "a", "x");
  EXPECT_EQ(loop.error(),
            "Cannot write " + folder / "a" + ": " + platform::system_error_text(ELOOP));
  auto dangling = write_file_replacing(folder / "dangling", "x");
  EXPECT_EQ(dangling.error(), "Cannot write " + folder / "dangling" + ": it is a link to " +
                                  folder / "gone" + ", which does not exist");
  EXPECT_EQ(folder.names(), before);
}

// Where the C library cannot set a mode without following a link, a folder
// made for us still gets exactly its mode, whatever the umask.
TEST(Files, OwnFolderGetsItsModeWhereChmodFollowsLinks) {
  ScratchFolder folder;
  inject_chmod_unsupported(true);
  const mode_t mask = ::umask(0777);
  auto made = open_own_folder(folder / "data", 0700);
  ::umask(mask);
  inject_chmod_unsupported(false);
  ASSERT_TRUE(made);
  EXPECT_EQ(mode_of(folder / "data"), 0700u);
}

// A placed link's temporary is remembered for the ending signals from its
// creation until its rename, and deleted when the rename fails.
TEST(Files, PlacedLinkIsRememberedUntilItsRename) {
  ScratchFolder folder;
  std::string created;
  Names at_creation{"-"};
  Names at_rename{"-"};
  inject_after_create([&](const std::string& path) {
    created = path.substr(path.rfind('/') + 1);
    at_creation = remembered_temporaries();
  });
  inject_before_step([&](ReplaceStep step) {
    if (step == ReplaceStep::Rename) {
      at_rename = remembered_temporaries();
    }
  });
  ASSERT_TRUE(place_link("target", folder / "link"));
  EXPECT_EQ(at_creation, Names{});
  EXPECT_EQ(at_rename, Names{created});
  EXPECT_EQ(remembered_temporaries(), Names{});
  inject_after_create({});
  inject_before_step({});

  inject_replace_failure(ReplaceStep::Rename);
  EXPECT_FALSE(place_link("other", folder / "link"));
  inject_replace_failure(std::nullopt);
  EXPECT_EQ(remembered_temporaries(), Names{});
  EXPECT_EQ(folder.names(), Names{"link"});
  EXPECT_EQ(std::filesystem::read_symlink(folder / "link"), "target");
}

// A link that another user may have planted is never followed to a file
// that is replaced, also when it is swapped in while the edit is made (the
// superuser follows only its own).
TEST(Files, LinkOfAnotherUserSwappedInDuringAnEdit) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs the superuser to give a link away";
  }
  ScratchFolder folder;
  const std::string settings = folder / "settings.json";
  put_file(settings, "{}");
  put_file(folder / "theirs.json", "{}");
  auto edited = edit_file(settings, [&](const std::optional<std::string>&) {
    if (!std::filesystem::is_symlink(settings)) {
      std::filesystem::remove(settings);
      std::filesystem::create_symlink(folder / "theirs.json", settings);
      EXPECT_EQ(::lchown(settings.c_str(), 4242, 4242), 0);
    }
    return std::string("new");
  });
  EXPECT_EQ(edited->left_alone,
            settings + ": reached through a link owned by another user, left alone");
  EXPECT_EQ(file_bytes(folder / "theirs.json"), "{}");
  EXPECT_EQ(folder.names(), (Names{"settings.json", "theirs.json"}));
}

// The folder of a file being edited, swapped for a link of another user's
// just before any step of the replacement: every step stays in the folder
// that was found, and what the link leads to is never touched.
TEST(Files, FolderSwappedForALinkDuringAnEdit) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs the superuser to give a link away";
  }
  for (const ReplaceStep step :
       {ReplaceStep::CreateTemporary, ReplaceStep::Write, ReplaceStep::Flush,
        ReplaceStep::Attributes, ReplaceStep::Rename}) {
    SCOPED_TRACE(static_cast<int>(step));
    ScratchFolder folder;
    const std::string agent = folder / "agent";
    std::filesystem::create_directories(agent);
    std::filesystem::create_directories(folder / "theirs");
    put_file(agent + "/settings.json", "old");
    put_file(folder / "theirs" + "/settings.json", "theirs");
    inject_before_step([&](ReplaceStep now) {
      if (now == step) {
        std::filesystem::rename(agent, folder / "held");
        std::filesystem::create_symlink(folder / "theirs", agent);
        EXPECT_EQ(::lchown(agent.c_str(), 4242, 4242), 0);
      }
    });
    auto edited = edit_file(agent + "/settings.json",
                            [](const std::optional<std::string>&) { return std::string("new"); });
    inject_before_step({});
    ASSERT_TRUE(edited && edited->written) << (edited ? "left alone" : edited.error());
    EXPECT_EQ(file_bytes(folder / "held" + "/settings.json"), "new");
    EXPECT_EQ(file_bytes(folder / "theirs" + "/settings.json"), "theirs");
    for (const char* kept : {"theirs", "held"}) {
      const std::filesystem::directory_iterator entries(folder.path() / kept);
      EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << kept << ": a temporary left";
    }
  }
}

// Every extended attribute goes over to the replacement, the access list
// among them, and the permissions, set-ID bits included, agree with that
// list.
TEST(Files, ReplacementKeepsExtendedAttributesAndTheAccessList) {
  ScratchFolder folder;
  const std::string path = folder / "mcp.json";
  put_file(path, "old");
  if (::setxattr(path.c_str(), "user.origin", "dotfiles", 8, 0) != 0) {
    GTEST_SKIP() << "no user.* attributes on this file system: " << std::strerror(errno);
  }
  if (std::system(("setfacl -m u:54321:rw,g:54322:r " + path + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "setfacl (the acl package) is missing, or access lists are not kept here";
  }
  ASSERT_EQ(::chmod(path.c_str(), 02750), 0);  // the mask of the list becomes r-x
  const std::string getfacl = "getfacl -p " + path + " > " + folder / "acl";
  ASSERT_EQ(std::system(getfacl.c_str()), 0);
  const std::string before = file_bytes(folder / "acl");
  ASSERT_NE(before.find("user:54321:rw-"), std::string::npos) << before;
  ASSERT_TRUE(write_file_replacing(path, "new"));
  EXPECT_EQ(file_bytes(path), "new");
  ASSERT_EQ(std::system(getfacl.c_str()), 0);
  EXPECT_EQ(file_bytes(folder / "acl"), before);
  EXPECT_EQ(mode_of(path), 02750u);
  char value[16] = {};
  EXPECT_EQ(::getxattr(path.c_str(), "user.origin", value, sizeof value), 8);
  EXPECT_STREQ(value, "dotfiles");
  EXPECT_EQ(folder.names(), (Names{"acl", "mcp.json"}));
}

// A signal that ends the process mid-write deletes the temporary file
// first, and the process still ends by that signal; so does one that comes
// between the temporary file's creation and its cleanup being armed, also
// while another thread, started as the program starts its threads, could
// take it.
TEST(Files, EndingSignalLeavesNoTemporary) {
  struct Row {
    int signal;
    bool at_creation = false;
    bool other_thread = false;
    bool link = false;  // a link placed rather than a file copied
  };
  for (const Row row : {Row{SIGINT}, Row{SIGTERM}, Row{SIGHUP}, Row{SIGQUIT}, Row{SIGUSR1},
                        Row{SIGALRM}, Row{SIGINT, true}, Row{SIGHUP, true}, Row{SIGUSR1, true},
                        Row{SIGTERM, true, true}, Row{SIGTERM, true, false, true}}) {
    SCOPED_TRACE(std::to_string(row.signal) + (row.at_creation ? " at creation" : " mid-copy") +
                 (row.other_thread ? " with another thread" : "") + (row.link ? " of a link" : ""));
    ScratchFolder folder;
    put_file(folder / "source.wav", std::string(3 << 20, 's'));
    put_file(folder / "target.wav", "old");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(row.signal, SIG_DFL);  // a background test run may ignore it
      const rlimit no_core{0, 0};
      ::setrlimit(RLIMIT_CORE, &no_core);
      if (row.at_creation) {
        inject_after_create([&](const std::string&) { ::kill(::getpid(), row.signal); });
      }
      if (row.other_thread) {
        const int running = ready[1];
        starting_threads([running] {
          std::thread([running] {
            (void)::write(running, "x", 1);
            for (;;) {
              ::pause();
            }
          }).detach();
        });
        // A new thread has every signal blocked until it runs: wait, so that
        // its own mask is the one in force.
        char byte = 0;
        (void)::read(ready[0], &byte, 1);
      }
      if (row.link) {
        (void)place_link("source.wav", folder / "link");
        ::_exit(0);  // the signal should have ended us by now
      }
      (void)copy_file_replacing(folder / "source.wav", folder / "target.wav", [&] {
        if (row.at_creation) {
          return false;  // the signal should have ended us by now
        }
        (void)::write(ready[1], "x", 1);
        for (;;) {
          ::pause();
        }
        return true;
      });
      ::_exit(0);
    }
    if (!row.at_creation) {
      char byte = 0;
      ASSERT_EQ(::read(ready[0], &byte, 1), 1);
      EXPECT_EQ(folder.names().size(), 3u) << "no temporary file while writing";
      ::kill(child, row.signal);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
    EXPECT_EQ(folder.names(), (Names{"source.wav", "target.wav"}));
    EXPECT_EQ(file_bytes(folder / "target.wav"), "old");
    ::close(ready[0]);
    ::close(ready[1]);
  }
  // Outside a write the signals are left as they were.
  ScratchFolder folder;
  const auto before = std::signal(SIGTERM, SIG_DFL);
  const auto before_size = std::signal(SIGXFSZ, SIG_DFL);
  ASSERT_TRUE(write_file_replacing(folder / "x", "x"));
  EXPECT_EQ(std::signal(SIGTERM, before), SIG_DFL);
  EXPECT_EQ(std::signal(SIGXFSZ, before_size), SIG_DFL);
}

// A write past the file size limit is a write error like any other, not
// the end of the process.
TEST(Files, FileSizeLimitFailsTheWrite) {
  ScratchFolder folder;
  const std::string path = folder / "settings.json";
  put_file(path, "old");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{1 << 16, 1 << 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto written = write_file_replacing(path, std::string(1 << 17, 'x'));
    const std::string expected = "Cannot write " + path + ": " + platform::system_error_text(EFBIG);
    ::_exit(!written && written.error() == expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not the write error: " << status;
  EXPECT_EQ(folder.names(), Names{"settings.json"});
  EXPECT_EQ(file_bytes(path), "old");
}
#else
TEST(Files, ReplacementKeepsTheHiddenAttribute) {
  ScratchFolder folder;
  const std::string path = folder / "mcp.json";
  put_file(path, "old");
  ASSERT_TRUE(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(write_file_replacing(path, "new"));
  EXPECT_EQ(file_bytes(path), "new");
  const DWORD attributes = GetFileAttributesW(wide(path).c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace
}  // namespace vellumo::files
