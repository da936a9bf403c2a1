#include "archive/TEndCentral.h"

#include "archive/ByteBuffer.h"
#include "archive/ZipFormat.h"

namespace archive {

using namespace zip;

TZip64EndCentral& TEndCentral::Zip64() {
  if (!zip64End) zip64End.emplace();
  return *zip64End;
}

std::uint32_t TEndCentral::ThisDisk32() const {
  return thisDisk == kMarker16 && zip64End ? zip64End->thisDisk : thisDisk;
}
std::uint32_t TEndCentral::CentralStartDisk32() const {
  return centralStartDisk == kMarker16 && zip64End ? zip64End->centralStartDisk : centralStartDisk;
}
std::uint64_t TEndCentral::EntriesThisDisk64() const {
  return entriesThisDisk == kMarker16 && zip64End ? zip64End->entriesThisDisk : entriesThisDisk;
}
std::uint64_t TEndCentral::TotalEntries64() const {
  return totalEntries == kMarker16 && zip64End ? zip64End->totalEntries : totalEntries;
}
std::uint64_t TEndCentral::CentralSize64() const {
  return centralSize == kMarker32 && zip64End ? zip64End->centralSize : centralSize;
}
std::uint64_t TEndCentral::CentralOffset64() const {
  return centralOffset == kMarker32 && zip64End ? zip64End->centralOffset : centralOffset;
}

void TEndCentral::SetThisDisk32(std::uint32_t v) {
  if (Fits16(v)) {
    thisDisk = static_cast<std::uint16_t>(v);
  } else {
    thisDisk = kMarker16;
    Zip64().thisDisk = v;
  }
}
void TEndCentral::SetCentralStartDisk32(std::uint32_t v) {
  if (Fits16(v)) {
    centralStartDisk = static_cast<std::uint16_t>(v);
  } else {
    centralStartDisk = kMarker16;
    Zip64().centralStartDisk = v;
  }
}
void TEndCentral::SetEntriesThisDisk64(std::uint64_t v) {
  if (v <= kMaxEntries16) {
    entriesThisDisk = static_cast<std::uint16_t>(v);
  } else {
    entriesThisDisk = kMarker16;
    Zip64().entriesThisDisk = v;
  }
}
void TEndCentral::SetTotalEntries64(std::uint64_t v) {
  if (v <= kMaxEntries16) {
    totalEntries = static_cast<std::uint16_t>(v);
  } else {
    totalEntries = kMarker16;
    Zip64().totalEntries = v;
  }
}
void TEndCentral::SetCentralSize64(std::uint64_t v) {
  if (Fits32(v)) {
    centralSize = static_cast<std::uint32_t>(v);
  } else {
    centralSize = kMarker32;
    Zip64().centralSize = v;
  }
}
void TEndCentral::SetCentralOffset64(std::uint64_t v) {
  if (Fits32(v)) {
    centralOffset = static_cast<std::uint32_t>(v);
  } else {
    centralOffset = kMarker32;
    Zip64().centralOffset = v;
  }
}
void TEndCentral::SetComment(const std::string& text) {
  comment = text.substr(0, kMaxCommentLength);
  commentLength = static_cast<std::uint16_t>(comment->size());
}

bool TEndCentral::ParseRecord(const std::uint8_t* data, std::size_t size) {
  ByteReader r(data, size);
  if (r.U32() != kEndCentralSig) return false;
  const std::uint16_t disk = r.U16();
  const std::uint16_t startDisk = r.U16();
  const std::uint16_t onDisk = r.U16();
  const std::uint16_t total = r.U16();
  const std::uint32_t cdSize = r.U32();
  const std::uint32_t cdOffset = r.U32();
  const std::uint16_t commentLen = r.U16();
  if (!r.ok()) return false;
  thisDisk = disk;
  centralStartDisk = startDisk;
  entriesThisDisk = onDisk;
  totalEntries = total;
  centralSize = cdSize;
  centralOffset = cdOffset;
  commentLength = commentLen;
  return true;
}

std::optional<TZip64Locator> TEndCentral::ParseLocator(const std::uint8_t* data, std::size_t size) {
  ByteReader r(data, size);
  if (r.U32() != kZip64LocatorSig) return std::nullopt;
  TZip64Locator l;
  l.zip64Disk = r.U32();
  l.zip64Offset = r.U64();
  l.totalDisks = r.U32();
  if (!r.ok()) return std::nullopt;
  return l;
}

std::optional<TZip64EndCentral> TEndCentral::ParseZip64End(const std::uint8_t* data, std::size_t size) {
  ByteReader r(data, size);
  if (r.U32() != kZip64EndCentralSig) return std::nullopt;
  TZip64EndCentral z;
  z.recordSize = r.U64();
  z.versionMadeBy = r.U16();
  z.versionNeeded = r.U16();
  z.thisDisk = r.U32();
  z.centralStartDisk = r.U32();
  z.entriesThisDisk = r.U64();
  z.totalEntries = r.U64();
  z.centralSize = r.U64();
  z.centralOffset = r.U64();
  if (!r.ok()) return std::nullopt;
  return z;
}

std::vector<std::uint8_t> TEndCentral::Bytes(std::uint64_t position) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out);
  if (zip64End) {
    TZip64EndCentral& z = *zip64End;
    z.thisDisk = ThisDisk32();
    z.centralStartDisk = CentralStartDisk32();
    z.entriesThisDisk = EntriesThisDisk64();
    z.totalEntries = TotalEntries64();
    z.centralSize = CentralSize64();
    z.centralOffset = CentralOffset64();
    zip64Locator = TZip64Locator{z.thisDisk, position, z.thisDisk + 1};
    w.U32(kZip64EndCentralSig);
    w.U64(kZip64EndCentralRest);
    w.U16(kVersionZip64);
    w.U16(kVersionZip64);
    w.U32(z.thisDisk);
    w.U32(z.centralStartDisk);
    w.U64(z.entriesThisDisk);
    w.U64(z.totalEntries);
    w.U64(z.centralSize);
    w.U64(z.centralOffset);
    w.U32(kZip64LocatorSig);
    w.U32(zip64Locator->zip64Disk);
    w.U64(zip64Locator->zip64Offset);
    w.U32(zip64Locator->totalDisks);
  }
  const std::string text = comment.value_or(std::string());
  w.U32(kEndCentralSig);
  w.U16(thisDisk);
  w.U16(centralStartDisk);
  w.U16(entriesThisDisk);
  w.U16(totalEntries);
  w.U32(centralSize);
  w.U32(centralOffset);
  w.U16(static_cast<std::uint16_t>(text.size()));
  w.String(text);
  return out;
}

}  // namespace archive
