// The archive's file access on Windows: UTF-8 names through the wide-character interface ('/' and
// '\' both separate, drive letters and UNC names as Windows takes them), positioned reads and
// writes through OVERLAPPED offsets, file identity from the volume serial number and file index,
// and extraction folders entered without following junctions or symbolic links (reparse points).
#include <windows.h>

// <windows.h> maps this name to CreateFileW; here it is Folder's own.
#undef CreateFile

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>
#include <vector>

#include "archive/FileIo.h"
#include "platform/FileSystem.h"
#include "platform/Win32Text.h"

namespace archive::fileio {
namespace {

// Beyond every Windows error code (they stay below 0x4000): the archive's own reasons.
constexpr int kNotRegularFile = 1 << 20;
constexpr int kLinkInTheWay = (1 << 20) + 1;

// Every open shares reading, writing and deletion, as POSIX files do: a file being read can be
// replaced by its new version, and an archive still open can be renamed into place. An archive
// being read is the exception (File::OpenDenyingWriters).
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// 100-nanosecond steps between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr std::int64_t kEpochSteps = 116444736000000000LL;

int LastError() { return static_cast<int>(::GetLastError()); }

std::wstring Wide(const std::string& path) {
  std::wstring wide = platform::win32::Widen(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  return wide;
}

// The form every file function is given: absolute paths as "\\?\" paths, which may be longer
// than MAX_PATH.
std::wstring Long(const std::wstring& path) { return platform::win32::LongPath(path); }
std::wstring Long(const std::string& path) { return platform::win32::LongPath(path); }

std::int64_t StepsSinceEpoch(const FILETIME& t) {
  const std::int64_t steps =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  return steps - kEpochSteps;
}

HANDLE Opened(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }

FileStatus StatusOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return {};
  FileStatus s;
  s.exists = true;
  s.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  s.isRegular = !s.isDirectory && ::GetFileType(h) == FILE_TYPE_DISK;
  s.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  s.modified = StepsSinceEpoch(info.ftLastWriteTime) * 100;
  s.device = info.dwVolumeSerialNumber;
  s.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  // Windows knows no permission bits; the read-only attribute is shown as the lack of write ones.
  const std::uint32_t mode = s.isDirectory ? 0777 : 0666;
  s.permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? mode & ~0222u : mode;
  return s;
}

// A read or write at `offset`, whatever the handle's own file position.
OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// One call moves at most 1 GiB (a DWORD counts the bytes).
DWORD Chunk(std::size_t left) { return static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30)); }

// Six characters that make a file name unique.
std::string RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 rng(
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32));
  std::string s(6, 'X');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

File OpenWide(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags,
              DWORD share = kShareAll) {
  const HANDLE h = Opened(::CreateFileW(Long(path).c_str(), access, share, nullptr, disposition, flags, nullptr));
  return File::Opened(h, h == nullptr ? LastError() : 0);
}

// A folder's handle. It does not share deletion, so the folder cannot be renamed, removed or
// replaced while the handle is open. Windows enforces that only against a handle with rights to
// the folder's content: one that can merely read attributes stops nobody.
HANDLE OpenDirectory(const std::wstring& path, bool followLinks) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return Opened(::CreateFileW(Long(path).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr));
}

// The name `name` in the folder `folder` (a drive's root already ends in its separator).
std::wstring Join(const std::wstring& folder, const std::string& name) {
  const bool separated = !folder.empty() && folder.back() == L'\\';
  return (separated ? folder : folder + L'\\') + Wide(name);
}

bool MissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The absolute form of a path, without trailing separators (a root keeps its own).
std::wstring FullPath(const std::wstring& path) {
  const std::wstring given = path.empty() ? std::wstring(L".") : path;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return given;
    if (n < buffer.size()) {
      std::wstring full(buffer.data(), n);
      while (full.size() > 3 && full.back() == L'\\') full.pop_back();
      return full;
    }
    buffer.resize(n + 1);
  }
}

// Where the root of an absolute path ends: "C:\" or "\\server\share\".
std::size_t RootLength(const std::wstring& full) {
  if (full.size() >= 2 && full[1] == L':') return full.size() >= 3 ? 3 : 2;
  if (full.rfind(L"\\\\", 0) == 0) {
    std::size_t n = 2;
    for (int part = 0; part < 2 && n != std::wstring::npos; ++part) {
      n = full.find(L'\\', n);
      if (n != std::wstring::npos) ++n;
    }
    return n == std::wstring::npos ? full.size() : n;
  }
  return 0;
}

}  // namespace

std::string ErrorText(int error) {
  if (error == kNotRegularFile) return "Not a regular file";
  if (error == kLinkInTheWay) return "A symbolic link or junction is in the way";
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
    message.pop_back();
  return message.empty() ? "Error " + std::to_string(error) : platform::win32::Narrow(message);
}

bool IsLinkError(int error) { return error == kLinkInTheWay; }

bool IsCrossDeviceError(int error) { return error == ERROR_NOT_SAME_DEVICE; }

int NotRegularFileError() { return kNotRegularFile; }

FileStatus StatusOf(const std::string& path) {
  if (path.empty()) return {};
  const HANDLE h = Opened(::CreateFileW(Long(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (h == nullptr) return {};
  const FileStatus s = StatusOfHandle(h);
  ::CloseHandle(h);
  return s;
}

// --- File ---

File File::Opened(NativeFile fd, int error) {
  File f;
  f.fd_ = fd;
  f.error_ = fd == kNoFile ? error : 0;
  return f;
}

File::~File() {
  if (fd_ != kNoFile) ::CloseHandle(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, kNoFile)), error_(other.error_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ != kNoFile) ::CloseHandle(fd_);
    fd_ = std::exchange(other.fd_, kNoFile);
    error_ = other.error_;
  }
  return *this;
}

File File::OpenForReading(const std::string& path) {
  // A folder opens only with backup semantics, so a folder given as the file fails here.
  File f = OpenWide(Wide(path), GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!f.IsOpen()) return f;
  const FileStatus s = f.Status();
  if (!s.exists || !s.isRegular) return Opened(kNoFile, !s.exists ? f.error_ : NotRegularFileError());
  return f;
}

File File::OpenDenyingWriters(const std::string& path) {
  File f = OpenWide(Wide(path), GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ);
  if (!f.IsOpen()) return f;
  const FileStatus s = f.Status();
  if (!s.exists || !s.isRegular) return Opened(kNoFile, !s.exists ? f.error_ : NotRegularFileError());
  return f;
}

File File::CreateTemporary(const std::string& folder, const std::string& prefix, std::uint32_t,
                           std::string& path) {
  const bool separated = !folder.empty() && (folder.back() == '/' || folder.back() == '\\');
  const std::string base = folder.empty() ? std::string(".\\") : separated ? folder : folder + "\\";
  int error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS); ++attempt) {
    path = base + prefix + RandomSuffix();
    File f = OpenWide(Wide(path), GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (f.IsOpen()) return f;
    error = f.error_;
  }
  path.clear();
  return Opened(kNoFile, error);
}

File File::Duplicate() const {
  if (fd_ == kNoFile) return Opened(kNoFile, ERROR_INVALID_HANDLE);
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), fd_, ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return Opened(kNoFile, LastError());
  return Opened(copy, 0);
}

FileStatus File::Status() {
  if (fd_ == kNoFile) {
    error_ = ERROR_INVALID_HANDLE;
    return {};
  }
  const FileStatus s = StatusOfHandle(fd_);
  if (!s.exists) error_ = LastError();
  return s;
}

std::optional<std::size_t> File::ReadAt(std::uint64_t position, void* data, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(position + done);
    DWORD got = 0;
    if (!::ReadFile(fd_, out + done, Chunk(size - done), &got, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      error_ = LastError();
      return std::nullopt;
    }
    if (got == 0) break;  // the end of the file
    done += got;
  }
  return done;
}

bool File::WriteAt(std::uint64_t position, const void* data, std::size_t size) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(position + done);
    DWORD put = 0;
    if (!::WriteFile(fd_, in + done, Chunk(size - done), &put, &at)) {
      error_ = LastError();
      return false;
    }
    if (put == 0) {
      error_ = ERROR_DISK_FULL;
      return false;
    }
    done += put;
  }
  return true;
}

bool File::SetSize(std::uint64_t size) {
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  if (::SetFilePointerEx(fd_, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(fd_)) return true;
  error_ = LastError();
  return false;
}

bool File::Sync() {
  if (::FlushFileBuffers(fd_)) return true;
  error_ = LastError();
  return false;
}

// Windows has no permission bits: a file gets the attributes a new file gets.
bool File::SetPermissions(std::uint32_t) { return true; }

bool File::SetDosAttributes(std::uint32_t attributes) {
  constexpr DWORD kSettable =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  FILE_BASIC_INFO basic{};  // times of zero stay as they are
  basic.FileAttributes = attributes & kSettable;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (::SetFileInformationByHandle(fd_, FileBasicInfo, &basic, sizeof basic)) return true;
  error_ = LastError();
  return false;
}

bool File::SetReadOnly(bool readOnly) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(fd_, &info)) {
    error_ = LastError();
    return false;
  }
  const DWORD others = info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return SetDosAttributes(readOnly ? others | FILE_ATTRIBUTE_READONLY : others);
}

bool File::Close() {
  if (fd_ == kNoFile) return true;
  const HANDLE h = std::exchange(fd_, kNoFile);
  if (::CloseHandle(h)) return true;
  error_ = LastError();
  return false;
}

// --- paths ---

int Rename(const std::string& from, const std::string& to) {
  const std::error_code replaced = platform::ReplaceFileAtomically(from, to);
  return replaced ? replaced.value() : 0;
}

int Remove(const std::string& path) { return ::DeleteFileW(Long(path).c_str()) ? 0 : LastError(); }

// Windows file systems log their directory changes themselves: there is no folder to sync.
void SyncFolderOf(const std::string&) {}

// --- Folder ---

Folder::~Folder() {
  if (fd_ != kNoFile) ::CloseHandle(fd_);
}

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, kNoFile)),
      current_(std::exchange(other.current_, false)),
      error_(other.error_),
      path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ != kNoFile) ::CloseHandle(fd_);
    fd_ = std::exchange(other.fd_, kNoFile);
    current_ = std::exchange(other.current_, false);
    error_ = other.error_;
    path_ = std::move(other.path_);
  }
  return *this;
}

Folder Folder::Open(const std::string& path, bool create) {
  // The way to the folder is the user's and is taken as any program takes it, links included;
  // the folder itself and everything below it are entered without following links.
  const std::wstring full = FullPath(Wide(path));
  const std::size_t root = std::min(RootLength(full), full.size());
  Folder folder;
  folder.path_ = full.substr(0, root);
  folder.fd_ = OpenDirectory(folder.path_, true);
  if (folder.fd_ == kNoFile) {
    folder.error_ = LastError();
    return folder;
  }
  const std::wstring rest = full.substr(root);
  const std::size_t lastSlash = rest.find_last_of(L'\\');
  const std::string parent = lastSlash == std::wstring::npos ? std::string() : platform::win32::Narrow(rest.substr(0, lastSlash));
  const std::string last = platform::win32::Narrow(lastSlash == std::wstring::npos ? rest : rest.substr(lastSlash + 1));
  Folder above = folder.Walk(parent, create, true);
  if (!above.IsOpen() || last.empty()) return above;
  return above.Walk(last, create, false);
}

Folder Folder::Copy() const {
  Folder folder;
  folder.path_ = path_;
  if (!::DuplicateHandle(::GetCurrentProcess(), fd_, ::GetCurrentProcess(), &folder.fd_, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    folder.fd_ = kNoFile;
    folder.error_ = LastError();
  }
  return folder;
}

Folder Folder::Enter(const std::string& name, bool create, bool followLinks) const {
  Folder sub;
  sub.path_ = Join(path_, name);
  sub.fd_ = OpenDirectory(sub.path_, followLinks);
  if (sub.fd_ == kNoFile && MissingError(::GetLastError()) && create) {
    if (::CreateDirectoryW(Long(sub.path_).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)
      sub.fd_ = OpenDirectory(sub.path_, followLinks);
  }
  if (sub.fd_ == kNoFile) {
    sub.error_ = LastError();
    return sub;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  int error = 0;
  if (!::GetFileInformationByHandle(sub.fd_, &info))
    error = LastError();
  else if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    error = kLinkInTheWay;
  else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    error = ERROR_DIRECTORY;
  if (error != 0) {
    ::CloseHandle(std::exchange(sub.fd_, kNoFile));
    sub.error_ = error;
  }
  return sub;
}

bool Folder::Holds(const std::string& name) const {
  return ::GetFileAttributesW(Long(Join(path_, name)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::time_t> Folder::ModifiedTime(const std::string& name) const {
  // The entry's own data, a link's included (the name is not followed).
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Long(Join(path_, name)).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return static_cast<std::time_t>(StepsSinceEpoch(data.ftLastWriteTime) / 10000000);
}

File Folder::CreateFile(const std::string& name) const {
  const std::wstring path = Join(path_, name);
  const DWORD existing = ::GetFileAttributesW(Long(path).c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT))
    return File::Opened(kNoFile, kLinkInTheWay);
  // Windows refuses to replace a hidden or system file unless the new one says so too.
  const DWORD kept = existing == INVALID_FILE_ATTRIBUTES ? 0 : existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  return OpenWide(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                  (kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_OPEN_REPARSE_POINT);
}

bool Folder::MakeWritable(const std::string& name) const {
  const std::wstring path = Long(Join(path_, name));
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return false;
  const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesW(path.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool Folder::RemoveFile(const std::string& name) const {
  return ::DeleteFileW(Long(Join(path_, name)).c_str()) != 0;
}

}  // namespace archive::fileio
