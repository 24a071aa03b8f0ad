#pragma once

// A fresh folder per test under the system's temporary folder, removed
// afterwards: what the unit, process and end-to-end tests set up their
// files in.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vellumo::test {

class ScratchFolder {
 public:
  /// A new folder, private to the user, named `prefix` (UTF-8) and a
  /// random number.
  explicit ScratchFolder(std::string_view prefix = "vellumo-test-");
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  /// Removes the folder and everything in it, permission changes a test
  /// left behind undone first; unless kept.
  ~ScratchFolder();

  const std::filesystem::path& path() const { return path_; }
  /// The path of `name` inside the folder, as the UTF-8 text the code under
  /// test takes.
  std::string operator/(std::string_view name) const;
  /// The folder's path as UTF-8 text.
  std::string str() const;
  /// The names in the folder, sorted.
  std::vector<std::string> names() const;
  /// Leaves the folder in place, for a look after a failed test.
  void keep() { kept_ = true; }

 private:
  std::filesystem::path path_;
  bool kept_ = false;
};

}  // namespace vellumo::test
