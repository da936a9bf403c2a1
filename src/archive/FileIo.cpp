#include "archive/FileIo.h"

// The folder walk both systems share; opening one component and copying a handle are each
// system's own (FileIoPosix.cpp, FileIoWin32.cpp).

namespace archive::fileio {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

}  // namespace

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
