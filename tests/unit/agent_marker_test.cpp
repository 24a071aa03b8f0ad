#include <gtest/gtest.h>

#include <string>

#include "agent_integration/marker.h"
#include "platform/files.h"
#include "support/files.h"
#include "support/scratch_folder.h"

namespace vellumo::agents {
namespace {

using test::file_bytes;
using test::put_file;
using test::ScratchFolder;

TEST(AgentMarker, Text) {
  EXPECT_EQ(marker_text(R"(C:\Tools\vellumo-cli.exe)", false),
            "{\n  \"cli\": \"C:\\\\Tools\\\\vellumo-cli.exe\",\n  \"removed\": false\n}");
  EXPECT_EQ(marker_text("/opt/\"v\"/vellumo-cli", true),
            "{\n  \"cli\": \"/opt/\\\"v\\\"/vellumo-cli\",\n  \"removed\": true\n}");
}

TEST(AgentMarker, ParsesTheObjectForm) {
  EXPECT_EQ(parse_marker(R"({"cli": "C:/Tools/vellumo-cli.exe", "removed": false})"),
            (Marker{"C:/Tools/vellumo-cli.exe", false}));
  EXPECT_EQ(parse_marker(marker_text("/a/vellumo-cli", true)), (Marker{"/a/vellumo-cli", true}));
  EXPECT_EQ(parse_marker(" \n{\"removed\":true,\"x\":[1,{}],\"cli\":\"\\u0041\",\"x\":2}\r\n "),
            (Marker{"A", true}));
}

TEST(AgentMarker, ParsesTheArrayForm) {
  EXPECT_EQ(parse_marker(R"(["C:\\Tools\\vellumo-cli.exe", true])"),
            (Marker{R"(C:\Tools\vellumo-cli.exe)", true}));
  EXPECT_EQ(parse_marker("[ \"x\" , false ]\n"), (Marker{"x", false}));
}

TEST(AgentMarker, RefusesEverythingElse) {
  const char* const bad[] = {
      "",
      "{}",
      R"({"cli": "x"})",
      R"({"removed": true})",
      R"({"cli": "x", "removed": true, "cli": "y"})",
      R"({"cli": "x", "removed": true, "removed": false})",
      R"({"cli": 1, "removed": true})",
      R"({"cli": null, "removed": true})",
      R"({"cli": "x", "removed": "true"})",
      R"({"cli": "x", "removed": 0})",
      R"({"cli": "x", "removed": true} x)",
      R"({"cli": "x", "removed": true,})",
      "\xEF\xBB\xBF{\"cli\": \"x\", \"removed\": true}",
      "// c\n{\"cli\": \"x\", \"removed\": true}",
      R"(["x"])",
      R"(["x", true, 1])",
      R"([true, "x"])",
      R"([])",
      R"("x")",
      "true",
      "null",
  };
  for (const char* text : bad) {
    EXPECT_EQ(parse_marker(text), std::nullopt) << text;
  }
}

// The data folder, made where missing; a folder that cannot be made or
// opened reads no marker and takes none.
std::optional<Marker> read_marker(const std::string& path) {
  auto data = files::open_own_folder(path);
  return data ? agents::read_marker(*data) : std::nullopt;
}

void write_marker(const std::string& path, std::string_view cli_path, bool removed) {
  if (auto data = files::open_own_folder(path)) {
    agents::write_marker(*data, cli_path, removed);
  }
}

TEST(AgentMarker, WriteCreatesTheFolderAndReadsBack) {
  ScratchFolder folder;
  const std::string data = files::join(files::join(folder.str(), "Local"), "Vellumo");
  EXPECT_EQ(read_marker(data), std::nullopt);
  write_marker(data, R"(C:\Tools\vellumo-cli.exe)", false);
  const std::string path = files::join(data, "agent-integration.json");
  EXPECT_EQ(file_bytes(path),
            "{\n  \"cli\": \"C:\\\\Tools\\\\vellumo-cli.exe\",\n  \"removed\": false\n}");
  EXPECT_EQ(read_marker(data), (Marker{R"(C:\Tools\vellumo-cli.exe)", false}));
  write_marker(data, "/x/vellumo-cli", true);
  EXPECT_EQ(read_marker(data), (Marker{"/x/vellumo-cli", true}));
}

TEST(AgentMarker, CliPathThatIsNotUnicodeWritesNothing) {
  ScratchFolder folder;
  write_marker(folder.str(), "/opt/\xFF/vellumo-cli", false);
  EXPECT_TRUE(folder.names().empty());
}

TEST(AgentMarker, ErrorsAreIgnoredAndUnreadableMarkersAreNothing) {
  ScratchFolder folder;
  // A file where the data folder should be.
  const std::string blocked = files::join(folder.str(), "Vellumo");
  put_file(blocked, "x");
  write_marker(blocked, "/x/vellumo-cli", false);
  EXPECT_EQ(file_bytes(blocked), "x");
  EXPECT_EQ(read_marker(blocked), std::nullopt);

  const std::string data = files::join(folder.str(), "Data");
  std::filesystem::create_directory(data);
  put_file(files::join(data, "agent-integration.json"), "{\"cli\": \"x\", \"removed\": tru}");
  EXPECT_EQ(read_marker(data), std::nullopt);
  // A folder in place of the marker file.
  const std::string other = files::join(folder.str(), "Other");
  std::filesystem::create_directories(
      std::filesystem::path(files::join(other, "agent-integration.json")));
  EXPECT_EQ(read_marker(other), std::nullopt);
  write_marker(other, "/x/vellumo-cli", false);
  EXPECT_EQ(read_marker(other), std::nullopt);
}

}  // namespace
}  // namespace vellumo::agents
