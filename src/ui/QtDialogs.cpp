#include "ui/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>
#include <QUrl>

namespace ui {

namespace {

constexpr int kIdCancel = 2;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QWidget* ActiveParent() { return QApplication::activeWindow(); }

QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Zen Hei")});
  font.setPixelSize(11);
  return font;
}

}  // namespace

std::unique_ptr<QMessageBox> QtDialogs::BuildMessageBox(const std::string& text,
                                                        const std::string& caption, int style,
                                                        QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(Q(caption));
  box->setText(Q(text));
  box->setTextFormat(Qt::PlainText);

  switch (style & 0xF0) {
    case 0x10: box->setIcon(QMessageBox::Critical); break;
    case 0x20: box->setIcon(QMessageBox::Question); break;
    case 0x30: box->setIcon(QMessageBox::Warning); break;
    case 0x40: box->setIcon(QMessageBox::Information); break;
    default: box->setIcon(QMessageBox::NoIcon); break;
  }

  // The answers carry the labels a Chinese desktop shows.
  QPushButton* first = nullptr;
  auto add = [&](QMessageBox::StandardButton button, const char* label) {
    QPushButton* added = box->addButton(button);
    added->setText(QString::fromUtf8(label));
    if (first == nullptr) first = added;
  };
  switch (style & 0x0F) {
    case 1:
      add(QMessageBox::Ok, "确定");
      add(QMessageBox::Cancel, "取消");
      break;
    case 3:
      add(QMessageBox::Yes, "是(&Y)");
      add(QMessageBox::No, "否(&N)");
      add(QMessageBox::Cancel, "取消");
      break;
    case 4:
      add(QMessageBox::Yes, "是(&Y)");
      add(QMessageBox::No, "否(&N)");
      break;
    default:
      add(QMessageBox::Ok, "确定");
      break;
  }
  box->setDefaultButton(first);
  return box;
}

int QtDialogs::AnswerOf(int standardButton) {
  switch (standardButton) {
    case QMessageBox::Yes: return platform::kIdYes;
    case QMessageBox::No: return platform::kIdNo;
    case QMessageBox::Cancel: return kIdCancel;
    default: return platform::kIdOk;
  }
}

int QtDialogs::MessageBox(const std::string& text, const std::string& caption, int style) {
  auto box = BuildMessageBox(text, caption, style, ActiveParent());
  box->exec();
  QAbstractButton* clicked = box->clickedButton();
  if (clicked == nullptr) {
    // Closed with Escape or the window's close: Cancel where there is one, else No, else OK.
    if ((style & 0x0F) == 4) return platform::kIdNo;
    if ((style & 0x0F) == 1 || (style & 0x0F) == 3) return kIdCancel;
    return platform::kIdOk;
  }
  return AnswerOf(box->standardButton(clicked));
}

std::unique_ptr<QFileDialog> QtDialogs::BuildFolderDialog(const platform::FolderDialogTexts& texts,
                                                          QWidget* parent) {
  auto dialog = std::make_unique<QFileDialog>(parent);
  // Qt's own dialog, so that the captions below are the ones shown.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setOption(QFileDialog::ShowDirsOnly, true);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFont(DialogFont());
  dialog->setWindowTitle(Q(texts.caption));
  dialog->setLabelText(QFileDialog::FileName, Q(texts.pathPrompt));
  dialog->setLabelText(QFileDialog::LookIn, Q(texts.treePrompt));
  dialog->setLabelText(QFileDialog::FileType, Q(texts.drivePrompt));
  dialog->setLabelText(QFileDialog::Accept, Q(texts.okText));
  dialog->setLabelText(QFileDialog::Reject, Q(texts.cancelText));

  // The drive list: the root and every mounted volume that holds files.
  QList<QUrl> drives{QUrl::fromLocalFile(QDir::rootPath())};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady() || volume.rootPath() == QDir::rootPath()) continue;
    drives << QUrl::fromLocalFile(volume.rootPath());
  }
  drives << QUrl::fromLocalFile(QDir::homePath());
  dialog->setSidebarUrls(drives);
  dialog->setDirectory(QDir::homePath());
  return dialog;
}

std::optional<std::string> QtDialogs::SelectFolder(const platform::FolderDialogTexts& texts) {
  auto dialog = BuildFolderDialog(texts, ActiveParent());
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  // A folder's full path: the root keeps its separator, other folders end without one.
  return QDir::cleanPath(chosen.first()).toStdString();
}

std::optional<std::string> QtDialogs::OpenFile() {
  const QString file = QFileDialog::getOpenFileName(ActiveParent());
  if (file.isEmpty()) return std::nullopt;
  return QDir::cleanPath(file).toStdString();
}

}  // namespace ui
