#pragma once
// File-system services in the form the rest of the program expects: attribute bits with their
// Windows values, recursive deletion that reports instead of raising, the executable's directory.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Attribute bits. Here read-only means "no owner write permission", hidden means "name starts
// with '.'", system is never set, and every regular file carries the archive bit.
constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrSystem = 0x04;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;

// The attributes of a file or directory; nullopt when it does not exist.
std::optional<std::uint32_t> GetFileAttributes(const std::string& path);

// Applies stored attributes: only the read-only bit has an effect (it sets or clears the owner's
// write permission). Returns false when the file does not exist or cannot be changed.
bool SetFileAttributes(const std::string& path, std::uint32_t attributes);

// Deletes a file or a directory with everything below it. Never raises; false when the path does
// not exist or something could not be removed.
bool RemoveTree(const std::string& path);

// The directory of the running executable, ending in '/'.
std::string ExecutableDirectory();

// The platform's path separator.
constexpr char kPathSeparator = '/';

}  // namespace platform
