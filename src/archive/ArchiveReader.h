#pragma once
// ArchiveReader: opens a backup archive, reads its central directory into an entry list and
// writes the selected entries as plain files into a destination directory, decrypting
// (traditional PKWARE encryption) and inflating them and checking each file's CRC-32.
//
// The main window owns one reader; UnCompress drives it: ZipName, DestDir, DoAll, ReadDirectory,
// RecreateDirs/RetainAttributes/Password, SelectEntry for every index, ExtractSelected. Everything
// runs on the user-interface thread; long loops hand pending window events to the event loop, and
// the busy flag (IsBusy) is what callers test before starting another operation.
//
// Paths: the platform separator '/' is used throughout; an entry's directory part ends in '/'.
// Extraction is flat unless RecreateDirs is set: every file lands directly in DestDir under its
// file part, and names that could leave DestDir ("", ".", "..", a NUL byte) are refused. The way
// to DestDir is the user's and may pass through links; DestDir itself and every folder below it
// are opened without following symbolic links.
//
// The reader believes an archive only as far as its records agree: a central header without its
// signature, an end record whose counts or sizes disagree with the central directory, or two
// records for one local header make the whole archive damaged (EBadZipFile, with the reason); an
// entry whose local header disagrees with its central record, or whose data overlaps another
// entry's, is damaged alone and is reported by name while the others are still decoded.
// Data before the archive (a self-extractor's program) is no damage: when the central directory
// is found that many bytes further on, every offset is read shifted by that length; when it is
// not, the entries are rebuilt from their local headers.
//
// Failures are EZipError subclasses (ArchiveErrors.h), the archive file's open error included
// (EFOpenError). Owned by the reader's developer; the writer shares TZipHeaderInfo, TEndCentral
// and TSortedZip with it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/TEndCentral.h"
#include "archive/TSortedZip.h"
#include "archive/TZipHeaderInfo.h"

namespace archive {

class ZipInput;

enum class TOverwriteMode : std::uint8_t { Prompt, Always, Never, ifNewer, ifOlder };
enum class TIncompleteZipMode : std::uint8_t { izAssumeMulti, izAssumeBad, izAssumeNotAZip };

// What became of one entry taken by an extraction or test pass.
enum class TEntryOutcome : std::uint8_t {
  Extracted,     // written (or, when testing, decoded) and its CRC-32 matched
  BadPassword,   // the password check byte did not match: skipped
  BadCrc,        // decoded, but the CRC-32 did not match (or it decoded to too many bytes)
  NoOverwrite,   // the target existed and was not to be replaced
  CreateError,   // the target could not be created or sized, or its name was refused
  UnknownMethod, // a compression method this reader does not decode
  Damaged,       // the entry's records or data are damaged (the reason says how and where)
  Unsupported    // an encryption this reader does not decode (the reason names it)
};

struct TEntryResult {
  std::size_t index = 0;  // position in the entry list
  std::string name;       // directory part plus file part
  TEntryOutcome outcome = TEntryOutcome::Extracted;
  std::string reason;     // for Damaged, Unsupported and CreateError: what went wrong
};

class ArchiveReader {
 public:
  ArchiveReader();
  virtual ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // --- settings ---
  const std::string& ZipName() const { return zipName_; }
  // The name is always taken as given. A name equal to the current one but for the case of ASCII
  // letters keeps the directory read when it leads to the very file that was read (names that
  // differ in case are different files here); any other name closes the archive and forgets its
  // directory.
  void SetZipName(const std::string& name);
  const std::string& DestDir() const { return destDir_; }
  // One trailing separator is removed.
  void SetDestDir(const std::string& dir);

  bool DoAll = false;             // extract every entry regardless of the selection
  bool RecreateDirs = false;      // recreate the entries' directory parts under DestDir
  bool RetainAttributes = true;   // give extracted files the entry's stored attributes
  std::string Password;
  TOverwriteMode OverwriteMode = TOverwriteMode::Prompt;
  bool ReplaceReadOnly = false;   // clear read-only on a file that cannot be replaced, retry once
  TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
  TZipSortMode SortMode = TZipSortMode::ByNone;
  TOEMConvert OEMConvert = TOEMConvert::oemAlways;
  bool KeepZipOpen = false;
  bool DoProcessMessages = true;
  bool FlushFilesOnClose = false;
  std::vector<std::string> FilesList;  // masks; not used by the selection passes, emptied by them

  // --- state ---
  // True while this component works; the writer adds its packing, so callers that hold it as a
  // reader see that too.
  virtual bool IsBusy() const { return busy_; }
  // Asks the running operation to stop at its next check (raises EUserCanceled there).
  void Cancel() { cancel_ = true; }

  // Opens the archive, finds its end record, reads its central directory, closes it again
  // (unless KeepZipOpen). A missing end record leaves no entry list (EntryCount 0); any other
  // failure resets the reader (ZipName emptied) and propagates.
  void ReadDirectory();

  int EntryCount() const;
  // Entries that are files (not directory entries).
  int FileEntryCount() const;
  // The entry at `index`; EListError "Index <index> is out of range" outside 0..EntryCount()-1.
  const TZipHeaderInfo& Entry(int index) const;
  // Sets or clears the selected mark of one entry (same error for an index out of range).
  void SelectEntry(int index, bool selected);
  int SelectedCount() const { return selectedCount_; }

  // Writes the selected entries (all of them with DoAll) into DestDir; returns the number of
  // files written correctly. Wrong passwords, refused overwrites, CRC mismatches and targets that
  // cannot be created skip the entry without raising.
  int ExtractSelected();
  // Decrypts, decodes and CRC-checks the selected entries (all of them with DoAll) without
  // writing anything; returns the number that are sound.
  int TestSelected();
  // What became of each entry of the last ExtractSelected/TestSelected, in list order.
  const std::vector<TEntryResult>& LastResults() const { return results_; }

  // The end record of the archive read last, if any.
  const TEndCentral* EndCentral() const { return endCentral_ ? &*endCentral_ : nullptr; }
  // The archive comment, read from the file on demand ("" when there is none).
  std::string ArchiveComment();

 protected:
  enum class Sink { File, Null };
  int RunPass(Sink sink);
  // Opens the archive file (if not open) and reads the directory unless an unchanged one is held.
  void OpenArchive();
  void CloseArchive();
  // Back to "no directory", ZipName empty.
  void Reset();
  // Dispatches pending events when DoProcessMessages is set; honours a cancel request.
  void CheckEvents();
  // Every operation starts without the cancel request of an earlier one.
  void ClearCancel() { cancel_ = false; }

 private:
  class Pass;
  friend class Pass;

  void ReadEndAndDirectory();
  bool FindEndRecord();
  void ReadCentralDirectory();
  // True when a central header signature stands at `position`.
  bool CentralHeaderAt(std::uint64_t position);
  // Reads one central header at the current position into `entry`; false (position restored)
  // when it is not a complete central header.
  bool ReadCentralRecord(TZipHeaderInfo& entry);
  // Rebuilds the entry list from the local headers; false when none is found.
  bool RebuildFromLocalHeaders();
  // Reads every entry's local header and marks the entries whose local header disagrees with
  // the central record or whose data runs into another entry or the central directory.
  void CheckEntries(TSortedZip& list, std::uint64_t entriesEnd);

  std::string zipName_;
  std::string destDir_;
  bool busy_ = false;
  bool cancel_ = false;
  int selectedCount_ = 0;

  std::shared_ptr<ZipInput> file_;
  std::shared_ptr<TSortedZip> entries_;  // null: no directory read
  std::optional<TEndCentral> endCentral_;
  // Where the central directory ends when nothing stands before the archive: at the Zip64 end
  // record, or at the end record when there is none.
  std::uint64_t directoryEnd_ = 0;
  std::int64_t directoryStamp_ = 0;      // archive modification stamp when read
  std::uint64_t directorySize_ = 0;      // and its size
  std::uint64_t directoryDevice_ = 0;    // and the file it was read from
  std::uint64_t directoryInode_ = 0;
  std::vector<TEntryResult> results_;
};

}  // namespace archive
