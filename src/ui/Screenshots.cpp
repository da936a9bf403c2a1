// dm_screenshots DIR: shows the real windows of the program and writes pictures of them:
//   main-window.png      the main window at start (backup mode, folder proposal filled in)
//   main-restore.png     the main window in restore mode after a failed connection test
//   progress-backup.png  the progress window as a backup sets it up
//   progress-restore.png the progress window as a restore sets it up, importing a table
//   folder-dialog.png    the folder-selection dialog of the browse button, with its title bar
//   message-box.png      the warning box of a failed start, with its title bar
// Run under a display with a window manager (scripts/screenshot.sh starts Xvfb and openbox):
// the title bars are the window manager's, drawn from the captions the windows carry.

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <cstdio>

#include "ui/QtApplication.h"
#include "ui/TFImportDate.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "migration/ProgressView.h"
#include "ui/QtDialogs.h"
#include "ui/QtEventPump.h"
#include "ui/TFmProgressBar.h"
#include "ui/TSelectFolderDialog.h"

namespace {

struct FixedClock : platform::IClock {
  platform::LocalDateTime Now() const override { return {2013, 6, 15, 10, 0, 0, 0}; }
};

void Settle() {
  for (int i = 0; i < 10; ++i) {
    platform::PumpEvents();
    platform::WaitForEvents(20);
  }
}

// `framed`: the picture takes in the window manager's frame and title bar around the window.
bool Save(QWidget* window, const QDir& dir, const char* name, bool framed = false) {
  Settle();
  const QString path = dir.filePath(QString::fromLatin1(name));
  const QRect frame = window->frameGeometry();
  const QPixmap picture =
      framed ? window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
             : window->grab();
  if (picture.save(path, "PNG")) {
    std::printf("%s\n", qPrintable(path));
    return true;
  }
  std::fprintf(stderr, "dm_screenshots: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const auto application = ui::InitApplication(argv[0]);
  ui::QtEventPump events;
  if (argc != 2) {
    std::fprintf(stderr, "usage: dm_screenshots <folder>\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  QDir().mkpath(dir.absolutePath());

  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs installed(&dialogs);
  FixedClock clock;
  platform::SetClock(&clock);

  ui::TFImportDate window;
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
  window.show();
  bool ok = true;

  dialogs.folderAnswers.push_back(std::string("/data/backup"));
  window.Form().btnSelectClick();
  ok &= Save(&window, dir, "main-window.png");

  window.rbRestore->setChecked(true);
  window.Form().ConnectDatabase = [](const std::string&) { return false; };
  window.Form().btnTestContectedClick();
  ok &= Save(&window, dir, "main-restore.png");

  // The two set-ups, made through the interface the procedures use.
  migration::IProgressView* progress = &window.Form().CreateProgressWindow();
  progress->SetDetailVisible(false);
  progress->SetWindowHeight(120);
  progress->SetInfoText("正在备份数据，请稍候...");
  progress->ShowWindow();
  progress->SetGaugeMinimum(0);
  progress->SetGaugeMaximum(15);
  progress->SetGaugeProgress(6);
  ok &= Save(window.FmProgressBar(), dir, "progress-backup.png");
  window.Form().DestroyProgressWindow();

  progress = &window.Form().CreateProgressWindow();
  progress->SetDetailVisible(true);
  progress->SetWindowHeight(200);
  progress->SetInfoText("正在还原数据，请稍候...");
  progress->ShowWindow();
  progress->SetGaugeMinimum(0);
  progress->SetGaugeMaximum(15);
  progress->SetGaugeProgress(7);
  progress->SetDetailProgress("正在导入表B04REPORT中的记录", 240, 0, 1);
  progress->UpdateDetailProgress(110, "");
  ok &= Save(window.FmProgressBar(), dir, "progress-restore.png");
  window.Form().DestroyProgressWindow();

  const platform::FolderDialogTexts texts{"选择路径", "路径", "目录", "Drives", "确定", "取消"};
  auto folderDialog = ui::QtDialogs::BuildFolderDialog(texts, &window);
  folderDialog->SetFolder("/var/backups");
  folderDialog->show();
  for (int i = 0; i < 100 && !folderDialog->Settled(); ++i) platform::WaitForEvents(20);
  ok &= Save(folderDialog.get(), dir, "folder-dialog.png", true);
  folderDialog->hide();

  auto box = ui::QtDialogs::BuildMessageBox("数据库连接不成功，请检查数据库服务是否启动！", "警告",
                                            platform::kMbIconWarning, &window);
  box->show();
  ok &= Save(box.get(), dir, "message-box.png", true);
  box->hide();

  platform::SetClock(nullptr);
  return ok ? 0 : 1;
}
