#pragma once
// The main window as the backup and the restore see it: the archive path in edtFile, the
// progress-window slot and the overall-progress counters, the connection and the four query
// objects, the archive writer and reader, the hidden file list and the WorkDirectory text. The
// procedures run on the user-interface thread against this interface, so the migration library
// needs no window toolkit; the application implements it over TFImportDate and tests over a
// headless stand-in.

#include <string>
#include <vector>

namespace archive {
class ArchiveReader;
class ArchiveWriter;
}  // namespace archive

namespace db {
class TDbConnection;
class TDbQuery;
}  // namespace db

namespace migration {

class IProgressView;

class IMigrationHost {
 public:
  virtual ~IMigrationHost() = default;

  // The text of edtFile: the archive path.
  virtual std::string ArchivePathText() = 0;
  // Puts the input focus on edtFile.
  virtual void FocusArchivePath() = 0;

  // The progress-window slot. CreateProgressWindow puts a new window, owned by the main window,
  // into the slot and returns it; DestroyProgressWindow destroys it and empties the slot.
  virtual IProgressView& CreateProgressWindow() = 0;
  virtual IProgressView* ProgressWindow() = 0;
  virtual void DestroyProgressWindow() = 0;

  // The overall-progress counters. StepProgress adds one to ProgressCount, shows ProgressBase +
  // ProgressCount on the gauge of the window in the slot and handles pending events.
  virtual void SetProgressBase(int value) = 0;
  virtual void SetProgressCount(int value) = 0;
  virtual void StepProgress() = 0;
  // The query (backup) or file name (restore) being worked on.
  virtual void SetCurrentItem(const std::string& item) = 0;

  // conADOConParty and the query objects bound to it.
  virtual db::TDbConnection& conADOConParty() = 0;
  virtual db::TDbQuery& qry1() = 0;
  virtual db::TDbQuery& qry2() = 0;
  virtual db::TDbQuery& qry3() = 0;
  virtual db::TDbQuery& qryExecute() = 0;

  // The main window's archive components.
  virtual archive::ArchiveWriter& ArchiveWriter() = 0;
  virtual archive::ArchiveReader& ArchiveReader() = 0;

  // fllst1 pointed at `directory`: the names of its plain files (see ListPlainFiles).
  virtual std::vector<std::string> ListFiles(const std::string& directory) = 0;

  // The program-wide WorkDirectory text.
  virtual std::string WorkDirectory() = 0;
  virtual void SetWorkDirectory(const std::string& path) = 0;
};

}  // namespace migration
