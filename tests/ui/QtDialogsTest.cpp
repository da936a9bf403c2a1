#include "ui/QtDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "support/TempDir.h"
#include "ui/Folders.h"
#include "ui/TSelectFolderDialog.h"

namespace {

using platform::FolderDialogTexts;
using ui::QtDialogs;

struct StyleCase {
  int style;
  QMessageBox::Icon icon;
  std::vector<QMessageBox::StandardButton> buttons;
};

class MessageBoxStyle : public ::testing::TestWithParam<StyleCase> {};

TEST_P(MessageBoxStyle, IconAndButtonsFollowTheStyleCode) {
  const StyleCase c = GetParam();
  auto box = QtDialogs::BuildMessageBox("数据备份完成！", "提示", c.style);
  EXPECT_EQ(box->windowTitle(), QStringLiteral("提示"));
  EXPECT_EQ(box->text(), QStringLiteral("数据备份完成！"));
  EXPECT_EQ(box->icon(), c.icon);
  std::vector<QMessageBox::StandardButton> present;
  for (QAbstractButton* b : box->buttons()) present.push_back(box->standardButton(b));
  std::sort(present.begin(), present.end());
  auto expected = c.buttons;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(present, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageBoxStyle,
    ::testing::Values(StyleCase{0, QMessageBox::NoIcon, {QMessageBox::Ok}},
                      StyleCase{16, QMessageBox::Critical, {QMessageBox::Ok}},
                      StyleCase{48, QMessageBox::Warning, {QMessageBox::Ok}},
                      StyleCase{52, QMessageBox::Warning, {QMessageBox::Yes, QMessageBox::No}},
                      StyleCase{64, QMessageBox::Information, {QMessageBox::Ok}},
                      StyleCase{4, QMessageBox::NoIcon, {QMessageBox::Yes, QMessageBox::No}}));

TEST(MessageBox, ButtonsCarryChineseLabels) {
  auto box = QtDialogs::BuildMessageBox("确定要还原吗？", "警告", 52);
  EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
  EXPECT_EQ(box->button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
  auto ok = QtDialogs::BuildMessageBox("x", "提示", 0);
  EXPECT_EQ(ok->button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
}

// Runs `act` on the modal dialog once it is up.
void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

TEST(MessageBox, ShownBoxReturnsTheAnswerOfThePressedButton) {
  QtDialogs dialogs;
  struct Case {
    int style;
    QMessageBox::StandardButton press;
    int answer;
  };
  for (const Case c : {Case{52, QMessageBox::No, platform::kIdNo},
                       Case{52, QMessageBox::Yes, platform::kIdYes},
                       Case{48, QMessageBox::Ok, platform::kIdOk}}) {
    WhenModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      box->button(c.press)->click();
    });
    EXPECT_EQ(dialogs.MessageBox("确定要还原吗？", "警告", c.style), c.answer);
  }
}

const FolderDialogTexts kTexts{"选择路径", "路径", "目录", "Drives", "确定", "取消"};

TEST(FolderDialog, EachPromptLabelsItsFieldAndTheDrivesAreTheMountedFileSystems) {
  auto dialog = QtDialogs::BuildFolderDialog(kTexts);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("选择路径"));
  const struct {
    QLabel* prompt;
    const char* text;
    QWidget* field;
  } rows[] = {{dialog->lblPath, "路径", dialog->edtPath},
              {dialog->lblFolders, "目录", dialog->tvFolders},
              {dialog->lblDrives, "Drives", dialog->cbDrives}};
  for (const auto& row : rows) {
    EXPECT_EQ(row.prompt->text(), QString::fromUtf8(row.text));
    EXPECT_EQ(row.prompt->buddy(), row.field);
  }
  EXPECT_EQ(dialog->btnOk->text(), QStringLiteral("确定"));
  EXPECT_EQ(dialog->btnCancel->text(), QStringLiteral("取消"));
  EXPECT_EQ(dialog->cbDrives->count(), static_cast<int>(ui::ListDrives().size()));
  EXPECT_EQ(dialog->cbDrives->itemText(0), QStringLiteral("/"));
}

TEST(Drives, AreTheWholeFileSystemsOfTheMountTable) {
  const char* table =
      "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "23 22 0:5 / /proc rw - proc proc rw\n"
      "24 22 0:6 / /dev/shm rw - tmpfs tmpfs rw\n"
      "25 22 8:17 / /media/user/U\\040\xE7\x9B\x98 rw shared:5 - vfat /dev/sdb1 rw\n"
      "26 22 0:40 / /mnt/share rw - nfs4 server:/export rw\n"
      "27 22 0:41 / /mnt/ramdisk rw - tmpfs tmpfs rw\n"
      "28 22 8:1 /var/lib/docker/hosts /etc/hosts rw - ext4 /dev/sda1 rw\n"
      "29 22 0:42 /@home /home rw - btrfs /dev/sda2 rw\n"
      "30 22 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
      "31 22 11:0 / /run/media/user/CD ro - iso9660 /dev/sr0 ro\n"
      "32 26 0:40 / /mnt/share rw - nfs4 server:/export rw\n";
  EXPECT_EQ(ui::DrivesInMountTable(table),
            (std::vector<std::string>{"/", "/home", "/media/user/U \xE7\x9B\x98", "/mnt/ramdisk",
                                      "/mnt/share", "/run/media/user/CD"}));
}

TEST(FolderDialog, ReturnsTheChosenFolderOrNothingWhenCancelled) {
  testsupport::TempDir temp;
  std::filesystem::create_directories(temp / "a/b");
  QtDialogs dialogs;

  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<ui::TSelectFolderDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->SetFolder(temp / "a/b");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->Settled(); }));
    dialog->btnOk->click();
  });
  EXPECT_EQ(dialogs.SelectFolder(kTexts), std::optional<std::string>(temp / "a/b"));

  WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(dialogs.SelectFolder(kTexts).has_value());
}

TEST(OpenFileDialog, SpeaksQtsChineseOnceItsTextsAreInstalled) {
  ASSERT_TRUE(ui::InstallQtChineseTexts());
  auto dialog = QtDialogs::BuildOpenFileDialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("打开"));
  EXPECT_EQ(dialog->labelText(QFileDialog::LookIn), QStringLiteral("查找范围："));
  EXPECT_EQ(dialog->labelText(QFileDialog::FileName), QStringLiteral("文件名称(&N)："));
  EXPECT_EQ(dialog->labelText(QFileDialog::FileType), QStringLiteral("文件类型："));
  EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("打开(&O)"));
  EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("所有文件 (*)")});
}

}  // namespace
