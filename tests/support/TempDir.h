#pragma once
// A fresh directory under the system's temporary folder, removed with everything in it at the end.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dmtest-XXXXXX").string();
    char* made = ::mkdtemp(tmpl.data());
    path_ = made ? made : tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace testsupport
