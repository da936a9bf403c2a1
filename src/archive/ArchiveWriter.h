#pragma once
// ArchiveWriter: packs files and directory trees into a backup archive (one ZIP file, every file
// deflated and protected with the traditional PKWARE encryption when a password is set).
//
// The writer extends the ArchiveReader: it shares its settings (ZipName, FilesList, Password,
// OEMConvert, DoProcessMessages, ...), its entry records and its directory reading, which it uses
// to merge the entries of an existing archive when that archive is updated. After a successful
// run the reader side describes the archive just written.
//
// An archive is never written in place: the new archive goes to a temporary file "ARZ…" beside
// it, created as a new file, that takes the archive's name only when it is complete and on the
// disk, so a failed run leaves no new archive and an old archive as it was.
//
// The files are deflated on all cores (PackWorkers), while the calling thread writes the
// entries in order and keeps handling window events; the archive's bytes do not depend on the
// number of threads.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"

namespace archive {

class PackAhead;

enum class TZipAction : std::uint8_t { zaUpdate, zaReplace, zaFreshen };
enum class TMultiMode : std::uint8_t { mmNone, mmSpan, mmBlocks };

// Multi-volume settings. The archive is always written as one file (mmNone), where none of these
// values has an effect; they are kept so that callers can set them as they always have.
struct TMultiZipInfo {
  std::int64_t BlockSize = 1457600;
  std::int64_t FirstBlockSize = 0;
  std::int64_t SaveOnFirstDisk = 0;
  bool SaveZipInfoOnFirstDisk = false;
  TMultiMode MultiMode = TMultiMode::mmNone;
  bool CheckDiskLabels = true;
  bool WriteDiskLabels = true;
};

class ArchiveWriter : public ArchiveReader {
 public:
  ArchiveWriter();
  ~ArchiveWriter() override;

  // --- settings (the reader's are inherited) ---
  int PackLevel = 6;  // 0 (stored) .. 9
  TZipAction ZipAction = TZipAction::zaUpdate;
  bool AddDirEntriesOnRecurse = false;
  bool SkipIfArchiveBitNotSet = false;
  bool ResetArchiveBitOnZip = false;  // no archive bit to reset on this platform
  bool Store83Names = false;
  bool Dispose = false;               // delete each source file once it is packed
  std::vector<std::string> ExcludeList;
  std::vector<std::string> NoCompressList;
  std::string TempPath;               // where an update's temporary "ARZ…" file goes; beside the archive if empty
  std::string RootDir;                // prefix for FilesList entries without a directory
  std::vector<std::string> RelativePathList;
  TMultiZipInfo MultiZipInfo;
  // Files are deflated on this many threads at once; 0: one per hardware thread. The archive is
  // the same whatever the number: entries keep their order and their bytes.
  int PackThreads = 0;
  // Bytes of one file's packed data held in memory while it waits for its turn in the archive,
  // beyond which it waits in a temporary file beside the archive's; 0: a share of 32 MiB.
  std::size_t PackBufferSize = 0;

  // Coupled flags: RelativePaths on also switches StorePaths and Recurse on; StorePaths off also
  // switches StoreVolumes and RelativePaths off; StoreVolumes on also switches StorePaths on.
  bool Recurse() const { return recurse_; }
  void SetRecurse(bool on) { recurse_ = on; }
  bool StorePaths() const { return storePaths_; }
  void SetStorePaths(bool on);
  bool RelativePaths() const { return relativePaths_; }
  void SetRelativePaths(bool on);
  bool StoreVolumes() const { return storeVolumes_; }
  void SetStoreVolumes(bool on);

  // The four include flags are bits of one attribute mask (read-only 0x01, hidden 0x02,
  // system 0x04, archive 0x20); hidden and system files are left out by default.
  bool IncludeReadOnlyFiles() const { return (attributeMask_ & 0x01) != 0; }
  void SetIncludeReadOnlyFiles(bool on) { SetMaskBit(0x01, on); }
  bool IncludeHiddenFiles() const { return (attributeMask_ & 0x02) != 0; }
  void SetIncludeHiddenFiles(bool on) { SetMaskBit(0x02, on); }
  bool IncludeSysFiles() const { return (attributeMask_ & 0x04) != 0; }
  void SetIncludeSysFiles(bool on) { SetMaskBit(0x04, on); }
  bool IncludeArchiveFiles() const { return (attributeMask_ & 0x20) != 0; }
  void SetIncludeArchiveFiles(bool on) { SetMaskBit(0x20, on); }
  std::uint32_t AttributeMask() const { return attributeMask_; }

  // True while this component reads, extracts or packs.
  bool IsBusy() const override { return packing_ || ArchiveReader::IsBusy(); }

  // Packs what FilesList names into the archive ZipName (creating it, or updating it when it
  // exists) and returns the number of entries packed; 0 at once when ZipName is blank. FilesList
  // is empty afterwards, whatever happened. All or nothing: the archive is put in place only when
  // every file was packed whole; otherwise no new archive appears and an existing one stays
  // byte for byte as it was. Raises EFOpenError for a file that cannot be opened (it vanished,
  // it is not readable, it is not a regular file) and for a ZipName that is not a regular file,
  // EZipError for a read error or a file that shrank while it was packed, ENotEnoughRoom,
  // EZCompressionError, EUserCanceled, the reader's errors for an existing file that is not a
  // readable archive, and EZipError when the finished archive cannot be put in place.
  int PackFiles();

  // Deflating ahead of the next PackFiles: `path`, a file that is being written (or is about to
  // be created; a stale file of that name must be gone already), is deflated as it grows, at
  // PackLevel on PackThreads threads, its stream held in memory up to PackBufferSize (32 MiB when
  // 0) and beyond that in a temporary file "ARZ…" in `spillFolder`. PackFiles encrypts such a
  // stream instead of deflating the file again when the file is still exactly what was read; the
  // archive's bytes are the same either way. The next PackFiles drops whatever it did not use,
  // whatever its outcome.
  void PrepareFile(const std::string& path, const std::string& spillFolder);
  // `path` is written whole; with `written` false it was given up and what was made is dropped.
  void PreparedFileComplete(const std::string& path, bool written);
  // Waits until every file handed over is deflated (or dropped); each must be complete. For a
  // caller that changes the files afterwards and wants the streams made from them as they were.
  void WaitForPrepared();
  // Drops every stream made ahead, with its temporary files, and stops their threads.
  void DiscardPrepared();
  // The files the last PackFiles took from streams made ahead.
  int PreparedFilesUsed() const { return preparedUsed_; }

 private:
  struct SourceFile;
  struct Step;
  class Run;
  friend class Run;

  void SetMaskBit(std::uint32_t bit, bool on);

  bool recurse_ = false;
  bool storePaths_ = false;
  bool relativePaths_ = false;
  bool storeVolumes_ = false;
  std::uint32_t attributeMask_ = 0x39;
  bool packing_ = false;
  std::unique_ptr<PackAhead> ahead_;
  int preparedUsed_ = 0;
};

}  // namespace archive
