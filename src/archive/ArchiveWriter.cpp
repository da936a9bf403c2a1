#include "archive/ArchiveWriter.h"

#include <cctype>
#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <set>
#include <string_view>
#include <unordered_map>

#include "archive/ArchiveErrors.h"
#include "archive/ByteBuffer.h"
#include "archive/Deflater.h"
#include "archive/DosDateTime.h"
#include "archive/EncryptionHeaderRandom.h"
#include "archive/FileIo.h"
#include "archive/FileWalker.h"
#include "archive/PackAhead.h"
#include "archive/PackWorkers.h"
#include "archive/ZipFormat.h"
#include "archive/ZipInput.h"
#include "archive/ZipOutput.h"
#include "platform/CodePage.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"

namespace archive {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyBlock = 16384;    // old entries kept by an update
// Pending window events are handled at most this often while packing: handling them after every
// 8 KiB write would cost more than the compression on a fast disk.
constexpr auto kEventInterval = std::chrono::milliseconds(20);

std::string FoldAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FoldAscii(a) == FoldAscii(b);
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// An extra field without its Zip64 block (other blocks are kept as they are; a block whose length
// runs past the end ends the field).
std::vector<std::uint8_t> WithoutZip64Block(const std::vector<std::uint8_t>& extra) {
  std::vector<std::uint8_t> kept;
  for (ByteReader er(extra); er.remaining() >= zip::kExtraBlockHeaderSize;) {
    const std::size_t at = er.position();
    const std::uint16_t tag = er.U16();
    const std::uint16_t length = er.U16();
    if (er.Bytes(length) == nullptr) break;
    if (tag != zip::kZip64ExtraTag)
      kept.insert(kept.end(), extra.begin() + static_cast<std::ptrdiff_t>(at),
                  extra.begin() + static_cast<std::ptrdiff_t>(er.position()));
  }
  return kept;
}

// Restores a flag on every way out.
class FlagGuard {
 public:
  FlagGuard(bool& flag, bool value) : flag_(flag), old_(flag) { flag_ = value; }
  ~FlagGuard() { flag_ = old_; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

// One source of the expanded file list: its path as given ('/' separators; a directory ends in
// '/') and the name it gets in the archive.
struct ArchiveWriter::SourceFile {
  std::string path;
  bool isDirectory = false;
  std::string directoryPart;  // stored directory part, ends in '/' when not empty
  std::string filePart;
  bool done = false;          // packed, or settled by the update merge
};

// One entry of the new archive, in entry order: an old entry kept by an update, a directory, or
// a file that a worker packs.
struct ArchiveWriter::Step {
  enum class Kind { Keep, Directory, File } kind = Kind::File;
  int oldIndex = -1;                    // Keep: the entry of the old archive
  SourceFile* source = nullptr;         // Directory, File
  std::size_t job = 0;                  // File: its place among the workers' files
  bool stored = false;                  // File: copied without compressing
  std::unique_ptr<TZipHeaderInfo> info;  // Directory, File: the new entry's record
};

// The working state of one PackFiles run.
class ArchiveWriter::Run {
 public:
  explicit Run(ArchiveWriter& owner) : w_(owner), lastEvents_(std::chrono::steady_clock::now()) {}

  int Execute();

 private:
  void ExpandFilesList();
  void AddSource(const std::string& path, bool isDirectory);
  void PlanMerge();
  void PlanSource(SourceFile& source);
  void KeepOldEntry(ZipInput& old, const TZipHeaderInfo& entry);
  void WriteDirectoryEntry(Step& step);
  void WriteFileEntry(Step& step, PackWorkers& workers);
  void WriteCentralDirectory();
  void Aside(const std::function<void()>& step, bool cancellable);
  void ReplaceArchive(const std::string& temporary);
  bool StoredUncompressed(const std::string& fileName) const;

  void Write(const void* data, std::size_t size);
  void HandleEvents();
  void Append(std::unique_ptr<TZipHeaderInfo> info, std::vector<std::uint8_t> oldExtra = {});

  ArchiveWriter& w_;
  std::vector<SourceFile> sources_;
  std::vector<Step> plan_;
  std::vector<PackSource> jobs_;  // the files of plan_, in entry order
  ZipOutput out_;
  EncryptionHeaderRandom random_;
  std::chrono::steady_clock::time_point lastEvents_;
  std::string heldComment_;  // the archive comment of an end record read before this run

  struct NewEntry {
    std::unique_ptr<TZipHeaderInfo> info;
    std::vector<std::uint8_t> oldExtraBlocks;  // central extra blocks kept from an old archive
  };
  std::vector<NewEntry> entries_;
  std::set<std::string> names_;  // names planned: directory part + file part, ASCII case folded
  int packed_ = 0;
  std::uint32_t archiveMode_ = 0644;  // permissions of the archive being written
  std::vector<std::string> disposed_;  // sources to delete once the archive is in place (Dispose)
};

ArchiveWriter::ArchiveWriter() = default;
ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::SetStorePaths(bool on) {
  storePaths_ = on;
  if (!on) {
    storeVolumes_ = false;
    relativePaths_ = false;
  }
}

void ArchiveWriter::SetRelativePaths(bool on) {
  relativePaths_ = on;
  if (on) {
    storePaths_ = true;
    recurse_ = true;
  }
}

void ArchiveWriter::SetStoreVolumes(bool on) {
  storeVolumes_ = on;
  if (on) storePaths_ = true;
}

void ArchiveWriter::SetMaskBit(std::uint32_t bit, bool on) {
  attributeMask_ = on ? (attributeMask_ | bit) : (attributeMask_ & ~bit);
}

int ArchiveWriter::PackFiles() {
  // What was made ahead serves this run only.
  struct DropPrepared {
    ArchiveWriter& writer;
    ~DropPrepared() { writer.DiscardPrepared(); }
  } dropPrepared{*this};
  struct ClearFilesList {
    std::vector<std::string>& list;
    ~ClearFilesList() { list.clear(); }
  } clearFilesList{FilesList};
  ClearCancel();
  preparedUsed_ = 0;
  if (Trim(ZipName()).empty()) return 0;

  FlagGuard busy(packing_, true);
  FlagGuard keepOpen(KeepZipOpen, true);
  const TZipSortMode sortMode = SortMode;
  SortMode = TZipSortMode::ByNone;
  struct RestoreSort {
    TZipSortMode& mode;
    TZipSortMode old;
    ~RestoreSort() { mode = old; }
  } restoreSort{SortMode, sortMode};

  Run run(*this);
  const int count = run.Execute();
  return count;
}

void ArchiveWriter::PrepareFile(const std::string& path, const std::string& spillFolder) {
  if (!ahead_) {
    ahead_ = std::make_unique<PackAhead>(PackLevel, PackThreads,
                                         PackBufferSize > 0 ? PackBufferSize : PackWorkers::kMemoryBudget);
  }
  ahead_->Follow(path, spillFolder);
}

void ArchiveWriter::PreparedFileComplete(const std::string& path, bool written) {
  if (ahead_) ahead_->Complete(path, written);
}

void ArchiveWriter::WaitForPrepared() {
  if (ahead_) ahead_->Wait();
}

void ArchiveWriter::DiscardPrepared() { ahead_.reset(); }

// --- expansion ---

namespace {

// Windows names may use '\' and start with a drive letter or a UNC server and share. The file
// list is worked on with '/' separators, and a stored name never keeps the drive or the server.
std::string WithSlashes(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

std::string WithoutVolume(const std::string& directory) {
#ifdef _WIN32
  const auto letter = static_cast<unsigned char>(directory.empty() ? 0 : directory[0]);
  if (directory.size() >= 2 && directory[1] == ':' && std::isalpha(letter)) return directory.substr(2);
  if (directory.rfind("//", 0) == 0) {
    const auto server = directory.find('/', 2);
    const auto share = server == std::string::npos ? server : directory.find('/', server + 1);
    return share == std::string::npos ? std::string() : directory.substr(share);
  }
#endif
  return directory;
}

}  // namespace

void ArchiveWriter::Run::AddSource(const std::string& path, bool isDirectory) {
  SourceFile source;
  source.path = path;
  source.isDirectory = isDirectory;

  // Names reach Windows tools in the OEM code page: pass the path through it and back, so that
  // a character without an equivalent becomes the '?' that will be stored.
  std::string name = path;
  if (w_.OEMConvert == TOEMConvert::oemAlways) name = platform::GbkToUtf8(platform::Utf8ToGbk(path));

  std::string directory;
  if (isDirectory) {
    directory = name;
  } else {
    const auto slash = name.find_last_of('/');
    directory = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    source.filePart = slash == std::string::npos ? name : name.substr(slash + 1);
  }
  if (!w_.StorePaths()) {
    directory.clear();
  } else {
    while (directory.size() >= 2 && directory.compare(directory.size() - 2, 2, "//") == 0)
      directory.pop_back();
    if (w_.RelativePaths()) {
      for (const std::string& given : w_.RelativePathList) {
        const std::string root = WithSlashes(given);
        if (!root.empty() && directory.size() >= root.size() &&
            EqualIgnoringAsciiCase(std::string_view(directory).substr(0, root.size()), root)) {
          directory.erase(0, root.size());
          break;
        }
      }
    }
    directory = WithoutVolume(directory);
    // Stored names never start with a separator, and never step out of the archive's tree
    // ("." and ".." segments are dropped) even when the source path was written that way.
    std::string cleaned;
    std::size_t start = 0;
    while (start < directory.size()) {
      auto end = directory.find('/', start);
      if (end == std::string::npos) end = directory.size();
      const std::string_view segment(directory.data() + start, end - start);
      if (!segment.empty() && segment != "." && segment != "..") {
        cleaned.append(segment);
        cleaned += '/';
      }
      start = end + 1;
    }
    directory = cleaned;
  }
  source.directoryPart = directory;
  if (isDirectory && directory.empty()) return;  // nothing to name it by
  if (!isDirectory && source.filePart.empty()) return;
  sources_.push_back(std::move(source));
}

void ArchiveWriter::Run::ExpandFilesList() {
  struct Wildcard {
    std::string path;
    bool recurse;
  };
  std::vector<Wildcard> wild;
  const std::string rootDir = WithSlashes(w_.RootDir);
  for (const std::string& given : w_.FilesList) {
    const std::string raw = WithSlashes(given);
    if (raw.empty()) continue;
    if (raw.back() == '/') {
      AddSource(raw, true);
      continue;
    }
    if (raw.find_first_of("*?") != std::string::npos) {
      std::string path = raw;
      bool recurse = w_.Recurse();
      if (path[0] == '|') {
        recurse = false;
        path.erase(0, 1);
      } else if (path[0] == '>') {
        recurse = true;
        path.erase(0, 1);
      }
      wild.push_back({path, recurse});
      continue;
    }
    std::string path = raw;
    if (path.find('/') == std::string::npos && !rootDir.empty()) {
      path = rootDir + (rootDir.back() == '/' ? "" : "/") + path;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    bool excluded = false;
    for (const std::string& pattern : w_.ExcludeList)
      excluded = excluded || MatchesPattern(name, pattern);
    const auto attributes = platform::GetFileAttributes(path);
    if (excluded || !attributes || (*attributes & platform::kAttrDirectory) ||
        !PassesAttributeMask(*attributes, w_.AttributeMask()))
      continue;
    if (w_.SkipIfArchiveBitNotSet && !(*attributes & platform::kAttrArchive)) continue;
    AddSource(path, false);
  }

  const std::string zipName = w_.ZipName();
  std::error_code ec;
  const fs::path zipAbsolute = fs::weakly_canonical(fs::absolute(platform::PathFromUtf8(zipName), ec), ec);
  for (const Wildcard& w : wild) {
    const auto slash = w.path.find_last_of('/');
    std::string directory;
    if (slash == std::string::npos) {
      directory = rootDir.empty() ? std::string(1, '.') : rootDir;
    } else {
      directory = slash == 0 ? std::string(1, '/') : w.path.substr(0, slash);
    }
    std::string pattern = slash == std::string::npos ? w.path : w.path.substr(slash + 1);
    if (pattern == "*.*") pattern = std::string(1, '*');
    WalkDirectory(directory, pattern, w.recurse, w_.AttributeMask(), [&](const WalkEntry& e) {
      if (e.isDirectory) {
        if (w_.AddDirEntriesOnRecurse) AddSource(e.path, true);
      } else {
        const std::string name = e.path.substr(e.path.find_last_of('/') + 1);
        for (const std::string& pattern : w_.ExcludeList)
          if (MatchesPattern(name, pattern)) return;
        // The archive never packs itself (it may lie inside the walked tree).
        std::error_code ec2;
        if (EqualIgnoringAsciiCase(e.path, zipName) ||
            fs::weakly_canonical(fs::absolute(platform::PathFromUtf8(e.path), ec2), ec2) == zipAbsolute)
          return;
        const auto attributes = platform::GetFileAttributes(e.path);
        if (w_.SkipIfArchiveBitNotSet && !(attributes && (*attributes & platform::kAttrArchive)))
          return;
        AddSource(e.path, false);
      }
      if (w_.DoProcessMessages) HandleEvents();
    });
  }
}

// --- output ---

// Hands pending window events to the event loop when the last time is long enough ago; a cancel
// request raises here.
void ArchiveWriter::Run::HandleEvents() {
  if (!w_.DoProcessMessages) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastEvents_ < kEventInterval) return;
  lastEvents_ = now;
  w_.CheckEvents();
}

void ArchiveWriter::Run::Write(const void* data, std::size_t size) {
  out_.Write(data, size);
  HandleEvents();
}

void ArchiveWriter::Run::Append(std::unique_ptr<TZipHeaderInfo> info,
                                std::vector<std::uint8_t> oldExtra) {
  entries_.push_back(NewEntry{std::move(info), std::move(oldExtra)});
  ++packed_;
}

// --- planning ---

// Settles the entry a source becomes: none when its name is taken, else a directory entry or a
// file for the workers. The random part of a file's encryption header is drawn here, in entry
// order, so that the archive's bytes do not depend on which worker packs which file.
void ArchiveWriter::Run::PlanSource(SourceFile& source) {
  source.done = true;
  auto info = std::make_unique<TZipHeaderInfo>(w_.OEMConvert);
  info->SetDirectory(source.directoryPart);
  info->SetFileName(source.filePart);
  if (!names_.insert(FoldAscii(info->FullName())).second) return;

  Step step;
  step.source = &source;
  step.info = std::move(info);
  if (source.isDirectory) {
    step.kind = Step::Kind::Directory;
  } else {
    step.kind = Step::Kind::File;
    step.job = jobs_.size();
    PackSource job;
    job.path = source.path;
    job.stored = step.stored = StoredUncompressed(source.filePart);
    if (!w_.Password.empty()) {
      random_.Seed(NextHeaderSeed());
      for (std::uint8_t& b : job.headerBytes) b = random_.NextHeaderByte();
    }
    jobs_.push_back(std::move(job));
  }
  plan_.push_back(std::move(step));
}

bool ArchiveWriter::Run::StoredUncompressed(const std::string& fileName) const {
  if (w_.PackLevel == 0) return true;
  for (const std::string& pattern : w_.NoCompressList)
    if (MatchesPattern(fileName, pattern)) return true;
  return false;
}

// --- writing the entries ---

void ArchiveWriter::Run::WriteDirectoryEntry(Step& step) {
  TZipHeaderInfo& info = *step.info;
  std::string bare = step.source->path;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  info.dosDateTime = DosDateTime::FileTime(bare).value_or(DosDateTime::Now());
  info.compressionMethod = zip::kMethodStored;
  info.crc32 = 0;
  if (const auto attributes = platform::GetFileAttributes(bare)) info.externalAttributes = *attributes;
  info.internalAttributes = 0;
  info.SetDiskNumberStart32(0);
  info.SetLocalHeaderOffset64(out_.Position());
  const std::vector<std::uint8_t> header = info.LocalHeaderBytes();
  Write(header.data(), header.size());
  Append(std::move(step.info));
}

void ArchiveWriter::Run::WriteFileEntry(Step& step, PackWorkers& workers) {
  TZipHeaderInfo& info = *step.info;
  const bool stored = step.stored;
  const PackedFile& opened = workers.Opened(step.job);
  info.externalAttributes = opened.attributes;
  info.dosDateTime = opened.dosDateTime;
  info.SetUncompressedSize64(opened.size);
  // The local header is written before the compressed size is known and cannot grow later:
  // an entry that may reach 4 GiB compressed gets its Zip64 block from the start.
  const std::uint64_t worst = (stored ? opened.size : Deflater::WorstCase(opened.size)) +
                              (w_.Password.empty() ? 0 : zip::kEncryptionHeaderSize);
  info.reserveLocalZip64 = !zip::Fits32(worst);
  info.internalAttributes = 0;
  info.SetDiskNumberStart32(0);
  info.SetLocalHeaderOffset64(out_.Position());
  const std::vector<std::uint8_t> provisional = info.LocalHeaderBytes();
  Write(provisional.data(), provisional.size());

  const PackedFile& packed = workers.Finish(step.job, out_);
  info.compressionMethod = stored ? zip::kMethodStored : zip::kMethodDeflated;
  info.crc32 = packed.crc;
  info.SetUncompressedSize64(packed.uncompressed);
  std::uint16_t flags = 0;
  if (w_.PackLevel <= 2) flags |= zip::kFlagFastCompression;
  if (w_.PackLevel >= 8) flags |= zip::kFlagMaxCompression;
  if (!w_.Password.empty()) flags |= zip::kFlagEncrypted;
  info.flags = flags;
  info.SetCompressedSize64(packed.compressed);
  if (packed.prepared) ++w_.preparedUsed_;

  const std::uint64_t end = out_.Position();
  out_.Seek(info.LocalHeaderOffset64());
  const std::vector<std::uint8_t> final = info.LocalHeaderBytes();
  // The final header must fit the space of the provisional one; with the Zip64 block reserved
  // above, it grows only when the file grew past 4 GiB while it was packed.
  if (final.size() != provisional.size())
    throw EZipError("Entry too large for its local header: " + PrintableName(step.source->path));
  Write(final.data(), final.size());
  out_.Seek(end);
  Append(std::move(step.info));

  if (w_.Dispose) disposed_.push_back(step.source->path);
}

// --- update ---

void ArchiveWriter::Run::KeepOldEntry(ZipInput& old, const TZipHeaderInfo& entry) {
  // A damaged entry would carry its damage into the new archive; the old one stays as it is.
  if (!entry.damage.empty())
    throw MakeDamagedError("its entry \"" + PrintableName(entry.FullName()) + "\" cannot be kept: " + entry.damage);
  // The old local header gives the length of its name and extra field.
  std::uint8_t local[zip::kLocalHeaderSize];
  const std::uint64_t oldOffset = entry.LocalHeaderOffset64();
  old.Seek(oldOffset);
  if (!old.ReadExact(local, sizeof local)) throw EFatalUnzipError();
  ByteReader lr(local, sizeof local);
  lr.Skip(zip::kLocalNameLengthOffset);
  const std::uint16_t localNameLength = lr.U16();
  const std::uint16_t localExtraLength = lr.U16();
  std::vector<std::uint8_t> oldLocalExtra(localExtraLength);
  old.Seek(oldOffset + zip::kLocalHeaderSize + localNameLength);
  if (!old.ReadExact(oldLocalExtra.data(), oldLocalExtra.size())) throw EFatalUnzipError();
  // The old Zip64 block described the old header; the new header gets its own when it needs one.
  const std::vector<std::uint8_t> localExtra = WithoutZip64Block(oldLocalExtra);

  // Central extra blocks other than Zip64, and the comment, from the old central header, where
  // and as long as the reader found them. An entry rebuilt from its local header alone has
  // neither.
  std::vector<std::uint8_t> kept;
  std::string comment;
  if (entry.fromCentralRecord) {
    std::vector<std::uint8_t> extra(entry.centralExtraLength);
    comment.assign(entry.commentLength, '\0');
    old.Seek(entry.extraFieldPosition);
    if (!old.ReadExact(extra.data(), extra.size()) || !old.ReadExact(comment.data(), comment.size()))
      throw EFatalUnzipError();
    kept = WithoutZip64Block(extra);
  }
  const std::uint16_t commentLength = static_cast<std::uint16_t>(comment.size());

  auto info = std::make_unique<TZipHeaderInfo>(entry);
  // The date-time goes on as it was stored: it may be what the password check byte was made of.
  info->dosDateTime = entry.storedDosDateTime;
  // An encrypted entry written with a data descriptor carries the high byte of its DOS time as
  // the password check byte, not the CRC's: it must keep the flag (and so a data descriptor),
  // or every reader would take the right password for a wrong one. Other entries lose it, as
  // their header now holds the sizes and the CRC.
  const bool descriptor = entry.IsEncrypted() && (entry.flags & zip::kFlagDataDescriptor) != 0;
  if (!descriptor) info->flags = static_cast<std::uint16_t>(info->flags & ~zip::kFlagDataDescriptor);
  info->localExtraLength = static_cast<std::uint16_t>(localExtra.size());
  info->centralExtraLength = 0;
  info->zip64BlockLength = 0;
  info->extraFieldLength = 0;
  info->comment.reset();
  info->commentLength = 0;
  if (commentLength > 0) {
    info->comment = comment;
    info->commentLength = commentLength;
  }
  const std::uint64_t compressed = entry.CompressedSize64();
  info->SetCompressedSize64(compressed);
  info->SetUncompressedSize64(entry.UncompressedSize64());
  info->SetDiskNumberStart32(0);
  info->SetLocalHeaderOffset64(out_.Position());
  const std::vector<std::uint8_t> header = info->LocalHeaderBytes(localExtra);
  Write(header.data(), header.size());

  old.Seek(oldOffset + zip::kLocalHeaderSize + localNameLength + localExtraLength);
  std::vector<std::uint8_t> block(kCopyBlock);
  for (std::uint64_t left = compressed; left > 0;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    if (!old.ReadExact(block.data(), want)) throw EFatalUnzipError();
    Write(block.data(), want);
    left -= want;
  }
  if (descriptor) {
    // Sizes take 8 bytes each when the local header has a Zip64 block, as readers expect.
    std::vector<std::uint8_t> bytes;
    ByteWriter dw(bytes);
    dw.U32(zip::kDataDescriptorSig);
    dw.U32(info->crc32);
    if (info->LocalZip64DataLength() != 0) {
      dw.U64(compressed);
      dw.U64(info->UncompressedSize64());
    } else {
      dw.U32(static_cast<std::uint32_t>(compressed));
      dw.U32(static_cast<std::uint32_t>(info->UncompressedSize64()));
    }
    Write(bytes.data(), bytes.size());
  }
  Append(std::move(info), std::move(kept));
}

// Plans the old archive's entries in their order: each is kept, or replaced in place by its file.
void ArchiveWriter::Run::PlanMerge() {
  // The sources by their stored name, ASCII case folded, each name's sources in list order: an
  // archive of many entries is merged in one pass instead of a search of the list per entry.
  std::unordered_map<std::string, std::vector<SourceFile*>> byName;
  byName.reserve(sources_.size());
  for (SourceFile& source : sources_) byName[FoldAscii(source.directoryPart + source.filePart)].push_back(&source);

  for (int i = 0; i < w_.EntryCount(); ++i) {
    HandleEvents();
    const TZipHeaderInfo& entry = w_.Entry(i);
    SourceFile* match = nullptr;
    if (const auto found = byName.find(FoldAscii(entry.FullName())); found != byName.end()) {
      for (SourceFile* source : found->second) {
        if (!source->done) {
          match = source;
          break;
        }
      }
    }
    bool replace = false;
    if (match != nullptr) {
      if (w_.ZipAction == TZipAction::zaReplace) {
        replace = true;
      } else {
        std::string bare = match->path;
        while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
        const auto fileTime = DosDateTime::FileTime(bare);
        replace = fileTime && DosDateTime::NormaliseDos(entry.dosDateTime) < *fileTime;
        if (!replace) match->done = true;
      }
    }
    if (replace) {
      PlanSource(*match);
    } else {
      names_.insert(FoldAscii(entry.FullName()));
      Step keep;
      keep.kind = Step::Kind::Keep;
      keep.oldIndex = i;
      plan_.push_back(std::move(keep));
    }
  }
}

// --- central directory and end record ---

void ArchiveWriter::Run::WriteCentralDirectory() {
  TEndCentral end;
  const std::uint64_t offset = out_.Position();
  end.SetThisDisk32(0);
  end.SetCentralStartDisk32(0);
  for (NewEntry& e : entries_) {
    const std::vector<std::uint8_t> bytes = e.info->CentralHeaderBytes(e.oldExtraBlocks);
    Write(bytes.data(), bytes.size());
  }
  end.SetEntriesThisDisk64(entries_.size());
  end.SetTotalEntries64(entries_.size());
  end.SetCentralOffset64(offset);
  end.SetCentralSize64(out_.Position() - offset);
  if (!heldComment_.empty()) end.SetComment(heldComment_);
  const std::vector<std::uint8_t> bytes = end.Bytes(out_.Position());
  Write(bytes.data(), bytes.size());
}

// Runs a step that may wait long for the disk (a sync) on another thread, while this one keeps
// handling events. A cancel request ends the wait only when the step may still be undone.
void ArchiveWriter::Run::Aside(const std::function<void()>& step, bool cancellable) {
  platform::RunHandlingEvents(step, [this, cancellable] {
    if (cancellable) {
      HandleEvents();
    } else if (w_.DoProcessMessages) {
      platform::PumpEvents();
    }
  });
}

// Puts the finished temporary file in place of the archive. A rename replaces the old archive (if
// any) in one step; across file systems (a TempPath elsewhere) the copy goes to a new "ARZ…" file
// beside the archive first and is renamed over the archive only when complete and on the disk,
// so the old archive is never lost half-way.
// The folder is synced after the rename, so that the new name survives a crash.
void ArchiveWriter::Run::ReplaceArchive(const std::string& temporary) {
  const std::string& target = w_.ZipName();
  const int renamed = fileio::Rename(temporary, target);
  // Once renamed the archive is in place: the run can no longer be cancelled.
  if (renamed == 0) {
    Aside([&] { fileio::SyncFolderOf(target); }, false);
    return;
  }
  const std::string failure = "Error: Could not copy from " + PrintableName(temporary) + " -> " + PrintableName(target);
  if (!fileio::IsCrossDeviceError(renamed)) throw EZipError(failure);

  // The copy is a new file of its own beside the archive, made as the temporary file of a new
  // archive is: whatever stands under any other name there (a link included) is never written.
  const auto slash = WithSlashes(target).find_last_of('/');
  std::string staging;
  fileio::File in = fileio::File::OpenForReading(temporary);
  if (!in.IsOpen()) throw EZipError(failure + ": " + fileio::ErrorText(in.Error()));
  fileio::File out = fileio::File::CreateTemporary(slash == std::string::npos ? "." : target.substr(0, slash + 1),
                                                   "ARZ", 0600, staging);
  if (!out.IsOpen()) throw EZipError(failure + ": " + fileio::ErrorText(out.Error()));
  ZipOutput copy;
  try {
    // Created private: the archive's own permissions are set explicitly.
    out.SetPermissions(archiveMode_);
    copy.Adopt(std::move(out));
    std::vector<std::uint8_t> block(1 << 16);
    std::uint64_t copied = 0;
    for (;;) {
      const std::optional<std::size_t> got = in.ReadAt(copied, block.data(), block.size());
      if (!got) throw EZipError(failure);
      if (*got == 0) break;
      copy.Write(block.data(), *got);
      copied += *got;
      HandleEvents();
    }
    Aside([&] { copy.Close(); }, true);
    if (copied == 0 || fileio::Rename(staging, target) != 0) throw EZipError(failure);
    Aside([&] { fileio::SyncFolderOf(target); }, false);
    fileio::Remove(temporary);
  } catch (...) {
    copy.Abandon();
    fileio::Remove(staging);
    throw;
  }
}

int ArchiveWriter::Run::Execute() {
  ExpandFilesList();

  // The archive is written to a temporary file and put in place only when it is complete and on
  // the disk: a failure leaves no new archive, and an existing one exactly as it was. The
  // archive is made beside its final name, so that one rename puts it in place.
  const std::string zipName = w_.ZipName();
  const fileio::FileStatus existing = fileio::StatusOf(zipName);
  if (existing.exists && !existing.isRegular) throw MakeOpenError(zipName, fileio::NotRegularFileError());
  const bool update = existing.exists;
  std::string temporary;
  std::string dir;  // the temporary file's folder, where packed files that outgrow memory wait
  fileio::File file;
  const auto slash = WithSlashes(zipName).find_last_of('/');
  dir = slash == std::string::npos ? "." : zipName.substr(0, slash + 1);
  if (update) {
    // An update too, unless TempPath names a folder: the system's temporary folder may be on
    // another file system (the archive would be copied once more) or too small for it.
    if (!w_.TempPath.empty() && fileio::StatusOf(w_.TempPath).isDirectory) dir = w_.TempPath;
    file = fileio::File::CreateTemporary(dir, "ARZ", 0600, temporary);
    if (!file.IsOpen()) throw MakeOpenError(zipName, file.Error());
    // The new archive replaces the old one with the old one's permissions, not the private
    // ones of a temporary file.
    archiveMode_ = existing.permissions;
    file.SetPermissions(archiveMode_);
  } else {
    file = fileio::File::CreateTemporary(dir, "ARZ", 0666, temporary);
    if (!file.IsOpen()) throw MakeOpenError(zipName, file.Error());
    archiveMode_ = file.Status().permissions;
  }
  out_.Adopt(std::move(file));

  ZipInput old;
  try {
    if (update) {
      // The updated archive keeps its comment when this component had read its end record
      // before; a directory first read now brings none.
      try {
        heldComment_ = w_.ArchiveComment();
      } catch (const std::exception&) {
        heldComment_.clear();
      }
      // An existing file that is not an archive ends the run here, before anything is written.
      // The file is opened afresh: the one held open may be an archive this run's
      // predecessor has since replaced.
      w_.CloseArchive();
      w_.OpenArchive();
      w_.CloseArchive();
      old.Open(zipName);
      PlanMerge();
    }
    for (SourceFile& source : sources_) {
      if (!source.done) PlanSource(source);
      HandleEvents();
    }

    PackWorkers::Settings settings;
    settings.threads = w_.PackThreads;
    settings.level = w_.PackLevel;
    settings.password = w_.Password;
    settings.spillFolder = dir;
    settings.bufferSize = w_.PackBufferSize;
    settings.ahead = w_.ahead_.get();
    {
      // Stopped and joined before the output is let go on a failure.
      PackWorkers workers(std::move(jobs_), settings, [this] { HandleEvents(); });
      for (Step& step : plan_) {
        switch (step.kind) {
          case Step::Kind::Keep: KeepOldEntry(old, w_.Entry(step.oldIndex)); break;
          case Step::Kind::Directory: WriteDirectoryEntry(step); break;
          case Step::Kind::File: WriteFileEntry(step, workers); break;
        }
      }
    }
    WriteCentralDirectory();
    Aside([this] { out_.Close(); }, true);
    // Windows replaces no file that is still open, the old archive included.
    old.Close();
    ReplaceArchive(temporary);
  } catch (...) {
    out_.Abandon();
    fileio::Remove(temporary);
    w_.CloseArchive();
    if (w_.ZipName().empty()) w_.SetZipName(zipName);  // the reader forgets it after a failure
    throw;
  }

  // Sources are deleted only once the archive that holds them is in place.
  for (const std::string& path : disposed_) fileio::Remove(path);

  // The reader side now describes the archive just written.
  try {
    w_.CloseArchive();
    w_.ReadDirectory();
    w_.CloseArchive();
  } catch (const EZipError&) {
    // The archive was written and put in place; a failure to list it again is not the run's.
  }
  return packed_;
}

}  // namespace archive
