#pragma once
// The main window FImportDate: choose backup or restore with the two radio buttons, pick the
// target folder or the archive, test the database connection, start the work, quit.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "migration/MigrationHost.h"
#include "platform/Clock.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace ui {
class TBmpButton;
class TFmProgressBar;
class TImage;
}  // namespace ui

namespace app {

class TProgressView;

// The archive name proposed for a backup into `folder` on `today`: <folder>/<YYYYMMDD>bak.dmp,
// with a single separator behind the root "/".
std::string ProposeArchiveName(const std::string& folder, const platform::LocalDateTime& today);

// Texts of the status label after a connection test.
inline constexpr const char* kStatusTesting = "正在连接中...";
inline constexpr const char* kStatusConnected = "连接成功";
inline constexpr const char* kStatusFailed = "连接不成功";

// The backup and the restore see the window through migration::IMigrationHost.
class TFImportDate : public QWidget, public migration::IMigrationHost {
  Q_OBJECT

 public:
  explicit TFImportDate(QWidget* parent = nullptr);
  ~TFImportDate() override;

  // Controls, back to front.
  ui::TImage* img1 = nullptr;
  QLabel* lblHint = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* lblContectedStatus = nullptr;
  ui::TBmpButton* btnBeginBackup = nullptr;
  ui::TBmpButton* btnTestContected = nullptr;
  ui::TBmpButton* btnExit = nullptr;
  ui::TBmpButton* btnSelect = nullptr;
  ui::TBmpButton* btnBeginRestore = nullptr;
  QListWidget* fllst1 = nullptr;
  QLineEdit* edtFile = nullptr;
  QRadioButton* rbBackup = nullptr;
  QRadioButton* rbRestore = nullptr;

  // Event handlers.
  void rbBackupClick();
  void rbRestoreClick();
  void btnSelectClick();
  void btnBeginBackupClick();
  void btnExitClick();
  void btnTestContectedClick();
  void img1MouseMove(Qt::MouseButtons buttons);

  // The procedures the start button runs for the checked mode: migration::BackupData and
  // migration::RestoreData on this window unless replaced. Empty: the start button tests the
  // connection and does nothing more.
  std::function<void()> BackupData;
  std::function<void()> RestoreData;
  // How the connection test connects with a profile key; db::ConnectKingbase on conADOConParty
  // unless replaced.
  std::function<bool(const std::string& key)> ConnectDatabase;

  // True while a backup or restore runs (from the start button's connection test to its last
  // box): the mode, browse, test and start controls are disabled and a close request waits for
  // the end of the run. A connection test started alone holds nothing.
  bool Busy() const { return busyDepth_ > 0; }

  // Components without a window.
  db::TDbConnection& conADOConParty() override { return *conADOConParty_; }
  db::TDbQuery& qry1() override { return *qry1_; }
  db::TDbQuery& qry2() override { return *qry2_; }
  db::TDbQuery& qry3() override { return *qry3_; }
  db::TDbQuery& qryExecute() override { return *qryExecute_; }
  archive::ArchiveWriter& ArchiveWriter() override { return *archiveWriter_; }
  archive::ArchiveReader& ArchiveReader() override { return *archiveReader_; }

  // edtFile, as the procedures read it: the chosen folder's or file's bytes as the file system
  // spells them.
  std::string ArchivePathText() override;
  void FocusArchivePath() override;

  // The progress-window slot: the window of the running backup or restore, or none.
  migration::IProgressView& CreateProgressWindow() override;
  migration::IProgressView* ProgressWindow() override;
  void DestroyProgressWindow() override;
  // The window in the slot itself, or nullptr.
  ui::TFmProgressBar* FmProgressBar() const;

  // Overall progress: the gauge shows ProgressBase + ProgressCount.
  int ProgressBase = 0;
  int ProgressCount = 0;
  // The query (backup) or file name (restore) being worked on.
  std::string CurrentItem;
  void SetProgressBase(int value) override { ProgressBase = value; }
  void SetProgressCount(int value) override { ProgressCount = value; }
  void SetCurrentItem(const std::string& item) override { CurrentItem = item; }
  // Adds one finished step, shows it on the gauge and handles pending events.
  void StepProgress() override;

  // fllst1 pointed at `directory`: the names of its plain files (no directories, no hidden
  // files), sorted ascending regardless of case.
  std::vector<std::string> ListFiles(const std::string& directory) override;

  // The WorkDirectory of the running procedure; empty otherwise.
  std::string WorkDirectory() override { return workDirectory_; }
  void SetWorkDirectory(const std::string& path) override { workDirectory_ = path; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class BusyScope;
  void BuildControls();
  void SetBusy(bool busy);
  void SetStatus(const char* text, const QColor& colour, bool bold);
  // The application's default handling of an exception that leaves a handler: a box with the
  // message, the application title as caption and the error icon; the program keeps running.
  void ShowUnhandled(const char* message);
  // Runs an event handler under that default handling.
  void Dispatch(void (TFImportDate::*handler)());
  void SetArchivePath(const std::string& path);

  std::unique_ptr<db::TDbConnection> conADOConParty_;
  std::unique_ptr<db::TDbQuery> qry1_, qry2_, qry3_, qryExecute_;
  std::unique_ptr<archive::ArchiveWriter> archiveWriter_;
  std::unique_ptr<archive::ArchiveReader> archiveReader_;
  std::unique_ptr<TProgressView> progressWindow_;
  std::string workDirectory_;
  std::string archivePath_;  // what edtFile shows, as the file system spells it

  int busyDepth_ = 0;
  bool closePending_ = false;
  bool centred_ = false;
  bool closed_ = false;
};

}  // namespace app
