#pragma once
// TZipHeaderInfo: the in-memory record of one archive entry, shared by the archive reader (which
// fills it from a central header) and the writer (which fills it from a source file and writes
// its local and central headers with LocalHeaderBytes / CentralHeaderBytes below).
//
// Names: the entry name is kept in two parts, the directory part and the file part. Inside the
// program the separator is the platform's '/', and the directory part always ends with '/' when
// it is not empty (a missing one is added when it is set). Names are held in the program's text
// (UTF-8); StoredName() gives the bytes that go into the archive, converted to the OEM code page
// (GBK) by the entry's name code-page mode, and SetNameFromArchive() does the reverse. A name
// taken from an archive is given back exactly as it was stored until the name is set again, so
// that an entry copied into a new archive keeps its name whatever its code page.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace archive {

// How entry names are converted between the program's text and the archive's OEM code page.
enum class TOEMConvert : std::uint8_t { oemAlways, oemNever, oemFlexible };

// The values of a Zip64 extended information block, created on first need.
struct TZip64Values {
  std::uint16_t tag = 1;
  std::uint16_t dataSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t localHeaderOffset = 0;
  std::uint32_t diskNumberStart = 0;
};

class TZipHeaderInfo {
 public:
  explicit TZipHeaderInfo(TOEMConvert mode = TOEMConvert::oemAlways) : oemConvert(mode) {}

  // Fields in the order of the central header (defaults of a fresh record).
  std::uint16_t versionMadeBy = 45;
  std::uint16_t versionNeeded = 20;
  std::uint16_t flags = 0;
  std::uint16_t compressionMethod = 8;
  std::uint32_t dosDateTime = 0;  // time in the low half, date in the high half
  // The date-time as an archive stores it, before the reader normalises it into dosDateTime:
  // the password check byte of an encrypted entry with a data descriptor is taken from it.
  std::uint32_t storedDosDateTime = 0;
  std::uint32_t crc32 = 0xFFFFFFFF;
  std::uint32_t compressedSize = 0;    // 0xFFFFFFFF: the value is in zip64
  std::uint32_t uncompressedSize = 0;  // 0xFFFFFFFF: the value is in zip64
  std::uint16_t centralExtraLength = 0;
  std::uint16_t localExtraLength = 0;
  std::uint16_t commentLength = 0;
  std::uint16_t diskNumberStart = 0;  // 0xFFFF: the value is in zip64
  std::uint16_t internalAttributes = 1;
  std::uint32_t externalAttributes = 0x20;
  std::uint32_t localHeaderOffset = 0;  // 0xFFFFFFFF: the value is in zip64
  std::uint64_t centralHeaderPosition = 0;  // where the central header was read
  bool fromCentralRecord = false;  // false: rebuilt from a local header alone, no central data

  std::optional<TZip64Values> zip64;
  std::optional<std::string> comment;
  // The local header carries a Zip64 block with both sizes even when they fit: the writer sets
  // it when an entry may reach 4 GiB compressed, because the header is written before the
  // compressed size is known and cannot grow afterwards.
  bool reserveLocalZip64 = false;
  // Why the reader will not decode this entry (its local header disagrees with its central
  // record, or its data overlaps another entry's); empty when nothing is known against it.
  std::string damage;

  // Reader and updater marks.
  std::uint8_t selected = 0;
  std::uint8_t toExtract = 0;
  std::uint8_t state = 0;

  TOEMConvert oemConvert;

  // Where the central extra field was found in a source archive, and how many of its bytes were
  // the Zip64 block (tag and length included); the writer uses them to copy old extra blocks.
  std::uint64_t extraFieldPosition = 0;
  std::uint16_t extraFieldLength = 0;
  std::uint16_t zip64BlockLength = 0;

  // --- name ---
  const std::string& FileName() const { return fileName_; }
  const std::string& Directory() const { return directory_; }
  void SetFileName(const std::string& name);
  // Adds the trailing '/' when missing (an empty directory stays empty).
  void SetDirectory(const std::string& directory);
  // Directory part followed by file part.
  std::string FullName() const { return directory_ + fileName_; }
  // Byte length of directory part plus file part, as held in the program.
  std::uint16_t NameLength() const { return nameLength_; }
  bool IsDirectory() const { return fileName_.empty(); }

  // The name as stored in the archive: '/' separators, converted by the name code-page mode; or
  // the bytes given to SetNameFromArchive, unchanged, while the name has not been set since.
  std::string StoredName() const;
  // Takes a name as stored in a central or local header: converted from the OEM code page when
  // the mode asks for it (always: when the host byte of versionMadeBy is 0; flexible: unless the
  // host is NTFS; never when the entry says its name is UTF-8), '\' taken as '/', then split
  // after its last separator. versionMadeBy and flags must be set first. A `unicodeName` (UTF-8,
  // from an Info-ZIP Unicode Path extra block that belongs to these stored bytes) is taken as
  // the name instead of converting them.
  void SetNameFromArchive(const std::string& stored, const std::string* unicodeName = nullptr);

  // --- 64-bit values: read the Zip64 value when the field holds its all-ones marker ---
  std::uint64_t CompressedSize64() const;
  std::uint64_t UncompressedSize64() const;
  std::uint64_t LocalHeaderOffset64() const;
  std::uint32_t DiskNumberStart32() const;
  // Store the value in the field, or in the Zip64 values (field := marker) when it does not fit.
  void SetCompressedSize64(std::uint64_t value);
  void SetUncompressedSize64(std::uint64_t value);
  void SetLocalHeaderOffset64(std::uint64_t value);
  void SetDiskNumberStart32(std::uint32_t value);

  bool IsEncrypted() const { return (flags & 0x0001) != 0; }

  // --- serialising (used by the writer) ---
  // Bytes of the Zip64 block's data for the local header: uncompressed and compressed size
  // whenever the uncompressed size is saturated (the compressed size alone when only it is),
  // then the offset and the disk number when saturated. 0 when no block is needed.
  std::uint16_t LocalZip64DataLength() const;
  // The same for the central header: every value whose field is saturated.
  std::uint16_t CentralZip64DataLength() const;
  // The complete local header: fixed part, stored name, the local extra field (`localExtra`, of
  // localExtraLength bytes, e.g. an old entry's copied extra field) and the Zip64 block if needed.
  // Version needed is 45 with a Zip64 block, else 20. The name length field is the byte length of
  // StoredName().
  std::vector<std::uint8_t> LocalHeaderBytes(const std::vector<std::uint8_t>& localExtra = {}) const;
  // The complete central header: fixed part, stored name, `oldExtraBlocks` (extra blocks copied
  // from a source archive, without their Zip64 block), the Zip64 block if needed, the comment.
  // Drops the Zip64 values when no block is needed (hence non-const).
  std::vector<std::uint8_t> CentralHeaderBytes(const std::vector<std::uint8_t>& oldExtraBlocks = {});

 private:
  void WriteZip64Block(std::vector<std::uint8_t>& out, bool local) const;
  TZip64Values& Zip64();

  std::string fileName_;
  std::string directory_;
  std::optional<std::string> archiveName_;  // the bytes the name was read from
  std::uint16_t nameLength_ = 0;
};

}  // namespace archive
