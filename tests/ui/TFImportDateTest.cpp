#include "ui/TFImportDate.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "ui/QtApplication.h"
#include "migration/ProgressView.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"
#include "ui/MouseHelpers.h"
#include "ui/QtDialogs.h"
#include "ui/TSelectFolderDialog.h"
#include "ui/TBmpButton.h"
#include "ui/TFmProgressBar.h"
#include "ui/TGauge.h"
#include "ui/TImage.h"
#include "ui/WindowDrag.h"

namespace {

using ui::TFImportDate;

const QColor kWhite(255, 255, 255), kLime(0, 255, 0), kRed(255, 0, 0);

QString Q(const char* s) { return QString::fromUtf8(s); }

QColor TextColour(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

struct FixedClock : platform::IClock {
  platform::LocalDateTime now;
  platform::LocalDateTime Now() const override { return now; }
};

class MainWindow : public ::testing::Test {
 protected:
  MainWindow() : installed_(&dialogs) {
    clock.now = {2013, 6, 15, 9, 30, 0, 0};
    platform::SetClock(&clock);
  }
  ~MainWindow() override { platform::SetClock(nullptr); }

  platform::ScriptedDialogs dialogs;
  FixedClock clock;

 private:
  platform::ScopedDialogs installed_;

 protected:
  TFImportDate window;
};

// ---------------------------------------------------------------------------------------------
// Layout

struct ControlRow {
  const char* name;
  QRect geometry;
  const char* text;  // nullptr: not a text control
  QColor colour;     // invalid: not checked
  bool visible;
};

TEST_F(MainWindow, EveryControlSitsWhereTheWindowWasDesigned) {
  window.show();
  EXPECT_EQ(window.size(), QSize(590, 403));
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(window.windowTitle(), Q("数据迁移工具"));
  EXPECT_EQ(window.windowIconText(), Q(app::kApplicationTitle));
  EXPECT_EQ(window.font().pixelSize(), 11);

  const ControlRow rows[] = {
      {"img1", {0, 0, 590, 403}, nullptr, {}, true},
      {"lblHint", {89, 253, 168, 14}, "选择保存数据备份的路径：", kWhite, true},
      {"Label1", {89, 215, 112, 14}, "数据库连接状态：", kWhite, true},
      {"btnBeginBackup", {89, 337, 90, 26}, nullptr, {}, true},
      {"btnTestContected", {379, 209, 90, 26}, nullptr, {}, true},
      {"btnExit", {379, 337, 90, 26}, nullptr, {}, true},
      {"btnSelect", {379, 275, 90, 26}, nullptr, {}, true},
      {"btnBeginRestore", {89, 337, 90, 26}, nullptr, {}, false},
      {"fllst1", {96, 400, 57, 17}, nullptr, {}, false},
      {"edtFile", {89, 278, 256, 21}, "", {}, true},
      {"rbBackup", {89, 176, 154, 17}, "NorvaleV3.1备份", kWhite, true},
      {"rbRestore", {251, 176, 155, 17}, "NorvaleV4.0还原", kWhite, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto* w = window.findChild<QWidget*>(Q(row.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), row.geometry);
    EXPECT_EQ(w->isVisible(), row.visible);
    if (row.text != nullptr) {
      QString text;
      if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
      if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text();
      EXPECT_EQ(text, Q(row.text));
    }
    if (row.colour.isValid()) {
      EXPECT_EQ(TextColour(w), row.colour);
      EXPECT_EQ(w->font().pixelSize(), 14);
    }
  }
  // The status label: empty, lime green, 14 high at its place.
  EXPECT_EQ(window.lblContectedStatus->pos(), QPoint(251, 215));
  EXPECT_EQ(window.lblContectedStatus->height(), 14);
  EXPECT_TRUE(window.lblContectedStatus->text().isEmpty());
  EXPECT_EQ(TextColour(window.lblContectedStatus), kLime);
  // The edit box's flat one-pixel frame, in the colour flat frames are drawn in.
  const QImage edit = window.edtFile->grab().toImage();
  EXPECT_EQ(edit.pixelColor(0, 10), window.edtFile->palette().color(QPalette::WindowText));
  EXPECT_EQ(edit.pixelColor(1, 10), window.edtFile->palette().color(QPalette::Base));
}

TEST_F(MainWindow, ButtonsShowTheirPicturesUnderAHandCursor) {
  for (ui::TBmpButton* b : {window.btnBeginBackup, window.btnTestContected, window.btnExit,
                            window.btnSelect, window.btnBeginRestore}) {
    SCOPED_TRACE(b->objectName().toStdString());
    EXPECT_EQ(b->Picture().size(), QSize(91, 27));
    EXPECT_TRUE(b->text().isEmpty());
    EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
  }
  EXPECT_EQ(window.btnBeginBackup->GetFace(), ui::TBmpButton::Face::Raised);
  EXPECT_EQ(window.btnBeginRestore->GetFace(), ui::TBmpButton::Face::Raised);
  EXPECT_EQ(window.btnExit->GetFace(), ui::TBmpButton::Face::Flat);
}

TEST_F(MainWindow, BackgroundIsTheDecodedPictureAndTheRestIsTransparentOverIt) {
  EXPECT_EQ(window.img1->Picture().size(), QSize(598, 430));
  EXPECT_FALSE(window.lblHint->autoFillBackground());
  EXPECT_FALSE(window.rbBackup->autoFillBackground());
  // Rendered, the pixel beside a label's text is the picture's, not a widget background.
  window.show();
  const QImage shot = window.grab().toImage();
  const QImage bare = window.img1->grab().toImage().scaled(shot.size());
  const QPoint besideHint(89 + 167, 253 + 1);  // the last, blank column of lblHint
  EXPECT_EQ(shot.pixelColor(besideHint), bare.pixelColor(besideHint));
}

TEST_F(MainWindow, RadioButtonsCarryTheirToolTipsAndStartInBackupMode) {
  EXPECT_EQ(window.rbBackup->toolTip(), Q("NorvaleV3.1备份（Kingbase 4.1数据库）"));
  EXPECT_EQ(window.rbRestore->toolTip(), Q("NorvaleV4.0还原（Kingbase 6.1数据库）"));
  EXPECT_TRUE(window.rbBackup->isChecked());
  EXPECT_FALSE(window.rbRestore->isChecked());
  EXPECT_TRUE(window.edtFile->isReadOnly());
  EXPECT_EQ(window.Form().ProgressWindow(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Mode switch

TEST_F(MainWindow, ModeSwitchSwapsStartButtonsEmptiesTheFileAndSetsTheHint) {
  window.show();
  window.Form().SetArchivePath("/data/backup/20130615bak.dmp");
  QTest::mouseClick(window.rbRestore, Qt::LeftButton);
  EXPECT_TRUE(window.rbRestore->isChecked());
  EXPECT_FALSE(window.btnBeginBackup->isVisible());
  EXPECT_TRUE(window.btnBeginRestore->isVisible());
  EXPECT_TRUE(window.edtFile->text().isEmpty());
  EXPECT_EQ(window.lblHint->text(), Q("选择保存备份数据的文件："));

  window.Form().SetArchivePath("/data/x.dmp");
  // By keyboard: the arrow key moves the check within the group.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  window.rbRestore->setFocus();
  QTest::keyClick(window.rbRestore, Qt::Key_Left);
  EXPECT_TRUE(window.rbBackup->isChecked());
  EXPECT_TRUE(window.btnBeginBackup->isVisible());
  EXPECT_FALSE(window.btnBeginRestore->isVisible());
  EXPECT_TRUE(window.edtFile->text().isEmpty());
  EXPECT_EQ(window.lblHint->text(), Q("选择保存数据备份的路径："));
}

TEST_F(MainWindow, ClickingTheCheckedRadioButtonChangesNothing) {
  window.show();
  window.Form().SetArchivePath("/data/backup/20130615bak.dmp");
  QTest::mouseClick(window.rbBackup, Qt::LeftButton);
  EXPECT_TRUE(window.rbBackup->isChecked());
  EXPECT_EQ(window.edtFile->text(), Q("/data/backup/20130615bak.dmp"));
}


// ---------------------------------------------------------------------------------------------
// Browse



// The folder is picked in the user's folder dialog; its name is not UTF-8.
TEST_F(MainWindow, AFolderNameThatIsNotUtf8ReachesTheBackupAsItIs) {
  ui::QtDialogs userDialogs;
  platform::ScopedDialogs installed(&userDialogs);
  testsupport::TempDir temp;
  const std::string folder = temp / "\xE5\xA4\x87\xFF\xFE";  // "备" and two bytes no UTF-8 has
  std::filesystem::create_directory(folder);
  window.show();
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<ui::TSelectFolderDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->SetFolder(folder);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->Settled(); }));
    dialog->btnOk->click();
  });
  window.btnSelect->click();
  EXPECT_EQ(window.Form().ArchivePathText(), folder + "/20130615bak.dmp");
}


// ---------------------------------------------------------------------------------------------
// Connection test and start

class StartButton : public MainWindow {
 protected:
  StartButton() {
    window.Form().ConnectDatabase = [this](const std::string& key) {
      keys.push_back(key);
      return connects;
    };
    window.Form().BackupData = [this] { ++backups; };
    window.Form().RestoreData = [this] { ++restores; };
  }
  bool connects = true;
  std::vector<std::string> keys;
  int backups = 0;
  int restores = 0;
};



TEST_F(StartButton, TestShowsItsThreeStatesAndKeepsTheWindowResponsive) {
  window.show();
  QString during;
  QColor duringColour;
  bool duringBold = true;
  bool othersEnabled = false;
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (++ticks == 5) {
      during = window.lblContectedStatus->text();
      duringColour = TextColour(window.lblContectedStatus);
      duringBold = window.lblContectedStatus->font().bold();
      // Started alone, the test holds nothing.
      othersEnabled = window.rbRestore->isEnabled() && window.btnSelect->isEnabled() &&
                      window.btnTestContected->isEnabled() && window.btnBeginBackup->isEnabled();
    }
  });
  ticker.start(100);
  QElapsedTimer timer;
  timer.start();
  window.btnTestContected->click();
  EXPECT_GE(timer.elapsed(), 3000);
  EXPECT_GE(ticks, 20) << "events were not handled during the wait";
  EXPECT_EQ(during, Q("正在连接中..."));
  EXPECT_EQ(duringColour, kWhite);
  EXPECT_FALSE(duringBold);
  EXPECT_TRUE(othersEnabled);

  EXPECT_EQ(window.lblContectedStatus->text(), Q("连接成功"));
  EXPECT_EQ(TextColour(window.lblContectedStatus), kLime);
  EXPECT_TRUE(window.lblContectedStatus->font().bold());
  // The label grew with its text.
  EXPECT_GE(window.lblContectedStatus->width(), 4 * 12);
  EXPECT_TRUE(window.btnTestContected->isEnabled());
}



TEST_F(StartButton, CloseRequestDuringARunWaitsForTheCleanUp) {
  window.show();
  bool visibleAfterClose = false;
  bool cleanedUp = false;
  window.Form().BackupData = [&] {
    window.btnExit->click();
    window.close();
    visibleAfterClose = window.isVisible();
    cleanedUp = true;
  };
  window.btnBeginBackup->click();
  EXPECT_TRUE(cleanedUp);
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_FALSE(window.isVisible());
}





TEST_F(MainWindow, ExitClosesAtOnceWhenIdle) {
  window.show();
  window.btnExit->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(dialogs.shown.empty());
}

// ---------------------------------------------------------------------------------------------
// Dragging

TEST_F(MainWindow, OnlyTheBareBackgroundDragsTheWindow) {
  window.show();
  testsupport::ExpectDrags(&window, {
      {"bare background, left button", {20, 20}, Qt::LeftButton, true},
      {"bare background between controls", {300, 300}, Qt::LeftButton, true},
      {"bare background, right button", {20, 20}, Qt::RightButton, true},
      {"bare background, middle button", {20, 20}, Qt::MiddleButton, true},
      {"bare background, two buttons", {20, 20}, Qt::LeftButton | Qt::RightButton, true},
      {"bare background, no button", {20, 20}, Qt::NoButton, true},
      {"hint label, right button", {95, 258}, Qt::RightButton, false},
      {"hint label", {95, 258}, Qt::LeftButton, false},
      {"status caption", {95, 220}, Qt::LeftButton, false},
      {"start button", {120, 350}, Qt::LeftButton, false},
      {"exit button", {400, 350}, Qt::LeftButton, false},
      {"radio button", {120, 184}, Qt::LeftButton, false},
      {"edit box", {150, 288}, Qt::LeftButton, false},
  });
}

// ---------------------------------------------------------------------------------------------
// Procedure support


TEST_F(MainWindow, ProgressViewSetsUpTheWindowAsTheProceduresAskForIt) {
  migration::IProgressView& view = window.Form().CreateProgressWindow();
  ui::TFmProgressBar* form = window.FmProgressBar();
  view.SetDetailVisible(true);
  view.SetWindowHeight(200);
  view.SetInfoText("正在还原数据，请稍候...");
  view.ShowWindow();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->txt1->isVisible());
  EXPECT_TRUE(form->pbrDetail->isVisible());
  EXPECT_EQ(form->height(), 200);
  EXPECT_EQ(form->LabInfo->text(), Q("正在还原数据，请稍候..."));
  view.SetDetailProgress("正在导入表B01REPORT中的记录", 4, 0, 1);
  view.UpdateDetailProgress(3, "");
  EXPECT_EQ(form->txt1->text(), Q("正在导入表B01REPORT中的记录"));
  EXPECT_EQ(form->pbrDetail->value(), 3);
  view.CloseWindow();
  EXPECT_FALSE(form->isVisible());
}


TEST_F(MainWindow, FileListHoldsThePlainFilesSortedWithoutRegardToCase) {
  testsupport::TempDir dir;
  for (const char* name : {"b.xml", "A.xml", "c.txt", ".hidden"}) std::ofstream(dir / name) << "x";
  std::filesystem::create_directory(dir / "sub");
  const auto names = window.Form().ListFiles(dir.path());
  EXPECT_EQ(names, (std::vector<std::string>{"A.xml", "b.xml", "c.txt"}));
  ASSERT_EQ(window.fllst1->count(), 3);
  EXPECT_EQ(window.fllst1->item(0)->text(), Q("A.xml"));
  EXPECT_FALSE(window.fllst1->isVisible());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Against the stand-in servers (scripts/dbenv.sh start), through the real ODBC driver.

class ConnectionTestWithStandIn : public MainWindow {
 protected:
  static void SetUpTestSuite() {
    const char* ini = std::getenv("ODBCSYSINI");
    if (ini == nullptr || *ini == '\0') setenv("ODBCSYSINI", DM_ODBCSYSINI_DEFAULT, 1);
  }
};


// The start button runs the real procedures on this window.
TEST_F(ConnectionTestWithStandIn, StartInBackupModeWritesTheArchiveAndCleansUp) {
  testsupport::TempDir dir;
  dialogs.folderAnswers.push_back(dir.path());
  window.show();
  window.btnSelect->click();
  const std::string archive = dir.path() + "/20130615bak.dmp";
  ASSERT_EQ(window.edtFile->text().toStdString(), archive);

  window.btnBeginBackup->click();
  ASSERT_FALSE(dialogs.shown.empty());
  EXPECT_EQ(dialogs.shown.back().text, "数据备份完成！");
  EXPECT_TRUE(std::filesystem::exists(archive));
  EXPECT_FALSE(std::filesystem::exists(dir / "qimzorstatistics"));
  EXPECT_EQ(window.Form().ProgressWindow(), nullptr);
  EXPECT_EQ(window.Form().ProgressCount, 15);
  EXPECT_FALSE(window.Form().Busy());
}

