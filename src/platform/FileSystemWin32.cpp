// File-system services on Windows: the file system's own attributes, UTF-8 paths through the
// wide-character interface (absolute ones in the "\\?\" form, which may pass MAX_PATH), names
// compared without regard to letter case.
#include <windows.h>

// <windows.h> maps these names to its A/W functions; here they are the platform layer's own.
#undef GetFileAttributes
#undef SetFileAttributes

#include <cwchar>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/Win32Text.h"

namespace platform {
namespace {

using win32::LongPath;
using win32::Widen;

constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE;

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

// A path without trailing separators (a drive root keeps its own).
std::wstring Trimmed(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// The mount point (volume root) that holds `path`, in upper case; empty when unknown.
std::wstring VolumeOf(const std::wstring& path) {
  std::wstring volume(path.size() + 2, L'\0');
  if (!::GetVolumePathNameW(path.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) return {};
  volume.resize(std::wcslen(volume.c_str()));
  ::CharUpperBuffW(volume.data(), static_cast<DWORD>(volume.size()));
  return volume;
}

bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  // Read-only entries go too, as with the shell's deletion that asks no questions.
  if (attributes & FILE_ATTRIBUTE_READONLY)
    ::SetFileAttributesW(path.c_str(), (attributes & kSettable & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL);
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A link to a directory is removed itself, never what it points to.
  if (!directory || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return directory ? ::RemoveDirectoryW(path.c_str()) != 0 : ::DeleteFileW(path.c_str()) != 0;
  }
  bool ok = true;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      ok = RemoveEntry(path + L'\\' + found.cFileName, found.dwFileAttributes) && ok;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  return ::RemoveDirectoryW(path.c_str()) != 0 && ok;
}

}  // namespace

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  if (path.empty()) return false;
  const std::wstring wide = LongPath(path);
  const DWORD current = ::GetFileAttributesW(wide.c_str());
  if (current == INVALID_FILE_ATTRIBUTES) return false;
  // Bits that only Windows itself manages (compressed, encrypted, ...) stay as they are.
  constexpr DWORD kKept = FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE;
  DWORD wanted = (current & kKept) | (attributes & kSettable);
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesW(wide.c_str(), wanted) != 0;
}

bool RemoveTree(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = Trimmed(LongPath(path));
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return RemoveEntry(wide, attributes);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return ::_wfopen(LongPath(path).c_str(), Widen(mode).c_str());
}

std::string ExecutableDirectory() {
  std::wstring exe(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (length == 0) return ".\\";
    if (length < exe.size()) {
      exe.resize(length);
      break;
    }
    exe.resize(exe.size() * 2);  // cut short: try again with more room
  }
  const size_t separator = exe.find_last_of(L"\\/");
  return win32::Narrow(exe.substr(0, separator == std::wstring::npos ? 0 : separator)) + '\\';
}

bool SameFileName(std::string_view a, std::string_view b) {
  const std::wstring wa = Widen(a);
  const std::wstring wb = Widen(b);
  return ::CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(), static_cast<int>(wb.size()),
                                TRUE) == CSTR_EQUAL;
}

std::error_code ReplaceFileAtomically(const std::string& from, const std::string& to) {
  const std::wstring source = LongPath(from);
  const std::wstring target = LongPath(to);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // Nothing to replace: a move, written through to the disk before it returns.
    if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return LastError();
    return {};
  }
  // ReplaceFileW cannot cross volumes; the caller copies then, as for a rename.
  if (VolumeOf(source) != VolumeOf(target)) return {ERROR_NOT_SAME_DEVICE, std::system_category()};
  // The new file takes over what the old one had: its security descriptor (who may read the
  // archive), its creation time and its attributes. A read-only file is replaced as on POSIX
  // systems, where the folder decides and the new file keeps the old one's permissions: the
  // read-only attribute is lifted for the replacement and is the new file's again afterwards.
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    const DWORD writable = attributes & kSettable & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!::SetFileAttributesW(target.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL)) return LastError();
  }
  std::error_code result;
  if (!::ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
    result = LastError();
  if (readOnly) {
    const DWORD now = ::GetFileAttributesW(target.c_str());
    ::SetFileAttributesW(target.c_str(), (now == INVALID_FILE_ATTRIBUTES ? attributes : now) | FILE_ATTRIBUTE_READONLY);
  }
  return result;
}

std::error_code FlushFileToDisk(const std::string& path) {
  const HANDLE file = ::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  std::error_code result;
  if (!::FlushFileBuffers(file)) result = LastError();
  ::CloseHandle(file);
  return result;
}

std::error_code FlushDirectoryToDisk(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::make_error_code(std::errc::not_a_directory);
  return {};
}

}  // namespace platform
