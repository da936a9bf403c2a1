#include "app/MainForm.h"

#include <cstdio>
#include <exception>
#include <initializer_list>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "diag/Trace.h"
#include "migration/BackupProcedure.h"
#include "migration/FileList.h"
#include "migration/RestoreProcedure.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"

namespace app {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

std::string ProposeArchiveName(const std::string& folder, const platform::LocalDateTime& today) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d%02d%02dbak.dmp", today.year % 10000, today.month % 100,
                today.day % 100);
  if (!folder.empty() && folder.back() == kSeparator) return folder + name;
  return folder + kSeparator + name;
}

// One run in the sense of Busy(): disables the controls that could start another run inside
// this one, and on leaving the outermost run enables them again and carries out a close that
// was requested meanwhile.
class MainForm::BusyScope {
 public:
  explicit BusyScope(MainForm& form) : form_(form) {
    if (form_.busyDepth_++ == 0) form_.SetBusy(true);
  }
  ~BusyScope() {
    if (--form_.busyDepth_ != 0) return;
    form_.SetBusy(false);
    if (form_.closePending_) {
      form_.closePending_ = false;
      form_.view_.RequestClose();
    }
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  MainForm& form_;
};

MainForm::MainForm(IMainView& view)
    : view_(view),
      conADOConParty_(std::make_unique<db::TDbConnection>()),
      qry1_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      qry2_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      qry3_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      qryExecute_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      archiveWriter_(std::make_unique<archive::ArchiveWriter>()),
      archiveReader_(std::make_unique<archive::ArchiveReader>()) {
  conADOConParty_->CommandTimeout = 1000;
  conADOConParty_->ConnectionTimeout = 5;
  ConnectDatabase = [this](const std::string& key) { return db::ConnectKingbase(*conADOConParty_, key); };
  BackupData = [this] { migration::BackupData(*this); };
  RestoreData = [this] { migration::RestoreData(*this); };
  view_.SetChecked(Control::rbBackup, true);
}

MainForm::~MainForm() = default;

void MainForm::Clicked(Control control) {
  switch (control) {
    case Control::btnBeginBackup:
    case Control::btnBeginRestore:
      btnBeginBackupClick();
      break;
    case Control::btnTestContected:
      Dispatch(&MainForm::btnTestContectedClick);
      break;
    case Control::btnExit:
      btnExitClick();
      break;
    case Control::btnSelect:
      Dispatch(&MainForm::btnSelectClick);
      break;
    default:
      break;
  }
}

void MainForm::Checked(Control radio) {
  if (radio == Control::rbBackup) {
    Dispatch(&MainForm::rbBackupClick);
  } else if (radio == Control::rbRestore) {
    Dispatch(&MainForm::rbRestoreClick);
  }
}

bool MainForm::CloseQuery() {
  if (Busy()) {
    // Held until the running procedure has cleaned up.
    closePending_ = true;
    return false;
  }
  closed_ = true;
  return true;
}

void MainForm::SetMode(bool backup) {
  backupMode_ = backup;
  view_.SetVisible(Control::btnBeginBackup, backup);
  view_.SetVisible(Control::btnBeginRestore, !backup);
  SetArchivePath("");
  view_.SetText(Control::lblHint, backup ? kHintBackup : kHintRestore);
}

void MainForm::rbBackupClick() { SetMode(true); }

void MainForm::rbRestoreClick() { SetMode(false); }

void MainForm::btnSelectClick() {
  if (backupMode_) {
    const platform::FolderDialogTexts texts{"选择路径", "路径", "目录", "Drives", "确定", "取消"};
    if (auto folder = platform::Dialogs().SelectFolder(texts)) {
      SetArchivePath(ProposeArchiveName(*folder, platform::Clock().Now()));
    }
  } else if (auto file = platform::Dialogs().OpenFile()) {
    SetArchivePath(*file);
  }
}

void MainForm::btnBeginBackupClick() {
  // A second start never runs inside the first (the buttons are disabled meanwhile; this also
  // holds for a click delivered programmatically).
  if (Busy()) return;
  // The run ends only after an error box is dismissed: the controls stay disabled and a held
  // close waits until then.
  BusyScope run(*this);
  try {
    diag::TraceEnter("btnBeginBackupClick");
    struct Leave {
      ~Leave() { diag::TraceLeave("btnBeginBackupClick"); }
    } leave;

    // Whatever the last test showed, the start tests again with the checked mode's profile.
    btnTestContectedClick();
    if (status_ == kStatusFailed) {
      platform::Dialogs().MessageBox("数据库连接不成功，请检查数据库服务是否启动！", "警告",
                                     platform::kMbIconWarning);
      return;
    }
    if (closePending_) return;  // the user asked to quit during the test: start nothing
    if (backupMode_) {
      if (BackupData) BackupData();
    } else if (RestoreData) {
      RestoreData();
    }
  } catch (const std::exception& e) {
    // The application's default handling, while the run still holds the window. A connection
    // test that raised ends up here too: its box is the only one, and nothing is started.
    ShowUnhandled(e.what());
  }
}

void MainForm::btnExitClick() { view_.RequestClose(); }

// Started alone, the test holds nothing: the other buttons work during its wait and exit closes
// the window at once. An exception leaves it with the label at "正在连接中...".
void MainForm::btnTestContectedClick() {
  const std::string key = backupMode_ ? "bf" : "hy";
  SetStatus(kStatusTesting, kWhite, false);
  diag::DelayPumping(3000);
  // Closed during the wait: nobody is left to read the verdict, and the program is ending.
  if (closed_) return;
  const bool connected = ConnectDatabase ? ConnectDatabase(key) : false;
  if (connected) {
    SetStatus(kStatusConnected, kLime, true);
  } else {
    SetStatus(kStatusFailed, kRed, true);
  }
}

void MainForm::SetArchivePath(const std::string& path) {
  archivePath_ = path;
  view_.SetText(Control::edtFile, path);
}

void MainForm::FocusArchivePath() { view_.SetFocus(Control::edtFile); }

migration::IProgressView& MainForm::CreateProgressWindow() {
  // At most one progress window: a new one replaces (and destroys) a left-over one.
  progressWindow_.reset();
  progressWindow_ = std::make_unique<ProgressForm>(view_.CreateProgressWindow());
  return *progressWindow_;
}

void MainForm::StepProgress() {
  ++ProgressCount;
  if (progressWindow_) progressWindow_->SetGaugeProgress(ProgressBase + ProgressCount);
  platform::PumpEvents();
}

std::vector<std::string> MainForm::ListFiles(const std::string& directory) {
  std::vector<std::string> names = migration::ListPlainFiles(directory);
  view_.SetItems(Control::fllst1, names);
  return names;
}

void MainForm::SetBusy(bool busy) {
  for (Control c : {Control::rbBackup, Control::rbRestore, Control::btnSelect, Control::btnTestContected,
                    Control::btnBeginBackup, Control::btnBeginRestore}) {
    view_.SetEnabled(c, !busy);
  }
}

void MainForm::SetStatus(const char* text, Colour colour, bool bold) {
  status_ = text;
  view_.SetTextStyle(Control::lblContectedStatus, colour, bold);
  view_.SetText(Control::lblContectedStatus, status_);
}

void MainForm::ShowUnhandled(const char* message) {
  platform::Dialogs().MessageBox(message, kApplicationTitle, platform::kMbIconError);
}

void MainForm::Dispatch(void (MainForm::*handler)()) {
  try {
    (this->*handler)();
  } catch (const std::exception& e) {
    ShowUnhandled(e.what());
  }
}

}  // namespace app
