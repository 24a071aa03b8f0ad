// The PATH target end to end: under Wine the user PATH in the registry,
// natively the link ~/.local/bin/vellumo-cli.

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "agents_support.h"

namespace vellumo::e2e {
namespace {

class AgentsPath : public AgentsTest {
 protected:
  void user_path_in_the_registry();
  void link_in_the_home_folder();
};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// Each system's own PATH target, with no other target around.
TEST_F(AgentsPath, TheSystemsOwnPlace) {
  fs::remove(dir() / "appdata");
  set_env("CODEX_HOME", text(dir() / "no-codex"));
  if (target().wine) {
    user_path_in_the_registry();
  } else {
    link_in_the_home_folder();
  }
}

void AgentsPath::user_path_in_the_registry() {
  const std::string folder = text(cli_path().parent_path());
  const auto only_path = [&](const std::string& state) {
    return std::vector<ReportLine>{{"PATH", state, folder}};
  };

  // No value: status looks without writing, install creates it.
  const std::uint64_t untouched = user_path().key_written;
  expect_report(cli({"agents", "status"}), only_path("absent"));
  EXPECT_FALSE(user_path().exists);
  EXPECT_EQ(user_path().key_written, untouched);
  expect_report(cli({"agents", "install"}), only_path("added"));
  UserPathValue value = user_path();
  EXPECT_EQ(value.type, 2u) << "REG_EXPAND_SZ";
  EXPECT_EQ(value.text(), folder);
  expect_report(cli({"agents", "status"}), only_path("present"));

  // Blank pieces go, every other entry stays as written, and so does the
  // value's type.
  set_user_path(1, " Z:\\a ;;; \t;Z:\\b;%E2E_NOT_SET%;");
  expect_report(cli({"agents", "install"}), only_path("added"));
  value = user_path();
  EXPECT_EQ(value.type, 1u) << "REG_SZ";
  EXPECT_EQ(value.text(), " Z:\\a ;Z:\\b;%E2E_NOT_SET%;" + folder);

  // Listed with other ASCII letter case and a trailing backslash: present,
  // and nothing is written (the value is stored without its NUL, which
  // any write would add).
  const std::string listed_bytes = utf16_bytes("Z:\\a;" + lower(folder) + "\\\\");
  set_user_path_raw(2, listed_bytes);
  const std::uint64_t listed = user_path().key_written;
  expect_report(cli({"agents", "status"}), only_path("present"));
  expect_report(cli({"agents", "install"}), only_path("present"));
  EXPECT_EQ(user_path().key_written, listed);
  EXPECT_EQ(user_path().data, listed_bytes) << "the value was written";
  expect_report(cli({"agents", "remove"}), only_path("removed"));
  EXPECT_EQ(user_path().text(), "Z:\\a");
  const std::string removed_bytes = utf16_bytes("Z:\\a");
  set_user_path_raw(2, removed_bytes);
  expect_report(cli({"agents", "remove"}), only_path("absent"));
  EXPECT_EQ(user_path().data, removed_bytes) << "the value was written";

  // Remove takes out every entry that names the folder, through a
  // variable too; forward slashes name another folder.
  set_env("E2E_CLI_FOLDER", folder);
  std::string slashed = folder;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  set_user_path(2, "%E2E_CLI_FOLDER%\\;Z:\\a;" + folder + "; " + upper(folder) + " ;" + slashed +
                       ";%E2E_NOT_SET%");
  expect_report(cli({"agents", "remove"}), only_path("removed"));
  value = user_path();
  EXPECT_EQ(value.type, 2u);
  EXPECT_EQ(value.text(), "Z:\\a;" + slashed + ";%E2E_NOT_SET%");
  expect_report(cli({"agents", "status"}), only_path("absent"));

  // A value far longer than the first read's buffer is read whole.
  std::string long_value;
  for (int i = 0; i < 150; ++i) {
    long_value += "Z:\\some\\folder\\number-" + std::to_string(1000 + i) + ";";
  }
  ASSERT_GT(long_value.size() * 2, 4096u);
  set_user_path(2, long_value + folder);
  expect_report(cli({"agents", "status"}), only_path("present"));
  expect_report(cli({"agents", "remove"}), only_path("removed"));
  long_value.pop_back();
  EXPECT_EQ(user_path().text(), long_value);

  // A value of a type no text can have is not ours to replace.
  const std::string strange = utf16_bytes("Z:\\a") + std::string(2, '\0');
  set_user_path_raw(0x4711, strange);
  for (const char* mode : {"install", "remove"}) {
    SCOPED_TRACE(mode);
    expect_failed_report(
        cli({"agents", mode}),
        {{"PATH", "failed", "Cannot read the user PATH: it has the unknown registry type 18193."}});
  }
  value = user_path();
  EXPECT_EQ(value.type, 0x4711u);
  EXPECT_EQ(value.data, strange);
}

void AgentsPath::link_in_the_home_folder() {
  const fs::path bin = home() / ".local" / "bin";
  const fs::path link = bin / "vellumo-cli";
  const auto only_path = [&](const std::string& state) {
    return std::vector<ReportLine>{{"PATH", state, link.string()}};
  };
  const auto link_text = [&] { return fs::read_symlink(link).string(); };

  // Nothing there.
  expect_report(cli({"agents", "status"}), only_path("absent"));
  expect_report(cli({"agents", "remove"}), only_path("absent"));
  EXPECT_FALSE(fs::exists(home() / ".local")) << "only an install creates the folder";
  expect_report(cli({"agents", "install"}), only_path("added"));
  EXPECT_EQ(link_text(), cli_path().string());
  struct stat info;
  ASSERT_EQ(::stat(bin.c_str(), &info), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(info.st_mode & 07777, 0755u & ~mask);
  EXPECT_FALSE(fs::exists(bin / "vellumo-cli.vellumo-tmp"));
  // Someone's file at a name of the link's own making stays.
  put_file(bin / "vellumo-cli.vellumo-tmp", "mine");

  // Our link.
  make_old(link);
  const auto ours = stamp(link);
  expect_report(cli({"agents", "status"}), only_path("present"));
  expect_report(cli({"agents", "install"}), only_path("present"));
  EXPECT_EQ(stamp(link), ours);
  expect_report(cli({"agents", "remove"}), only_path("removed"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_TRUE(fs::is_directory(bin));

  // A link to another vellumo-cli, dangling or not, or to this one in
  // other words: repointed, or removed.
  for (const fs::path& other : {fs::path("/old/place/vellumo-cli"), dir() / "vellumo-cli",
                                dir() / "cli" / "." / "vellumo-cli"}) {
    SCOPED_TRACE(other);
    fs::create_symlink(other, link);
    expect_report(cli({"agents", "status"}), only_path("skipped"));
    expect_report(cli({"agents", "install"}), only_path("updated"));
    EXPECT_EQ(link_text(), cli_path().string());
    fs::remove(link);
    fs::create_symlink(other, link);
    expect_report(cli({"agents", "remove"}), only_path("removed"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }

  EXPECT_EQ(file_bytes(bin / "vellumo-cli.vellumo-tmp"), "mine");

  // Anything else is left alone in every mode.
  const auto leave_alone = [&] {
    const auto before = stamp(link);
    for (const char* mode : {"status", "install", "remove"}) {
      SCOPED_TRACE(mode);
      expect_report(cli({"agents", mode}), only_path("skipped"));
    }
    EXPECT_EQ(stamp(link), before);
  };
  fs::create_symlink("/usr/bin/env", link);
  leave_alone();
  EXPECT_EQ(link_text(), "/usr/bin/env");
  fs::remove(link);
  std::ofstream(link) << "#!/bin/sh\n";
  leave_alone();
  EXPECT_EQ(file_bytes(link), "#!/bin/sh\n");
  fs::remove(link);
  fs::remove_all(home() / ".local");

  // The folder cannot be made.
  std::ofstream(home() / ".local") << "a file\n";
  expect_failed_report(
      cli({"agents", "install"}),
      {{"PATH", "failed", "Cannot create " + link.string() + ": Not a directory (os error 20)"}});
}

}  // namespace
}  // namespace vellumo::e2e
