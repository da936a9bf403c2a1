#pragma once
// The main window FImportDate without its drawing: the two modes, the browse button and the
// archive name it proposes, the connection test, the start button with its busy guard, the exit
// button and the close request, and the main window as the backup and the restore see it. A front
// end builds the window from MainControls(), implements IMainView over it, passes its clicks,
// radio changes and close requests here and draws what the form tells it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainView.h"
#include "app/ProgressForm.h"
#include "migration/MigrationHost.h"
#include "platform/Clock.h"

namespace app {

// The archive name proposed for a backup into `folder` on `today`: <folder>/<YYYYMMDD>bak.dmp,
// with a single separator behind the folder ('/' or, on Windows, '\' ends a root such as "C:\").
std::string ProposeArchiveName(const std::string& folder, const platform::LocalDateTime& today);

// Texts of the status label after a connection test.
inline constexpr const char* kStatusTesting = "正在连接中...";
inline constexpr const char* kStatusConnected = "连接成功";
inline constexpr const char* kStatusFailed = "连接不成功";

// Hints above edtFile in the two modes.
inline constexpr const char* kHintBackup = "选择保存数据备份的路径：";
inline constexpr const char* kHintRestore = "选择保存备份数据的文件：";

class MainForm : public migration::IMigrationHost {
 public:
  // `view` outlives the form. The form puts the view into its start state.
  explicit MainForm(IMainView& view);
  ~MainForm() override;
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // What the front end reports. A click on a picture button; a radio button that became checked
  // (by mouse or keyboard; checking the checked one again reports nothing). Exceptions that leave
  // a handler are shown as the application's default handling shows them and go no further.
  void Clicked(Control control);
  void Checked(Control radio);
  // The window is asked to close (its close button, Alt+F4, RequestClose). True: it may close
  // now, and the form is finished. False: a backup or restore runs; the close is carried out
  // (through IMainView::RequestClose) when the run has cleaned up.
  bool CloseQuery();

  // The handlers themselves.
  void rbBackupClick();
  void rbRestoreClick();
  void btnSelectClick();
  void btnBeginBackupClick();
  void btnExitClick();
  void btnTestContectedClick();

  bool BackupMode() const { return backupMode_; }
  // What lblContectedStatus shows.
  const std::string& StatusText() const { return status_; }
  // True while a backup or restore runs (from the start button's connection test to its last
  // box): the mode, browse, test and start controls are disabled and a close request waits for
  // the end of the run. A connection test started alone holds nothing.
  bool Busy() const { return busyDepth_ > 0; }
  bool Closed() const { return closed_; }

  // The procedures the start button runs for the checked mode: migration::BackupData and
  // migration::RestoreData on this form unless replaced. Empty: the start button tests the
  // connection and does nothing more.
  std::function<void()> BackupData;
  std::function<void()> RestoreData;
  // How the connection test connects with a profile key; db::ConnectKingbase on conADOConParty
  // unless replaced.
  std::function<bool(const std::string& key)> ConnectDatabase;

  // edtFile: shows `path` and hands it to the procedures as it is (bytes the file system spells).
  void SetArchivePath(const std::string& path);

  // The window in the progress-window slot, or nullptr.
  ProgressForm* FmProgressBar() const { return progressWindow_.get(); }

  // Overall progress: the gauge shows ProgressBase + ProgressCount.
  int ProgressBase = 0;
  int ProgressCount = 0;
  // The query (backup) or file name (restore) being worked on.
  std::string CurrentItem;

  // migration::IMigrationHost
  std::string ArchivePathText() override { return archivePath_; }
  void FocusArchivePath() override;
  migration::IProgressView& CreateProgressWindow() override;
  migration::IProgressView* ProgressWindow() override { return progressWindow_.get(); }
  void DestroyProgressWindow() override { progressWindow_.reset(); }
  void SetProgressBase(int value) override { ProgressBase = value; }
  void SetProgressCount(int value) override { ProgressCount = value; }
  void SetCurrentItem(const std::string& item) override { CurrentItem = item; }
  // Adds one finished step, shows it on the gauge and handles pending events.
  void StepProgress() override;
  db::TDbConnection& conADOConParty() override { return *conADOConParty_; }
  db::TDbQuery& qry1() override { return *qry1_; }
  db::TDbQuery& qry2() override { return *qry2_; }
  db::TDbQuery& qry3() override { return *qry3_; }
  db::TDbQuery& qryExecute() override { return *qryExecute_; }
  archive::ArchiveWriter& ArchiveWriter() override { return *archiveWriter_; }
  archive::ArchiveReader& ArchiveReader() override { return *archiveReader_; }
  // fllst1 pointed at `directory`: the names of its plain files (no directories, no hidden
  // files), sorted ascending regardless of case.
  std::vector<std::string> ListFiles(const std::string& directory) override;
  std::string WorkDirectory() override { return workDirectory_; }
  void SetWorkDirectory(const std::string& path) override { workDirectory_ = path; }

 private:
  class BusyScope;
  void SetBusy(bool busy);
  void SetStatus(const char* text, Colour colour, bool bold);
  void SetMode(bool backup);
  // The application's default handling of an exception that leaves a handler: a box with the
  // message, the application title as caption and the error icon; the program keeps running.
  void ShowUnhandled(const char* message);
  void Dispatch(void (MainForm::*handler)());

  IMainView& view_;
  std::unique_ptr<db::TDbConnection> conADOConParty_;
  std::unique_ptr<db::TDbQuery> qry1_, qry2_, qry3_, qryExecute_;
  std::unique_ptr<archive::ArchiveWriter> archiveWriter_;
  std::unique_ptr<archive::ArchiveReader> archiveReader_;
  std::unique_ptr<ProgressForm> progressWindow_;
  std::string workDirectory_;
  std::string archivePath_;
  std::string status_;
  bool backupMode_ = true;
  int busyDepth_ = 0;
  bool closePending_ = false;
  bool closed_ = false;
};

}  // namespace app
