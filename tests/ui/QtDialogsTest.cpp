#include "ui/QtDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "support/TempDir.h"

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

TEST(FolderDialog, CarriesItsCaptionAndTexts) {
  auto dialog = QtDialogs::BuildFolderDialog(kTexts);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("选择路径"));
  EXPECT_EQ(dialog->labelText(QFileDialog::FileName), QStringLiteral("路径"));
  EXPECT_EQ(dialog->labelText(QFileDialog::LookIn), QStringLiteral("目录"));
  EXPECT_EQ(dialog->labelText(QFileDialog::FileType), QStringLiteral("Drives"));
  EXPECT_EQ(dialog->labelText(QFileDialog::Accept), QStringLiteral("确定"));
  EXPECT_EQ(dialog->labelText(QFileDialog::Reject), QStringLiteral("取消"));
  EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
  EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
  ASSERT_FALSE(dialog->sidebarUrls().isEmpty());
  EXPECT_EQ(dialog->sidebarUrls().first().toLocalFile(), QDir::rootPath());
}

TEST(FolderDialog, ReturnsTheChosenFolderOrNothingWhenCancelled) {
  testsupport::TempDir temp;
  QtDialogs dialogs;

  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(temp.path()));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  auto chosen = dialogs.SelectFolder(kTexts);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, QDir::cleanPath(QString::fromStdString(temp.path())).toStdString());

  WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_FALSE(dialogs.SelectFolder(kTexts).has_value());
}

}  // namespace
