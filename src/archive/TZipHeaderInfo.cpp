#include "archive/TZipHeaderInfo.h"

#include "archive/ByteBuffer.h"
#include "archive/ZipFormat.h"
#include "platform/CodePage.h"

namespace archive {

using namespace zip;

void TZipHeaderInfo::SetFileName(const std::string& name) {
  fileName_ = name;
  archiveName_.reset();
  nameLength_ = static_cast<std::uint16_t>(directory_.size() + fileName_.size());
}

void TZipHeaderInfo::SetDirectory(const std::string& directory) {
  directory_ = directory;
  archiveName_.reset();
  if (!directory_.empty() && directory_.back() != '/') directory_ += '/';
  nameLength_ = static_cast<std::uint16_t>(directory_.size() + fileName_.size());
}

std::string TZipHeaderInfo::StoredName() const {
  if (archiveName_) return *archiveName_;
  std::string name = FullName();
  for (char& c : name)
    if (c == '\\') c = '/';
  if (oemConvert == TOEMConvert::oemNever) return name;
  return platform::Utf8ToGbk(name);
}

void TZipHeaderInfo::SetNameFromArchive(const std::string& stored, const std::string* unicodeName) {
  const std::uint8_t host = static_cast<std::uint8_t>(versionMadeBy >> 8);
  bool convert = false;
  if ((flags & kFlagUtf8) == 0 && unicodeName == nullptr) {
    if (oemConvert == TOEMConvert::oemAlways) convert = host == kHostMsDos;
    if (oemConvert == TOEMConvert::oemFlexible) convert = host != kHostNtfs;
  }
  std::string name = unicodeName ? *unicodeName : convert ? platform::GbkToUtf8(stored) : stored;
  for (char& c : name)
    if (c == '\\') c = '/';
  const std::size_t cut = name.rfind('/');
  if (cut == std::string::npos) {
    directory_.clear();
    fileName_ = name;
  } else {
    directory_ = name.substr(0, cut + 1);
    fileName_ = name.substr(cut + 1);
  }
  nameLength_ = static_cast<std::uint16_t>(directory_.size() + fileName_.size());
  archiveName_ = stored;
}

TZip64Values& TZipHeaderInfo::Zip64() {
  if (!zip64) zip64.emplace();
  return *zip64;
}

std::uint64_t TZipHeaderInfo::CompressedSize64() const {
  return compressedSize == kMarker32 && zip64 ? zip64->compressedSize : compressedSize;
}
std::uint64_t TZipHeaderInfo::UncompressedSize64() const {
  return uncompressedSize == kMarker32 && zip64 ? zip64->uncompressedSize : uncompressedSize;
}
std::uint64_t TZipHeaderInfo::LocalHeaderOffset64() const {
  return localHeaderOffset == kMarker32 && zip64 ? zip64->localHeaderOffset : localHeaderOffset;
}
std::uint32_t TZipHeaderInfo::DiskNumberStart32() const {
  return diskNumberStart == kMarker16 && zip64 ? zip64->diskNumberStart : diskNumberStart;
}

void TZipHeaderInfo::SetCompressedSize64(std::uint64_t value) {
  if (Fits32(value)) {
    compressedSize = static_cast<std::uint32_t>(value);
  } else {
    Zip64().compressedSize = value;
    compressedSize = kMarker32;
  }
}
void TZipHeaderInfo::SetUncompressedSize64(std::uint64_t value) {
  if (Fits32(value)) {
    uncompressedSize = static_cast<std::uint32_t>(value);
  } else {
    Zip64().uncompressedSize = value;
    uncompressedSize = kMarker32;
  }
}
void TZipHeaderInfo::SetLocalHeaderOffset64(std::uint64_t value) {
  if (Fits32(value)) {
    localHeaderOffset = static_cast<std::uint32_t>(value);
  } else {
    Zip64().localHeaderOffset = value;
    localHeaderOffset = kMarker32;
  }
}
void TZipHeaderInfo::SetDiskNumberStart32(std::uint32_t value) {
  if (Fits16(value)) {
    diskNumberStart = static_cast<std::uint16_t>(value);
  } else {
    Zip64().diskNumberStart = value;
    diskNumberStart = kMarker16;
  }
}

std::uint16_t TZipHeaderInfo::LocalZip64DataLength() const {
  std::uint16_t n = 0;
  if (uncompressedSize == kMarker32 || reserveLocalZip64) n += 16;  // both sizes
  else if (compressedSize == kMarker32) n += 8;
  if (localHeaderOffset == kMarker32) n += 8;
  if (diskNumberStart == kMarker16) n += 4;
  return n;
}

std::uint16_t TZipHeaderInfo::CentralZip64DataLength() const {
  std::uint16_t n = 0;
  if (uncompressedSize == kMarker32) n += 8;
  if (compressedSize == kMarker32) n += 8;
  if (localHeaderOffset == kMarker32) n += 8;
  if (diskNumberStart == kMarker16) n += 4;
  return n;
}

void TZipHeaderInfo::WriteZip64Block(std::vector<std::uint8_t>& out, bool local) const {
  const std::uint16_t length = local ? LocalZip64DataLength() : CentralZip64DataLength();
  if (length == 0) return;
  const TZip64Values z = zip64.value_or(TZip64Values{});
  ByteWriter w(out);
  w.U16(kZip64ExtraTag);
  w.U16(length);
  if (local) {
    if (uncompressedSize == kMarker32 || reserveLocalZip64) {
      w.U64(UncompressedSize64());
      w.U64(CompressedSize64());
    } else if (compressedSize == kMarker32) {
      w.U64(CompressedSize64());
    }
  } else {
    if (uncompressedSize == kMarker32) w.U64(z.uncompressedSize);
    if (compressedSize == kMarker32) w.U64(z.compressedSize);
  }
  if (localHeaderOffset == kMarker32) w.U64(z.localHeaderOffset);
  if (diskNumberStart == kMarker16) w.U32(z.diskNumberStart);
}

std::vector<std::uint8_t> TZipHeaderInfo::LocalHeaderBytes(const std::vector<std::uint8_t>& localExtra) const {
  const std::string name = StoredName();
  const std::uint16_t z64 = LocalZip64DataLength();
  const std::uint16_t extra = static_cast<std::uint16_t>(localExtra.size() + (z64 ? kExtraBlockHeaderSize + z64 : 0));
  std::vector<std::uint8_t> out;
  out.reserve(kLocalHeaderSize + name.size() + extra);
  ByteWriter w(out);
  w.U32(kLocalHeaderSig);
  w.U16(z64 ? kVersionZip64 : kVersionDefault);
  w.U16(flags);
  w.U16(compressionMethod);
  w.U32(dosDateTime);
  w.U32(crc32);
  // With a Zip64 block holding the uncompressed size, both sizes live there.
  const bool sizesInZip64 = uncompressedSize == kMarker32 || reserveLocalZip64;
  w.U32(sizesInZip64 ? kMarker32 : compressedSize);
  w.U32(sizesInZip64 ? kMarker32 : uncompressedSize);
  w.U16(static_cast<std::uint16_t>(name.size()));
  w.U16(extra);
  w.String(name);
  w.Bytes(localExtra.data(), localExtra.size());
  WriteZip64Block(out, true);
  return out;
}

std::vector<std::uint8_t> TZipHeaderInfo::CentralHeaderBytes(const std::vector<std::uint8_t>& oldExtraBlocks) {
  const std::string name = StoredName();
  const std::uint16_t z64 = CentralZip64DataLength();
  const std::uint16_t extra = static_cast<std::uint16_t>(oldExtraBlocks.size() + (z64 ? kExtraBlockHeaderSize + z64 : 0));
  const std::string text = comment.value_or(std::string());
  std::vector<std::uint8_t> out;
  out.reserve(kCentralHeaderSize + name.size() + extra + text.size());
  ByteWriter w(out);
  w.U32(kCentralHeaderSig);
  w.U16(versionMadeBy);
  w.U16(z64 ? kVersionZip64 : kVersionDefault);
  w.U16(flags);
  w.U16(compressionMethod);
  w.U32(dosDateTime);
  w.U32(crc32);
  w.U32(compressedSize);
  w.U32(uncompressedSize);
  w.U16(static_cast<std::uint16_t>(name.size()));
  w.U16(extra);
  w.U16(static_cast<std::uint16_t>(text.size()));
  w.U16(diskNumberStart);
  w.U16(internalAttributes);
  w.U32(externalAttributes);
  w.U32(localHeaderOffset);
  w.String(name);
  if (z64 == 0) zip64.reset();
  w.Bytes(oldExtraBlocks.data(), oldExtraBlocks.size());
  WriteZip64Block(out, false);
  w.String(text);
  return out;
}

}  // namespace archive
