#pragma once
// What dmptool's commands share: the exit codes and the opening of an archive's directory.

#include <string>

namespace archive {
class ArchiveReader;
struct TEntryResult;
}  // namespace archive

namespace dmptool {

constexpr int kExitOk = 0;
constexpr int kExitUnsound = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;

// What became of one entry, in words.
std::string OutcomeText(const archive::TEntryResult& result);

// Reads the archive's directory; false (with a message) when it is missing or no ZIP archive.
bool OpenDirectory(archive::ArchiveReader& reader, const std::string& path);

}  // namespace dmptool
