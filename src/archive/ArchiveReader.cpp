#include "archive/ArchiveReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "archive/ArchiveErrors.h"
#include "archive/ByteBuffer.h"
#include "archive/Crc32.h"
#include "archive/DosDateTime.h"
#include "archive/FileIo.h"
#include "archive/ReadAhead.h"
#include "archive/ZipCrypto.h"
#include "archive/ZipFormat.h"
#include "archive/ZipInput.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"

namespace archive {

using namespace zip;

namespace {

constexpr std::size_t kChunk = 32768;          // compressed data moves in chunks of this size
constexpr std::size_t kWorkBuffer = 32769;     // the output work buffer of a pass
constexpr std::size_t kRebuildStep = 10240;    // events are handled this often in a rebuild scan
constexpr std::uint64_t kExeSkip = 14000;      // self-extracting archives: the stub is skipped
// The DOS attribute bits of a file entry that extraction gives back to the file.
constexpr std::uint32_t kDosFileAttributes =
    platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem | platform::kAttrArchive;

// Sets a flag for its lifetime and restores the previous value on every way out.
class FlagGuard {
 public:
  FlagGuard(bool& flag, bool value) : flag_(flag), previous_(flag) { flag_ = value; }
  ~FlagGuard() { flag_ = previous_; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && EqualNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::uint16_t Load16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::string Number(std::uint64_t n) { return std::to_string(n); }

// Calls `visit(tag, data, length)` for each block of an extra field (2-byte tag, 2-byte length,
// data); a block whose length runs past the field ends it.
template <typename Visit>
void ForEachExtraBlock(const std::uint8_t* data, std::size_t size, Visit visit) {
  ByteReader r(data, size);
  while (r.remaining() >= kExtraBlockHeaderSize) {
    const std::uint16_t tag = r.U16();
    const std::uint16_t length = r.U16();
    const std::uint8_t* block = r.Bytes(length);
    if (block == nullptr) return;
    if (!visit(tag, block, length)) return;
  }
}

// Takes the Zip64 values of an extra field: a block with tag 1 gives, in order, the uncompressed
// size, the compressed size, the local header offset and the disk number, each only when its
// header field holds the all-ones marker. Other blocks are skipped by their length.
void ParseZip64Extra(TZipHeaderInfo& entry, const std::uint8_t* data, std::size_t size) {
  ForEachExtraBlock(data, size, [&](std::uint16_t tag, const std::uint8_t* block, std::uint16_t length) {
    if (tag != kZip64ExtraTag) return true;
    ByteReader z(block, length);
    TZip64Values values;
    values.dataSize = length;
    if (entry.uncompressedSize == kMarker32) values.uncompressedSize = z.U64();
    if (entry.compressedSize == kMarker32) values.compressedSize = z.U64();
    if (entry.localHeaderOffset == kMarker32) values.localHeaderOffset = z.U64();
    if (entry.diskNumberStart == kMarker16) values.diskNumberStart = z.U32();
    entry.zip64 = values;
    entry.zip64BlockLength = static_cast<std::uint16_t>(length + kExtraBlockHeaderSize);
    return false;
  });
}

// The UTF-8 name of an Info-ZIP Unicode Path block (tag 0x7075: version 1, the CRC-32 of the name
// as the header stores it, then the name), when the block belongs to the `stored` name: a tool
// that renamed the entry without knowing the block left it with the old name's CRC, and such a
// block is ignored.
std::optional<std::string> UnicodePathName(const std::vector<std::uint8_t>& extra, const std::string& stored) {
  std::optional<std::string> name;
  ForEachExtraBlock(extra.data(), extra.size(), [&](std::uint16_t tag, const std::uint8_t* block, std::uint16_t length) {
    if (tag != kUnicodePathTag) return true;
    ByteReader u(block, length);
    const std::uint8_t version = u.U8();
    const std::uint32_t crc = u.U32();
    if (u.ok() && version == 1 && crc == Crc32Of(stored.data(), stored.size()) && u.remaining() > 0)
      name = u.String(u.remaining());
    return false;
  });
  return name;
}

// A path component that cannot leave the directory it is joined to. On Windows that includes
// being stored under its own name: not rewritten onto another file, not a device.
bool SafeComponent(const std::string& name) {
#ifdef _WIN32
  if (!fileio::WindowsKeepsName(name)) return false;
#endif
  return !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos &&
         name.find('/') == std::string::npos;
}

// A directory part reduced to plain components ("a/b/"), or nullopt when one of them could leave
// the destination (".." or a NUL byte). Empty and "." components are dropped, so an absolute
// directory part becomes relative.
std::optional<std::string> SafeRelativeDirectory(const std::string& dir) {
  std::string relative;
  std::size_t begin = 0;
  while (begin < dir.size()) {
    std::size_t end = dir.find('/', begin);
    if (end == std::string::npos) end = dir.size();
    const std::string part = dir.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty() || part == ".") continue;
    if (!SafeComponent(part)) return std::nullopt;
    relative += part + "/";
  }
  return relative;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Settings and state

ArchiveReader::ArchiveReader() = default;

ArchiveReader::~ArchiveReader() { CloseArchive(); }

void ArchiveReader::SetZipName(const std::string& name) {
  if (name == zipName_) return;
  bool sameFile = false;
  if (entries_ && EqualNoCase(name, zipName_)) {
    const fileio::FileStatus st = fileio::StatusOf(name);
    sameFile = st.exists && st.device == directoryDevice_ && st.inode == directoryInode_;
  }
  if (!sameFile) {
    CloseArchive();
    entries_.reset();
    endCentral_.reset();
    selectedCount_ = 0;
  }
  zipName_ = name;
}

void ArchiveReader::SetDestDir(const std::string& dir) {
  std::string d = dir;
  // The root keeps its separator: it is all there is of it. Windows takes '/' as well as '\'.
  if (d.size() > 1 && (d.back() == platform::kPathSeparator || d.back() == '/')) d.pop_back();
  destDir_ = d;
}

int ArchiveReader::EntryCount() const { return entries_ ? static_cast<int>(entries_->Count()) : 0; }

int ArchiveReader::FileEntryCount() const {
  int n = 0;
  if (entries_)
    for (std::size_t i = 0; i < entries_->Count(); ++i)
      if (!(*entries_)[i].IsDirectory()) ++n;
  return n;
}

const TZipHeaderInfo& ArchiveReader::Entry(int index) const {
  if (!entries_) throw MakeIndexError(index);
  return entries_->At(index);
}

void ArchiveReader::SelectEntry(int index, bool selected) {
  if (!entries_) throw MakeIndexError(index);
  TZipHeaderInfo& entry = entries_->At(index);
  if ((entry.selected != 0) == selected) return;
  entry.selected = selected ? 1 : 0;
  selectedCount_ += selected ? 1 : -1;
}

void ArchiveReader::CheckEvents() {
  if (DoProcessMessages) platform::PumpEvents();
  if (cancel_) throw EUserCanceled();
}

void ArchiveReader::CloseArchive() {
  if (file_) file_->Close();
  file_.reset();
}

void ArchiveReader::Reset() {
  CloseArchive();
  entries_.reset();
  endCentral_.reset();
  selectedCount_ = 0;
  zipName_.clear();
}

std::string ArchiveReader::ArchiveComment() {
  if (!endCentral_ || endCentral_->commentLength == 0) return {};
  if (!endCentral_->comment) {
    ZipInput in;
    in.Open(zipName_);
    std::string text(endCentral_->commentLength, '\0');
    in.Seek(endCentral_->commentPosition);
    text.resize(in.Read(text.data(), text.size()));
    endCentral_->comment = text;
  }
  return *endCentral_->comment;
}

// ---------------------------------------------------------------------------------------------
// Reading the directory

void ArchiveReader::ReadDirectory() {
  ClearCancel();
  FlagGuard busy(busy_, true);
  try {
    OpenArchive();
    if (!KeepZipOpen) CloseArchive();
  } catch (const EIncompleteZip&) {
    CloseArchive();
  } catch (...) {
    Reset();
    throw;
  }
}

void ArchiveReader::OpenArchive() {
  if (!file_ || !file_->IsOpen()) {
    auto file = std::make_shared<ZipInput>();
    file->Open(zipName_);
    file_ = std::move(file);
  }
  // A directory read before is kept while the file is unchanged (the same file, with the same
  // modification time and size); the full time resolution is used so that an archive rewritten
  // within the same two-second step is read again.
  if (entries_ && file_->Device() == directoryDevice_ && file_->Inode() == directoryInode_ &&
      file_->ModificationStamp() == directoryStamp_ && file_->Size() == directorySize_)
    return;
  ReadEndAndDirectory();
  directoryStamp_ = file_->ModificationStamp();
  directorySize_ = file_->Size();
  directoryDevice_ = file_->Device();
  directoryInode_ = file_->Inode();
}

void ArchiveReader::ReadEndAndDirectory() {
  entries_.reset();
  endCentral_.reset();
  selectedCount_ = 0;
  if (file_->Size() == 0) {
    // An empty file is an empty archive.
    entries_ = std::make_shared<TSortedZip>(SortMode);
    endCentral_.emplace();
    return;
  }
  if (!FindEndRecord()) {
    switch (IncompleteZipMode) {
      case TIncompleteZipMode::izAssumeNotAZip: throw ENotAZipFile();
      case TIncompleteZipMode::izAssumeBad:
        if (RebuildFromLocalHeaders()) return;
        throw EBadZipFile();
      case TIncompleteZipMode::izAssumeMulti: break;
    }
    throw EIncompleteZip();
  }
  ReadCentralDirectory();
}

bool ArchiveReader::FindEndRecord() {
  const std::uint64_t size = file_->Size();
  if (size < kEndCentralSize) return false;
  const std::size_t window = static_cast<std::size_t>(std::min<std::uint64_t>(kEndSearchWindow, size));
  std::vector<std::uint8_t> tail(window);
  file_->Seek(size - window);
  if (!file_->ReadExact(tail.data(), window)) return false;
  // Backwards from the last place a whole end record fits; the match nearest the end wins.
  for (std::size_t i = window - kEndCentralSize + 1; i-- > 0;) {
    if (tail[i] != 0x50 || Load32(&tail[i]) != kEndCentralSig) continue;
    TEndCentral end;
    end.ParseRecord(&tail[i], window - i);
    const std::uint64_t position = size - window + i;
    end.commentPosition = position + kEndCentralSize;
    directoryEnd_ = position;
    if (i >= kZip64LocatorSize && Load32(&tail[i - kZip64LocatorSize]) == kZip64LocatorSig) {
      end.zip64Locator = TEndCentral::ParseLocator(&tail[i - kZip64LocatorSize], kZip64LocatorSize);
      if (end.zip64Locator) {
        // Data before the archive moves the Zip64 end record away from the offset its locator
        // gives; the record then stands right before the locator, where this writer puts it.
        const std::uint64_t locator = position - kZip64LocatorSize;
        std::vector<std::uint64_t> places = {end.zip64Locator->zip64Offset};
        if (locator >= kZip64EndCentralSize && locator - kZip64EndCentralSize != places[0])
          places.push_back(locator - kZip64EndCentralSize);
        for (const std::uint64_t at : places) {
          std::uint8_t record[kZip64EndCentralSize];
          file_->Seek(at);
          if (file_->ReadExact(record, sizeof record)) end.zip64End = TEndCentral::ParseZip64End(record, sizeof record);
          if (end.zip64End) {
            directoryEnd_ = at;
            break;
          }
        }
      }
    }
    if (end.ThisDisk32() < end.CentralStartDisk32()) return false;
    endCentral_ = end;
    return true;
  }
  return false;
}

bool ArchiveReader::CentralHeaderAt(std::uint64_t position) {
  std::uint8_t signature[4];
  file_->Seek(position);
  return file_->ReadExact(signature, sizeof signature) && Load32(signature) == kCentralHeaderSig;
}

bool ArchiveReader::ReadCentralRecord(TZipHeaderInfo& entry) {
  const std::uint64_t start = file_->Position();
  std::uint8_t fixed[kCentralHeaderSize];
  if (!file_->ReadExact(fixed, sizeof fixed)) return false;
  ByteReader r(fixed, sizeof fixed);
  if (r.U32() != kCentralHeaderSig) {
    file_->Seek(start);
    return false;
  }
  entry.versionMadeBy = r.U16();
  entry.versionNeeded = r.U16();
  entry.flags = r.U16();
  entry.compressionMethod = r.U16();
  entry.storedDosDateTime = r.U32();
  entry.dosDateTime = DosDateTime::NormaliseDos(entry.storedDosDateTime);
  entry.crc32 = r.U32();
  entry.compressedSize = r.U32();
  entry.uncompressedSize = r.U32();
  const std::uint16_t nameLength = r.U16();
  entry.centralExtraLength = r.U16();
  entry.commentLength = r.U16();
  entry.diskNumberStart = r.U16();
  entry.internalAttributes = r.U16();
  entry.externalAttributes = r.U32();
  entry.localHeaderOffset = r.U32();

  std::string name(nameLength, '\0');
  if (!file_->ReadExact(name.data(), name.size())) {
    file_->Seek(start);
    return false;
  }
  entry.centralHeaderPosition = start;
  entry.fromCentralRecord = true;
  entry.extraFieldPosition = start + kCentralHeaderSize + nameLength;
  entry.extraFieldLength = entry.centralExtraLength;
  entry.zip64.reset();
  entry.zip64BlockLength = 0;
  std::vector<std::uint8_t> extra(entry.centralExtraLength);
  if (!extra.empty()) {
    extra.resize(file_->Read(extra.data(), extra.size()));
    ParseZip64Extra(entry, extra.data(), extra.size());
  }
  const std::optional<std::string> unicodeName = UnicodePathName(extra, name);
  entry.SetNameFromArchive(name, unicodeName ? &*unicodeName : nullptr);
  // The extra field and the comment are skipped; the comment is read only when asked for.
  file_->Seek(entry.extraFieldPosition + entry.centralExtraLength + entry.commentLength);
  return true;
}

void ArchiveReader::ReadCentralDirectory() {
  const TEndCentral& end = *endCentral_;
  // Multi-part archives (an end record on a later disk) are not read.
  if (end.ThisDisk32() != 0) throw EBadZipFile();
  if (end.zip64Locator && !end.zip64End)
    throw MakeDamagedError("the Zip64 end record named by its locator is missing");
  const std::uint64_t total = end.TotalEntries64();
  if (end.EntriesThisDisk64() != total)
    throw MakeDamagedError("the end record counts " + Number(end.EntriesThisDisk64()) +
                           " entries on this disk but " + Number(total) + " in all");
  std::uint64_t start = end.CentralOffset64();
  const std::uint64_t size = end.CentralSize64();
  if (start > file_->Size() || size > file_->Size() - start)
    throw MakeDamagedError("the central directory (offset " + Number(start) + ", " + Number(size) +
                           " bytes) lies beyond the end of the file");
  // Data before the archive (a self-extractor's program, or a file the archive was appended to)
  // moves every record by its length while the offsets stay as they were written: the central
  // directory then ends that many bytes before the end records, instead of where they begin.
  // When a central header stands where the shift puts the directory, every offset is shifted;
  // when none does, the entries are rebuilt from their local headers.
  std::uint64_t shift = 0;
  if (total > 0 && directoryEnd_ > start + size && !CentralHeaderAt(start)) {
    if (CentralHeaderAt(start + directoryEnd_ - (start + size))) {
      shift = directoryEnd_ - (start + size);
      start += shift;
    } else if (RebuildFromLocalHeaders()) {
      return;
    }
  }
  file_->Seek(start);
  std::vector<std::unique_ptr<TZipHeaderInfo>> read;
  // Every record consumes at least one header's bytes of the file, so a damaged count cannot
  // keep this loop going past the end of the file: the read fails there.
  for (std::uint64_t k = 0; k < total; ++k) {
    CheckEvents();
    auto entry = std::make_unique<TZipHeaderInfo>(OEMConvert);
    bool ok = ReadCentralRecord(*entry);
    TZipHeaderInfo* previous = read.empty() ? nullptr : read.back().get();
    if (!ok && previous != nullptr && previous->centralExtraLength > 0) {
      // Some writers declare a central extra field that they never write: assume that once.
      const std::uint64_t back = previous->centralExtraLength;
      previous->centralExtraLength = 0;
      const std::uint64_t here = file_->Position();
      file_->Seek(here >= back ? here - back : 0);
      ok = ReadCentralRecord(*entry);
    }
    if (!ok) {
      const std::uint64_t at = file_->Position();
      if (at == start + size)
        throw MakeDamagedError("the end record counts " + Number(total) + " entries, the central directory holds " +
                               Number(k));
      throw MakeDamagedError("central header " + Number(k + 1) + " of " + Number(total) + " (offset " + Number(at) +
                             ") has no central header signature");
    }
    if (shift != 0) entry->SetLocalHeaderOffset64(entry->LocalHeaderOffset64() + shift);
    read.push_back(std::move(entry));
  }
  if (file_->Position() != start + size) {
    // Where the last record ended, taken before the probe for one more moves the position on.
    const std::uint64_t last = file_->Position();
    std::uint8_t next[4];
    if (file_->ReadExact(next, sizeof next) && Load32(next) == kCentralHeaderSig)
      throw MakeDamagedError("the end record counts " + Number(total) + " entries, the central directory holds more");
    throw MakeDamagedError("the central directory ends at offset " + Number(last) + ", the end record says " +
                           Number(start + size));
  }
  // The list is ordered with one sort rather than record by record, so that a directory in
  // reverse order cannot make reading it quadratic.
  auto list = std::make_shared<TSortedZip>(SortMode);
  try {
    list->Assign(std::move(read));
  } catch (const EListError&) {
    throw MakeDamagedError("two central records point to the same local header");
  }
  CheckEntries(*list, start);
  entries_ = std::move(list);
}

void ArchiveReader::CheckEntries(TSortedZip& list, std::uint64_t entriesEnd) {
  struct Span {
    std::uint64_t begin;
    std::uint64_t end;
    TZipHeaderInfo* entry;
  };
  std::vector<Span> spans;
  spans.reserve(list.Count());
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (i % 64 == 0) CheckEvents();
    TZipHeaderInfo& entry = list[i];
    entry.damage.clear();
    const std::uint64_t offset = entry.LocalHeaderOffset64();
    std::uint8_t fixed[kLocalHeaderSize];
    file_->Seek(offset);
    if (offset >= entriesEnd || !file_->ReadExact(fixed, sizeof fixed) || Load32(fixed) != kLocalHeaderSig) {
      entry.damage = "there is no local header at offset " + Number(offset);
      continue;
    }
    const std::uint16_t nameLength = Load16(fixed + kLocalNameLengthOffset);
    const std::uint16_t extraLength = Load16(fixed + kLocalExtraLengthOffset);
    std::string name(nameLength, '\0');
    if (!file_->ReadExact(name.data(), name.size()) || name != entry.StoredName()) {
      entry.damage = "its local header at offset " + Number(offset) + " names \"" + PrintableName(name) + "\"";
      continue;
    }
    entry.localExtraLength = extraLength;
    const std::uint64_t dataStart = offset + kLocalHeaderSize + nameLength + extraLength;
    const std::uint64_t compressed = entry.CompressedSize64();
    const std::uint64_t dataEnd = compressed > entriesEnd ? entriesEnd + 1 : dataStart + compressed;
    if (dataEnd > entriesEnd) entry.damage = "its data runs past the start of the central directory";
    spans.push_back({offset, dataEnd, &entry});
  }
  // Entries whose data overlap let a small archive expand without bound: the one whose data
  // runs into the next entry is damaged.
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    TZipHeaderInfo& earlier = *spans[i - 1].entry;
    if (spans[i - 1].end > spans[i].begin && earlier.damage.empty())
      earlier.damage = "its data overlaps entry \"" + PrintableName(spans[i].entry->FullName()) + "\"";
  }
}

bool ArchiveReader::RebuildFromLocalHeaders() {
  const std::uint64_t size = file_->Size();
  const std::uint64_t start = EndsWithNoCase(zipName_, ".exe") ? kExeSkip : 0;

  // Find the first local header signature.
  std::uint64_t found = size;
  std::vector<std::uint8_t> buf(kRebuildStep + 3);
  for (std::uint64_t pos = start; pos + 4 <= size && found == size;) {
    CheckEvents();
    file_->Seek(pos);
    const std::size_t n = file_->Read(buf.data(), buf.size());
    if (n < 4) break;
    for (std::size_t i = 0; i + 4 <= n; ++i) {
      if (buf[i] == 0x50 && Load32(&buf[i]) == kLocalHeaderSig) {
        found = pos + i;
        break;
      }
    }
    pos += n - 3;
  }
  if (found == size) return false;

  // Consecutive local headers from there.
  auto list = std::make_shared<TSortedZip>(SortMode);
  std::uint64_t at = found;
  while (at < size) {
    CheckEvents();
    file_->Seek(at);
    std::uint8_t fixed[kLocalHeaderSize];
    if (!file_->ReadExact(fixed, sizeof fixed)) break;
    ByteReader r(fixed, sizeof fixed);
    if (r.U32() != kLocalHeaderSig) break;
    auto entry = std::make_unique<TZipHeaderInfo>(OEMConvert);
    entry->versionNeeded = r.U16();
    entry->flags = r.U16();
    entry->compressionMethod = r.U16();
    entry->storedDosDateTime = r.U32();
    entry->dosDateTime = DosDateTime::NormaliseDos(entry->storedDosDateTime);
    entry->crc32 = r.U32();
    entry->compressedSize = r.U32();
    entry->uncompressedSize = r.U32();
    const std::uint16_t nameLength = r.U16();
    const std::uint16_t extraLength = r.U16();
    std::string name(nameLength, '\0');
    if (!file_->ReadExact(name.data(), name.size())) break;
    std::vector<std::uint8_t> extra(extraLength);
    if (!file_->ReadExact(extra.data(), extra.size())) break;
    const std::optional<std::string> unicodeName = UnicodePathName(extra, name);
    entry->SetNameFromArchive(name, unicodeName ? &*unicodeName : nullptr);
    entry->localExtraLength = extraLength;
    if (extraLength >= kExtraBlockHeaderSize && extra[0] == 1 && extra[1] == 0) {
      ParseZip64Extra(*entry, extra.data(), extra.size());
    }
    entry->SetLocalHeaderOffset64(at);
    const std::uint64_t header = kLocalHeaderSize + nameLength + extraLength;
    const std::uint64_t data = entry->CompressedSize64();
    const std::uint64_t descriptor = (entry->flags & kFlagDataDescriptor) ? kDataDescriptorSize : 0;
    if (data > size) {
      list->Insert(std::move(entry));
      break;
    }
    list->Insert(std::move(entry));
    at += header + data + descriptor;  // always moves forward: header is at least 30 bytes
  }
  if (list->Empty()) return false;

  if (!endCentral_) endCentral_.emplace();
  endCentral_->SetTotalEntries64(list->Count());
  endCentral_->SetEntriesThisDisk64(list->Count());
  endCentral_->SetCentralOffset64(std::min(at, size));

  // Complete the rebuilt entries from the central records that follow them, matched by local
  // header offset; the rebuilt offsets stay.
  std::unordered_map<std::uint64_t, TZipHeaderInfo*> byOffset;
  for (std::size_t i = 0; i < list->Count(); ++i) byOffset[(*list)[i].LocalHeaderOffset64()] = &(*list)[i];
  file_->Seek(std::min(at, size));
  for (;;) {
    CheckEvents();
    TZipHeaderInfo central(OEMConvert);
    if (!ReadCentralRecord(central)) break;
    const auto it = byOffset.find(central.LocalHeaderOffset64());
    if (it == byOffset.end()) continue;
    TZipHeaderInfo& entry = *it->second;
    const std::uint64_t offset = entry.LocalHeaderOffset64();
    const std::uint16_t localExtra = entry.localExtraLength;
    entry = central;
    entry.localExtraLength = localExtra;
    entry.SetLocalHeaderOffset64(offset);
    entry.SetDiskNumberStart32(0);
    byOffset.erase(it);
  }
  CheckEntries(*list, endCentral_->CentralOffset64());
  entries_ = std::move(list);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Extraction

// The working state of one extraction or test pass: its buffers (allocated once per pass), the
// destination folder, the encryption keys and the running CRC of the entry being decoded.
class ArchiveReader::Pass {
 public:
  Pass(ArchiveReader& reader, ZipInput& file, Sink sink);

  TEntryResult Run(const TZipHeaderInfo& entry);
  // Makes the folder of a directory entry under DestDir (RecreateDirs).
  void MakeFolder(const TZipHeaderInfo& entry);

 private:
  struct Target {
    fileio::Folder sub;  // the entry's own folder below DestDir (RecreateDirs)
    bool inSub = false;  // false: the file goes straight into DestDir
    std::string name;
  };
  const fileio::Folder& FolderOf(const Target& target) const { return target.inSub ? target.sub : dest_; }
  // Where the entry goes, or the reason it cannot go anywhere.
  std::optional<Target> TargetOf(const TZipHeaderInfo& entry, std::string& reason);
  bool MayOverwrite(const TZipHeaderInfo& entry, const Target& target) const;
  bool CreateTarget(const Target& target, std::uint64_t size, std::string& reason);
  // The next chunk of the entry's data, decrypted; `size` receives its length.
  const std::uint8_t* ReadChunk(std::size_t& size);
  void Write(const std::uint8_t* data, std::size_t size);
  void Store();
  void Inflate();
  void DiscardTarget();

  ArchiveReader& reader_;
  ZipInput& file_;
  Sink sink_;
  fileio::Folder dest_;
  ReadAhead ahead_;
  std::vector<std::uint8_t> out_;

  // Per entry.
  ZipKeys keys_;
  std::uint64_t remaining_ = 0;  // compressed bytes still to read
  std::uint64_t expected_ = 0;   // uncompressed size
  std::uint64_t written_ = 0;
  std::uint32_t crc_ = 0xFFFFFFFF;
  fileio::File outFile_;
  const Target* target_ = nullptr;  // the file being written, removed again when it fails
};

ArchiveReader::Pass::Pass(ArchiveReader& reader, ZipInput& file, Sink sink)
    : reader_(reader), file_(file), sink_(sink), ahead_(file, kChunk), out_(kWorkBuffer) {
  // DestDir and its missing parents are made here; a failure shows at each entry.
  if (sink_ == Sink::File) dest_ = fileio::Folder::Open(reader_.destDir_, true);
}

std::optional<ArchiveReader::Pass::Target> ArchiveReader::Pass::TargetOf(const TZipHeaderInfo& entry,
                                                                         std::string& reason) {
  if (!SafeComponent(entry.FileName())) {
    reason = "its name could leave the destination folder";
    return std::nullopt;
  }
  if (!dest_.IsOpen()) {
    reason = "the destination folder " + PrintableName(reader_.destDir_) + " cannot be opened: " +
             (fileio::IsLinkError(dest_.Error()) ? "a symbolic link is on its way" : fileio::ErrorText(dest_.Error()));
    return std::nullopt;
  }
  Target target{fileio::Folder(), false, entry.FileName()};
  if (reader_.RecreateDirs) {
    const auto dir = SafeRelativeDirectory(entry.Directory());
    if (!dir) {
      reason = "its name could leave the destination folder";
      return std::nullopt;
    }
    if (!dir->empty()) {
      target.sub = dest_.Descend(*dir, true);
      target.inSub = true;
      if (!target.sub.IsOpen()) {
        reason = "its folder " + PrintableName(*dir) + " cannot be opened: " +
                 (fileio::IsLinkError(target.sub.Error()) ? "a symbolic link is on its way" : fileio::ErrorText(target.sub.Error()));
        return std::nullopt;
      }
    }
  }
  return target;
}

void ArchiveReader::Pass::MakeFolder(const TZipHeaderInfo& entry) {
  if (!dest_.IsOpen()) return;
  if (const auto dir = SafeRelativeDirectory(entry.Directory())) dest_.Descend(*dir, true);
}

bool ArchiveReader::Pass::MayOverwrite(const TZipHeaderInfo& entry, const Target& target) const {
  switch (reader_.OverwriteMode) {
    case TOverwriteMode::Always: return true;
    case TOverwriteMode::Never: return false;
    case TOverwriteMode::Prompt:
      return platform::Dialogs().MessageBox("Replace existing file " + PrintableName(entry.FileName()) + "?",
                                            "File Exists Alert", platform::kMbYesNo) == platform::kIdYes;
    case TOverwriteMode::ifNewer:
    case TOverwriteMode::ifOlder: {
      const auto modified = FolderOf(target).ModifiedTime(target.name);
      if (!modified) return true;
      const std::uint32_t existing = DosDateTime::FromTime(*modified);
      const std::uint32_t mine = DosDateTime::NormaliseDos(entry.dosDateTime);
      return reader_.OverwriteMode == TOverwriteMode::ifNewer ? mine > existing : mine < existing;
    }
  }
  return false;
}

bool ArchiveReader::Pass::CreateTarget(const Target& target, std::uint64_t size, std::string& reason) {
  // The folder creates the file without following a link of its name: a symbolic link planted
  // in the destination is never written through.
  fileio::File file = FolderOf(target).CreateFile(target.name);
  if (!file.IsOpen() && reader_.ReplaceReadOnly && FolderOf(target).MakeWritable(target.name))
    file = FolderOf(target).CreateFile(target.name);
  if (!file.IsOpen()) {
    reason = fileio::IsLinkError(file.Error()) ? "a symbolic link stands in its place" : fileio::ErrorText(file.Error());
    return false;
  }
  // The file gets its full size before any data is written.
  if (!file.SetSize(size)) {
    reason = fileio::ErrorText(file.Error());
    file.Close();
    FolderOf(target).RemoveFile(target.name);
    return false;
  }
  outFile_ = std::move(file);
  target_ = &target;
  return true;
}

void ArchiveReader::Pass::DiscardTarget() {
  outFile_ = fileio::File();
  if (target_ != nullptr) FolderOf(*target_).RemoveFile(target_->name);
  target_ = nullptr;
}

const std::uint8_t* ArchiveReader::Pass::ReadChunk(std::size_t& size) {
  reader_.CheckEvents();
  const std::uint8_t* data = ahead_.Next(size);
  remaining_ -= size;
  return data;
}

void ArchiveReader::Pass::Write(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  if (written_ + size > expected_) throw EBiggerThanUncompressed();
  if (outFile_.IsOpen() && !outFile_.WriteAt(written_, data, size)) throw ECantWriteUCF();
  crc_ = Crc32Update(crc_, data, size);
  written_ += size;
}

void ArchiveReader::Pass::Store() {
  while (remaining_ > 0) {
    std::size_t n = 0;
    const std::uint8_t* data = ReadChunk(n);
    Write(data, n);
  }
}

void ArchiveReader::Pass::Inflate() {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) throw EZCompressionError("the decompressor could not be started");
  struct End {
    z_stream& zs;
    ~End() { inflateEnd(&zs); }
  } end{zs};
  zs.next_out = out_.data();
  zs.avail_out = kChunk;
  int ret = Z_OK;
  while (ret != Z_STREAM_END) {
    if (zs.avail_in == 0 && remaining_ > 0) {
      std::size_t n = 0;
      zs.next_in = const_cast<Bytef*>(ReadChunk(n));
      zs.avail_in = static_cast<uInt>(n);
    }
    // Without input and without the end of the stream, inflate reports Z_BUF_ERROR: the loop
    // cannot spin on a truncated stream.
    ret = inflate(&zs, Z_NO_FLUSH);
    if (ret == Z_BUF_ERROR && remaining_ == 0)
      throw EZCompressionError("its deflate data ends before the end of the stream (after " + Number(zs.total_in) +
                               " bytes)");
    if (ret < 0 || ret == Z_NEED_DICT)
      throw EZCompressionError("its deflate data is damaged at byte " + Number(zs.total_in) + " (" +
                               (zs.msg != nullptr ? zs.msg : "invalid data") + ")");
    if (zs.avail_out == 0 || ret == Z_STREAM_END) {
      Write(out_.data(), kChunk - zs.avail_out);
      zs.next_out = out_.data();
      zs.avail_out = kChunk;
    }
  }
}

TEntryResult ArchiveReader::Pass::Run(const TZipHeaderInfo& original) {
  const TZipHeaderInfo entry = original;  // the working copy
  TEntryResult result;
  result.name = entry.FullName();
  const auto finish = [&](TEntryOutcome outcome, std::string reason = {}) {
    result.outcome = outcome;
    result.reason = std::move(reason);
    return result;
  };
  outFile_ = fileio::File();
  target_ = nullptr;

  if (!entry.damage.empty()) return finish(TEntryOutcome::Damaged, entry.damage);
  if (entry.compressionMethod == kMethodWinZipAes) return finish(TEntryOutcome::Unsupported, "unsupported encryption (AES)");

  // Only the name and extra lengths of the local header are used, to find the data; the
  // directory has checked its signature and name.
  const std::uint64_t localOffset = entry.LocalHeaderOffset64();
  std::uint8_t local[kLocalHeaderSize];
  file_.Seek(localOffset);
  if (!file_.ReadExact(local, sizeof local)) return finish(TEntryOutcome::Damaged, "its local header is cut short");
  std::uint64_t dataStart = localOffset + kLocalHeaderSize + Load16(local + kLocalNameLengthOffset) +
                            Load16(local + kLocalExtraLengthOffset);
  remaining_ = entry.CompressedSize64();
  expected_ = entry.UncompressedSize64();
  written_ = 0;
  crc_ = 0xFFFFFFFF;

  std::optional<Target> target;
  if (sink_ == Sink::File) {
    std::string reason;
    target = TargetOf(entry, reason);
    if (!target) return finish(TEntryOutcome::CreateError, reason);
  }

  if (entry.IsEncrypted()) {
    keys_.Init(reader_.Password);
    std::uint8_t header[kEncryptionHeaderSize];
    if (remaining_ < kEncryptionHeaderSize) return finish(TEntryOutcome::Damaged, "it is too short for its encryption header");
    file_.Seek(dataStart);
    if (!file_.ReadExact(header, sizeof header)) return finish(TEntryOutcome::Damaged, "its data ends early");
    keys_.Decrypt(header, sizeof header);
    remaining_ -= kEncryptionHeaderSize;
    dataStart += kEncryptionHeaderSize;
    // Streamed entries (data descriptor) did not know their CRC when the header was made: they
    // carry the high byte of the DOS time instead, of the time as stored, out-of-range fields
    // and all.
    const std::uint8_t check = (entry.flags & kFlagDataDescriptor)
                                   ? static_cast<std::uint8_t>((entry.storedDosDateTime >> 8) & 0xFF)
                                   : static_cast<std::uint8_t>(entry.crc32 >> 24);
    if (header[kEncryptionHeaderSize - 1] != check) return finish(TEntryOutcome::BadPassword);
  }

  if (target) {
    if (FolderOf(*target).Holds(target->name) && !MayOverwrite(entry, *target)) return finish(TEntryOutcome::NoOverwrite);
    std::string reason;
    if (!CreateTarget(*target, expected_, reason)) return finish(TEntryOutcome::CreateError, reason);
  }

  bool unknown = false;
  bool bigger = false;
  try {
    ahead_.Begin(dataStart, remaining_, entry.IsEncrypted() ? &keys_ : nullptr);
    switch (entry.compressionMethod) {
      case kMethodStored: Store(); break;
      case kMethodDeflated: Inflate(); break;
      default:
        ahead_.End();
        platform::Dialogs().MessageBox("Unknown Compression Method", "Zip Error", platform::kMbOk);
        unknown = true;
        break;
    }
  } catch (const EBiggerThanUncompressed&) {
    bigger = true;
  } catch (const EFatalUnzipError&) {
    // Damaged data is this entry's failure: the other entries are still decoded and reported.
    DiscardTarget();
    return finish(TEntryOutcome::Damaged, "its data ends early (" + std::string(EFatalUnzipError::kDefaultMessage) + ")");
  } catch (const EZCompressionError& e) {
    DiscardTarget();
    return finish(TEntryOutcome::Damaged, e.what());
  } catch (...) {
    // The pass ends; a partly written file is not left behind looking complete.
    DiscardTarget();
    throw;
  }

  // A file counts only when its CRC matches and it has exactly its stored size: a short stream
  // whose CRC happens to match would otherwise leave zero bytes from the pre-sizing in the file.
  const bool sound = !unknown && !bigger && ~crc_ == entry.crc32 && written_ == expected_;
  if (!sound) {
    DiscardTarget();
    return finish(unknown ? TEntryOutcome::UnknownMethod : TEntryOutcome::BadCrc);
  }
  if (outFile_.IsOpen()) {
    if (reader_.FlushFilesOnClose) outFile_.Sync();
    DosDateTime::SetFileTime(outFile_.Native(), entry.dosDateTime);
    if (reader_.RetainAttributes) outFile_.SetDosAttributes(entry.externalAttributes & kDosFileAttributes);
    outFile_.Close();
  }
  target_ = nullptr;
  return finish(TEntryOutcome::Extracted);
}

int ArchiveReader::ExtractSelected() { return RunPass(Sink::File); }

int ArchiveReader::TestSelected() { return RunPass(Sink::Null); }

int ArchiveReader::RunPass(Sink sink) {
  FlagGuard busy(busy_, true);
  ClearCancel();
  results_.clear();
  if (sink == Sink::File && destDir_ == "?") return 0;
  ReadDirectory();

  const bool keepOpen = KeepZipOpen;
  struct Restore {
    ArchiveReader& reader;
    bool keepOpen;
    ~Restore() {
      reader.KeepZipOpen = keepOpen;
      reader.FilesList.clear();
      if (!keepOpen) reader.CloseArchive();
    }
  } restore{*this, keepOpen};
  KeepZipOpen = true;
  OpenArchive();  // a file without an end record raises EIncompleteZip here

  // The pass holds its own references: handling events may let other code reset the reader.
  const std::shared_ptr<TSortedZip> list = entries_;
  const std::shared_ptr<ZipInput> file = file_;
  Pass pass(*this, *file, sink);

  std::vector<std::size_t> todo;
  for (std::size_t i = 0; i < list->Count(); ++i) {
    CheckEvents();
    TZipHeaderInfo& entry = (*list)[i];
    if (entry.IsDirectory()) {
      // Directory entries are never extracted as files; with RecreateDirs they make their folder.
      if (RecreateDirs && sink == Sink::File && (entry.selected != 0 || DoAll)) pass.MakeFolder(entry);
      continue;
    }
    if (entry.selected == 0 && !DoAll) continue;
    if (entry.selected != 0) {
      entry.selected = 0;
      --selectedCount_;
    }
    entry.toExtract = 1;
    todo.push_back(i);
  }

  int count = 0;
  for (const std::size_t i : todo) {
    CheckEvents();
    TZipHeaderInfo& entry = (*list)[i];
    entry.toExtract = 0;
    TEntryResult result = pass.Run(entry);
    result.index = i;
    if (result.outcome == TEntryOutcome::Extracted) ++count;
    results_.push_back(std::move(result));
  }
  return count;
}

}  // namespace archive
