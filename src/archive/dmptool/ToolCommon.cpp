#include "ToolCommon.h"

#include <cstdint>
#include <iostream>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/FileIo.h"

namespace dmptool {

std::string OutcomeText(const archive::TEntryResult& result) {
  switch (result.outcome) {
    case archive::TEntryOutcome::Extracted: return "ok";
    case archive::TEntryOutcome::BadPassword: return "wrong password";
    case archive::TEntryOutcome::BadCrc: return "CRC mismatch (damaged data)";
    case archive::TEntryOutcome::NoOverwrite: return "not written: the file exists (use --overwrite)";
    case archive::TEntryOutcome::CreateError: return "the file could not be created: " + result.reason;
    case archive::TEntryOutcome::UnknownMethod: return "unknown compression method";
    case archive::TEntryOutcome::Damaged: return "damaged: " + result.reason;
    case archive::TEntryOutcome::Unsupported: return result.reason;
  }
  return "failed";
}

bool OpenDirectory(archive::ArchiveReader& reader, const std::string& path) {
  const archive::fileio::FileStatus status = archive::fileio::StatusOf(path);
  const std::uint64_t size = status.size;
  if (!status.isRegular) {
    std::cerr << "dmptool: " << archive::PrintableName(path) << ": no such archive file\n";
    return false;
  }
  reader.SetZipName(path);
  reader.ReadDirectory();
  if (reader.EndCentral() == nullptr && size > 0) {
    std::cerr << "dmptool: " << archive::PrintableName(path)
              << ": not a ZIP archive (no end of central directory record found)\n";
    return false;
  }
  return true;
}

}  // namespace dmptool
