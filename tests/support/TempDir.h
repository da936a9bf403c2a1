#pragma once
// A fresh directory under the system's temporary folder, removed with everything in it at the end.

#include <filesystem>
#include <random>
#include <string>

namespace testsupport {

class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device seed;
    std::mt19937 random(seed());
    const fs::path base = fs::temp_directory_path();
    fs::path made;
    for (int attempt = 0; attempt < 100; ++attempt) {
      made = base / ("dmtest-" + std::to_string(random() % 1000000000));
      if (fs::create_directory(made)) break;  // false when it was there already
    }
    // UTF-8, as every path in the program; the Windows temporary folder may hold non-ASCII names.
    const std::u8string text = made.u8string();
    path_.assign(text.begin(), text.end());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(std::u8string(path_.begin(), path_.end())), ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace testsupport
