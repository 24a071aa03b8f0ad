#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <system_error>

#include "support/files.h"

namespace vellumo::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(std::string_view prefix) {
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<std::uint64_t>(
                                      std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() /
                         path_of(std::string(prefix) + std::to_string(random() % 1000000000ULL));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
      path_ = std::move(candidate);
      return;
    }
  }
  ADD_FAILURE() << "cannot create a scratch folder";
}

ScratchFolder::~ScratchFolder() {
  if (kept_ || path_.empty()) {
    return;
  }
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

std::string ScratchFolder::operator/(std::string_view name) const {
  return utf8_of(path_ / path_of(name));
}

std::string ScratchFolder::str() const { return utf8_of(path_); }

std::vector<std::string> ScratchFolder::names() const {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(path_)) {
    out.push_back(utf8_of(entry.path().filename()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace vellumo::test
