// What the window system shows of the program's windows: the caption each box and dialog carries
// reaches the X server unchanged, with nothing appended. Runs on Qt's X11 platform on a private X
// server (see tests/support/QtTestMain.cpp) and reads the windows' properties from it. The boxes
// that need a working database or a particular archive (the success boxes, the archive reader's)
// reach the screen the same way as those driven here.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <xcb/xcb.h>

#include "ui/QtApplication.h"
#include "ui/TFImportDate.h"
#include "platform/Dialogs.h"
#include "support/TempDir.h"
#include "ui/QtDialogs.h"
#include "ui/TBmpButton.h"

namespace {

// A property of the window as the X server holds it (UTF-8 for the name properties).
std::string XProperty(QWidget* window, const char* name) {
  xcb_connection_t* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  auto* atom = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  auto* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, static_cast<xcb_window_t>(window->winId()), atom->atom,
                          XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
  const std::string value(static_cast<const char*>(xcb_get_property_value(reply)),
                          static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  std::free(reply);
  std::free(atom);
  return value;
}

TEST(WindowSystem, EveryBoxAndDialogShowsExactlyItsCaption) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
      << "run with QT_QPA_PLATFORM=xcb (the test registers it so)";
  ASSERT_TRUE(ui::InstallQtChineseTexts());
  ui::QtDialogs userDialogs;
  platform::ScopedDialogs installed(&userDialogs);

  // Each box (by its text) and dialog as it comes up, with the title the X server holds for it;
  // then answered: Yes where there is a question, else OK, and the dialogs cancelled.
  std::map<std::string, std::string> titles;
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    const std::string title = XProperty(modal, "_NET_WM_NAME");
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      titles[box->text().toStdString()] = title;
      QAbstractButton* yes = box->button(QMessageBox::Yes);
      (yes != nullptr ? yes : box->buttons().first())->click();
    } else {
      titles[qobject_cast<QFileDialog*>(modal) ? "open-file dialog" : "folder dialog"] = title;
      qobject_cast<QDialog*>(modal)->reject();
    }
  });
  answerer.start(20);

  testsupport::TempDir dir;
  const std::string archive = dir / "20130615bak.dmp";
  std::ofstream(archive) << "not an archive";

  ui::TFImportDate window;
  window.show();
  // Backup mode: a start whose test fails, a test that raises, the procedure without a path
  // and without a connection, the folder dialog.
  window.Form().ConnectDatabase = [](const std::string&) { return false; };
  window.btnBeginBackup->click();
  window.Form().ConnectDatabase = [](const std::string&) -> bool { throw std::runtime_error("ODBC gone"); };
  window.btnTestContected->click();
  window.Form().BackupData();
  window.Form().SetArchivePath(archive);
  window.Form().BackupData();
  window.btnSelect->click();
  // Restore mode: no file, the question and an archive that does not unpack, the open-file dialog.
  window.rbRestore->setChecked(true);
  window.Form().RestoreData();
  window.Form().SetArchivePath(archive);
  window.Form().RestoreData();
  window.btnSelect->click();

  const std::map<std::string, std::string> expected = {
      {"数据库连接不成功，请检查数据库服务是否启动！", "警告"},
      {"ODBC gone", app::kApplicationTitle},
      {"请选择保存数据备份的路径！", "提示"},
      {"数据备份不成功，请确认数据库连接状态！", "错误"},
      {"folder dialog", "选择路径"},
      {"请选择保存备份数据的文件！", "提示"},
      {"还原操作将会清空NorvaleV4.0的相关数据并且不可恢复，请确认是否继续还原？", "警告"},
      {"文件解压不成功，请重启软件再进行还原！", "提示"},
      {"open-file dialog", "打开"},  // no title of its own: the system's
  };
  EXPECT_EQ(titles, expected);
  // The borderless main window: its caption, and the application title on its task-bar button.
  EXPECT_EQ(XProperty(&window, "_NET_WM_NAME"), "数据迁移工具");
  EXPECT_EQ(XProperty(&window, "_NET_WM_ICON_NAME"), app::kApplicationTitle);
}

}  // namespace
