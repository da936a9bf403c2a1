#include "archive/FileWalker.h"

#ifdef _WIN32
#include <windows.h>
// <windows.h> maps this name to its A/W functions; here it is the platform layer's own.
#undef GetFileAttributes
#else
#include <dirent.h>
#endif

#include <algorithm>
#include <vector>

#include "archive/FileIo.h"
#include "platform/FileSystem.h"
#ifdef _WIN32
#include "platform/Win32Text.h"
#endif

namespace archive {
namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Match(std::string_view name, std::string_view pattern) {
  // Iterative matcher with one backtrack point per '*'.
  std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> ListNames(const std::string& directory) {
  std::vector<std::string> names;
#ifdef _WIN32
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(platform::win32::Widen(directory + '*').c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(platform::win32::Narrow(name));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
#else
  DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  ::closedir(dir);
#endif
  std::sort(names.begin(), names.end());
  return names;
}

void Walk(const std::string& directory, const std::string& pattern, bool recurse,
          std::uint32_t attributeMask, const std::function<void(const WalkEntry&)>& visit) {
  std::string base = directory;
  if (base.empty() || (base.back() != '/' && base.back() != platform::kPathSeparator)) base += '/';
  for (const std::string& name : ListNames(base)) {
    const std::string path = base + name;
    const auto attributes = platform::GetFileAttributes(path);
    if (!attributes || !PassesAttributeMask(*attributes, attributeMask)) continue;
    if (*attributes & platform::kAttrDirectory) {
      if (!recurse) continue;
      visit(WalkEntry{path + '/', true, 0});
      Walk(path, pattern, recurse, attributeMask, visit);
      continue;
    }
    if (!MatchesPattern(name, pattern)) continue;
    visit(WalkEntry{path, false, fileio::StatusOf(path).size});
  }
}

}  // namespace

bool PassesAttributeMask(std::uint32_t attributes, std::uint32_t attributeMask) {
  return (attributes & (~attributeMask & kSelectableAttributes)) == 0;
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (pattern == "*") return true;
  if (Match(name, pattern)) return true;
  if (name.find('.') != std::string_view::npos) return false;
  std::string dotted(name);
  dotted += '.';
  return Match(dotted, pattern);
}

void WalkDirectory(const std::string& directory, const std::string& pattern, bool recurse,
                   std::uint32_t attributeMask, const std::function<void(const WalkEntry&)>& visit) {
  Walk(directory, pattern, recurse, attributeMask, visit);
}

}  // namespace archive
