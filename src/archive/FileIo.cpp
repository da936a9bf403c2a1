#include "archive/FileIo.h"

// The folder walk both systems share; opening one component and copying a handle are each
// system's own (FileIoPosix.cpp, FileIoWin32.cpp). POSIX systems open an archive being read as
// any file.

namespace archive::fileio {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

}  // namespace

bool WindowsKeepsName(std::string_view name) {
  if (name.empty() || name.back() == '.' || name.back() == ' ' || name.find(':') != std::string_view::npos)
    return false;
  // The device is named by the part before the first dot, blanks after it not counted.
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return false;
  const bool numbered = base.size() == 4 && base[3] >= '1' && base[3] <= '9';
  return !(numbered && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0));
}

#ifndef _WIN32
File File::OpenDenyingWriters(const std::string& path) { return OpenForReading(path); }
#endif

Folder Folder::Sub(const std::string& name, bool create) const { return Enter(name, create, false); }

Folder Folder::Descend(const std::string& relative, bool create) const { return Walk(relative, create, false); }

Folder Folder::Walk(const std::string& relative, bool create, bool followLinks) const {
  Folder folder = Copy();
  std::size_t begin = 0;
  while (folder.IsOpen() && begin < relative.size()) {
    std::size_t end = relative.find_first_of(kSeparators, begin);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty() || part == ".") continue;
    folder = folder.Enter(part, create, followLinks);
  }
  return folder;
}

}  // namespace archive::fileio
