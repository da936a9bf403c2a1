#include "archive/FileWalker.h"

#ifdef _WIN32
#include <windows.h>
// <windows.h> maps this name to its A/W functions; here it is the platform layer's own.
#undef GetFileAttributes
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#endif

#include <algorithm>
#include <vector>

#include "archive/ArchiveErrors.h"
#include "archive/FileIo.h"
#include "diag/Trace.h"
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

// One name of a folder's listing, and whether it is a link (a symbolic link, or on Windows a
// junction or any other reparse point) that leads to a folder.
struct Listed {
  std::string name;
  bool linkToFolder = false;
};

// A folder that exists but cannot be listed fails the run as an unreadable file does: an
// archive without its files must not pass for a complete one.
[[noreturn]] void FailListing(const std::string& directory, int error) {
  std::string shown = directory;
  while (shown.size() > 1 && (shown.back() == '/' || shown.back() == platform::kPathSeparator)) shown.pop_back();
  throw EFOpenError("Cannot open folder \"" + PrintableName(shown) + "\". " + fileio::ErrorText(error));
}

// The names in `directory` (which ends in a separator) in name order. A folder that is not there
// (never made, or removed while the walk ran) lists nothing.
std::vector<Listed> ListNames(const std::string& directory) {
  std::vector<Listed> names;
#ifdef _WIN32
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(platform::win32::LongPath(directory + '*').c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // "Not found" is an empty drive root; a path that leads nowhere, or to a file, is no folder.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) return names;
    FailListing(directory, static_cast<int>(error));
  }
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD attributes = found.dwFileAttributes;
    names.push_back(Listed{platform::win32::Narrow(name), (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                                              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (::FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error != ERROR_NO_MORE_FILES) FailListing(directory, static_cast<int>(error));
#else
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return names;
    FailListing(directory, errno);
  }
  const int fd = ::dirfd(dir);
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(dir);
    if (e == nullptr) {
      error = errno;
      break;
    }
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    // A folder that can be read but not searched (mode r--) lists names whose files cannot be
    // looked at: it cannot be packed either.
    struct stat st {};
    if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed while the walk ran
      error = errno;
      break;
    }
    struct stat target {};
    const bool linkToFolder = S_ISLNK(st.st_mode) && ::fstatat(fd, e->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    names.push_back(Listed{std::string(name), linkToFolder});
  }
  ::closedir(dir);
  if (error != 0) FailListing(directory, error);
#endif
  std::sort(names.begin(), names.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
  return names;
}

// A link to a folder is not followed, on either system: what it leads to may be anywhere (a
// parent of the walked folder makes the walk endless, another disk makes the archive hold what
// the user never chose), and the archive stores no links. It is named in the trace and left out;
// a link to a file is packed as the file it leads to.
void Walk(const std::string& directory, const std::string& pattern, bool recurse,
          std::uint32_t attributeMask, const std::function<void(const WalkEntry&)>& visit) {
  std::string base = directory;
  if (base.empty() || (base.back() != '/' && base.back() != platform::kPathSeparator)) base += '/';
  for (const Listed& listed : ListNames(base)) {
    const std::string path = base + listed.name;
    const auto attributes = platform::GetFileAttributes(path);
    if (!attributes || !PassesAttributeMask(*attributes, attributeMask)) continue;
    if (listed.linkToFolder) {
      diag::TraceLine("Link to a folder not followed: " + PrintableName(path));
      continue;
    }
    if (*attributes & platform::kAttrDirectory) {
      if (!recurse) continue;
      visit(WalkEntry{path + '/', true, 0});
      Walk(path, pattern, recurse, attributeMask, visit);
      continue;
    }
    if (!MatchesPattern(listed.name, pattern)) continue;
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
