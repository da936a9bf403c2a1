#include "migration/FileList.h"

#include <algorithm>
#include <filesystem>

#include "platform/FileSystem.h"

namespace migration {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive order; names that differ only in case keep a fixed order by their bytes.
bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
    const auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

std::vector<std::string> ListPlainFiles(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(directory))) {
    std::error_code ec;
    if (!entry.is_regular_file(ec)) continue;
    std::string name = platform::PathToUtf8(entry.path().filename());
    if (name.empty() || name.front() == '.') continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  return names;
}

}  // namespace migration
