#pragma once
// Every operating-system call of the archive reader and writer goes through this interface:
// opening, reading, writing, syncing, renaming and removing files, and walking into a
// destination folder one component at a time without following links. The code above it speaks
// of files, folders, positions and byte counts; a failure comes back as an error code (ErrorText
// words it), never as an exception, so that each caller raises the archive error that fits.
// File times go through DosDateTime, directory listing through FileWalker.
//
// FileIoPosix.cpp and FileIoWin32.cpp implement it; the build chooses one. Paths are UTF-8 text
// with '/' as separator; on Windows '\', drive letters and UNC names are taken as well.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace archive::fileio {

// What stands behind an open File (DosDateTime reads and sets times through it): a descriptor,
// or on Windows a handle; kNoFile when there is none.
#ifdef _WIN32
using NativeFile = void*;
inline constexpr NativeFile kNoFile = nullptr;
#else
using NativeFile = int;
inline constexpr NativeFile kNoFile = -1;
#endif

struct FileStatus {
  bool exists = false;
  bool isRegular = false;
  bool isDirectory = false;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds since the epoch
  std::uint64_t device = 0;   // device (volume) and file number: which file it is, whatever its
  std::uint64_t inode = 0;    // name

  std::uint32_t permissions = 0;
};

// The system's wording of an error code.
std::string ErrorText(int error);
// True when the error says that a symbolic link stood where a folder or file was opened.
bool IsLinkError(int error);

// The status of what `path` names (links followed); `exists` is false when nothing is there.
FileStatus StatusOf(const std::string& path);

// An open file, closed when its owner lets it go. Move-only. Positions are explicit: reads and
// writes never depend on a shared file offset, so nothing has to seek back.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // An existing regular file for reading. The open never waits (a named pipe given as the file
  // would wait for a writer for ever) and anything but a regular file is refused.
  static File OpenForReading(const std::string& path);
  // The same for an archive being read: on Windows others may read it meanwhile but neither
  // write to it nor delete or replace it (POSIX systems have no such lock; it opens as above).
  static File OpenDenyingWriters(const std::string& path);
  // A new file with a unique name in `folder` ("<folder>/<prefix>" and six more characters),
  // with the given permissions (less the process's mask); `path` receives its name.
  static File CreateTemporary(const std::string& folder, const std::string& prefix,
                              std::uint32_t permissions, std::string& path);

  bool IsOpen() const { return fd_ != kNoFile; }
  // A second handle of the same open file, independent of this one's closing.
  File Duplicate() const;
  // The error of the last failed operation (or of the failed open).
  int Error() const { return error_; }
  NativeFile Native() const { return fd_; }

  FileStatus Status();
  // Reads up to `size` bytes at `position`; fewer only at the end of the file. nullopt on a
  // read error, which is never taken for the end of the file.
  std::optional<std::size_t> ReadAt(std::uint64_t position, void* data, std::size_t size);
  // Writes all `size` bytes at `position`; false when they could not all be stored.
  bool WriteAt(std::uint64_t position, const void* data, std::size_t size);
  bool SetSize(std::uint64_t size);
  // Waits until the written data is on the disk.
  bool Sync();
  bool SetPermissions(std::uint32_t permissions);
  // The read-only attribute: set takes away every write permission, clear gives the owner one.
  bool SetReadOnly(bool readOnly);
  // The DOS attributes an archive stored for the file: on Windows read-only, hidden, system and
  // archive are set as given; elsewhere only read-only has a meaning (as SetReadOnly).
  bool SetDosAttributes(std::uint32_t attributes);
  // Closes; false when the system reports that the data could not be stored.
  bool Close();

  // The result of an open: the descriptor, or the reason there is none.
  static File Opened(NativeFile fd, int error);

 private:
  NativeFile fd_ = kNoFile;
  int error_ = 0;
};

// Renames `from` to `to`, replacing `to` in one step; 0 or the error code.
int Rename(const std::string& from, const std::string& to);
// Removes a file; 0 or the error code.
int Remove(const std::string& path);
// Makes a rename or creation in the folder holding `path` durable. Best effort: some file
// systems cannot sync a folder, and by then the file itself is complete and in place.
void SyncFolderOf(const std::string& path);
// The error code that a copy to another file system is needed (Rename cannot cross them).
bool IsCrossDeviceError(int error);
// The error code for "not a regular file".
int NotRegularFileError();

// True when Windows stores a file of this one-component name under exactly this name: false for
// a name that Win32 rewrites (a trailing dot or blank is dropped, so "a." would replace "a"),
// one with ':' (an alternate data stream of another file), and the DOS device names (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9 in any case, also with an extension: "nul.xml" is the device).
bool WindowsKeepsName(std::string_view name);

// A folder opened for extraction. The way to it is followed like any path (the user chose it,
// links and all), but the folder itself and every subfolder opened from it are opened without
// following symbolic links, so a link planted in it cannot send the extracted files elsewhere;
// files are created in it the same way.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens `path` (from the root, or from the working folder when relative), creating missing
  // components when `create` is set. Links are followed up to its last component, not in it.
  static Folder Open(const std::string& path, bool create);
  // A subfolder by one plain name ("a", never "a/b").
  Folder Sub(const std::string& name, bool create) const;
  // The folder `relative` ("a/b/", components separated by '/') below this one, component by
  // component; this folder again when `relative` names none.
  Folder Descend(const std::string& relative, bool create) const;

  bool IsOpen() const { return fd_ != kNoFile || current_; }
  int Error() const { return error_; }

  // True when anything (file, folder, link) of that name is there.
  bool Holds(const std::string& name) const;
  // The last-write time of the file of that name (links not followed).
  std::optional<std::time_t> ModifiedTime(const std::string& name) const;
  // Creates or empties the file `name` for writing; a link of that name is not followed, and
  // anything but a regular file of that name (a named pipe, a device) is refused at once.
  File CreateFile(const std::string& name) const;
  // Gives the owner write permission on `name` again (to replace a read-only file).
  bool MakeWritable(const std::string& name) const;
  bool RemoveFile(const std::string& name) const;

 private:
  NativeFile Base() const;
  // Another handle on this same folder (the working folder stays the working folder).
  Folder Copy() const;
  Folder Walk(const std::string& relative, bool create, bool followLinks) const;
  Folder Enter(const std::string& name, bool create, bool followLinks) const;

  NativeFile fd_ = kNoFile;
  bool current_ = false;  // the working folder itself (an empty relative path)
  int error_ = 0;
#ifdef _WIN32
  // Windows opens by name only: the folder's full name ('\' separators), under which its open
  // handle keeps it from being renamed, removed or replaced by a link while it is in use.
  std::wstring path_;
#endif
};

}  // namespace archive::fileio
