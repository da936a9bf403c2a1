#pragma once
// TEndCentral: the archive's end of central directory record as read or to be written, with the
// Zip64 end record and locator when a count, size or offset does not fit. Shared by the archive
// reader (Parse*) and writer (setters and Bytes()).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace archive {

struct TZip64EndCentral {
  std::uint64_t recordSize = 44;  // bytes after the signature and this field
  std::uint16_t versionMadeBy = 45;
  std::uint16_t versionNeeded = 45;
  std::uint32_t thisDisk = 0;
  std::uint32_t centralStartDisk = 0;
  std::uint64_t entriesThisDisk = 0;
  std::uint64_t totalEntries = 0;
  std::uint64_t centralSize = 0;
  std::uint64_t centralOffset = 0;
};

struct TZip64Locator {
  std::uint32_t zip64Disk = 0;
  std::uint64_t zip64Offset = 0;
  std::uint32_t totalDisks = 1;
};

class TEndCentral {
 public:
  // The fields of the end record as read or to be written.
  std::uint16_t thisDisk = 0;
  std::uint16_t centralStartDisk = 0;
  std::uint16_t entriesThisDisk = 0;
  std::uint16_t totalEntries = 0;
  std::uint32_t centralSize = 0;
  std::uint32_t centralOffset = 0;
  std::uint16_t commentLength = 0;

  std::uint64_t commentPosition = 0;   // absolute file position of the comment
  std::optional<std::string> comment;  // loaded on demand

  std::optional<TZip64EndCentral> zip64End;
  std::optional<TZip64Locator> zip64Locator;

  // Values through the Zip64 end record when the field holds its all-ones marker and that record
  // was found; the stored field otherwise.
  std::uint32_t ThisDisk32() const;
  std::uint32_t CentralStartDisk32() const;
  std::uint64_t EntriesThisDisk64() const;
  std::uint64_t TotalEntries64() const;
  std::uint64_t CentralSize64() const;
  std::uint64_t CentralOffset64() const;

  // Setters for the writer: a value that does not fit puts the marker in the field and creates
  // the Zip64 end record.
  void SetThisDisk32(std::uint32_t v);
  void SetCentralStartDisk32(std::uint32_t v);
  void SetEntriesThisDisk64(std::uint64_t v);
  void SetTotalEntries64(std::uint64_t v);
  void SetCentralSize64(std::uint64_t v);
  void SetCentralOffset64(std::uint64_t v);
  void SetComment(const std::string& text);

  // Parses the 22-byte end record (from its signature); false when fewer bytes are given or the
  // signature differs. The comment is not read.
  bool ParseRecord(const std::uint8_t* data, std::size_t size);
  // Parses the 20-byte locator and the 56-byte Zip64 end record; nullopt when the signature
  // differs or fewer bytes are given.
  static std::optional<TZip64Locator> ParseLocator(const std::uint8_t* data, std::size_t size);
  static std::optional<TZip64EndCentral> ParseZip64End(const std::uint8_t* data, std::size_t size);

  // What the writer writes at `position` (where the central directory ended): the Zip64 end
  // record and locator when a Zip64 end record exists, filled with every value, then the end
  // record and the comment.
  std::vector<std::uint8_t> Bytes(std::uint64_t position);

 private:
  TZip64EndCentral& Zip64();
};

}  // namespace archive
