#pragma once
// File-system services in the form the rest of the program expects: attribute bits with their
// Windows values, recursive deletion that reports instead of raising, the executable's directory,
// names compared as the file system compares them, and the steps of a safe file replacement.
// Every path is UTF-8 text; on Windows it reaches the file system through the wide-character
// interface, so names that the ANSI code page cannot spell still work.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// Attribute bits. On Windows they are the file system's own. Elsewhere read-only means "no
// owner write permission", hidden means "name starts with '.'", system is never set, and every
// regular file carries the archive bit.
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrSystem = 0x04;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;

// The attributes of a file or directory as the platform reports them; nullopt when it does not
// exist.
std::optional<std::uint32_t> GetFileAttributes(const std::string& path);

// Applies stored attributes. On Windows the read-only, hidden, system and archive bits are set
// or cleared as given; elsewhere only the read-only bit has an effect (it sets or clears the
// owner's write permission). Returns false when the file does not exist or cannot be changed.
bool SetFileAttributes(const std::string& path, std::uint32_t attributes);

// Deletes a file or a directory with everything below it, read-only files included. Never
// raises; false when the path does not exist or something could not be removed.
bool RemoveTree(const std::string& path);

// Opens a file as std::fopen does, by its UTF-8 path; nullptr when it cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The directory of the running executable, ending in the path separator.
std::string ExecutableDirectory();

// True when the two names (or two paths spelled alike) name the same entry for the platform's
// file system: letter case is ignored on Windows, as NTFS and FAT do; elsewhere the bytes must be
// equal.
bool SameFileName(std::string_view a, std::string_view b);

// Puts `from` in place of `to` in one step, so that `to` is always either the old file or the
// complete new one; both must be on the same volume. On Windows the move is written through to
// the disk before it returns. Empty on success.
std::error_code ReplaceFileAtomically(const std::string& from, const std::string& to);

// Writes a file's data through to the disk. Empty on success.
std::error_code FlushFileToDisk(const std::string& path);

// Writes a directory's entries (files created or renamed in it) through to the disk. Windows has
// no such step (its file systems log their directory changes themselves): it succeeds there.
std::error_code FlushDirectoryToDisk(const std::string& path);

// A std::filesystem path from UTF-8 text, and back. A path built from a plain std::string is in
// the ANSI code page on Windows, which cannot spell every name; these keep every character.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// The platform's path separator.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

}  // namespace platform
