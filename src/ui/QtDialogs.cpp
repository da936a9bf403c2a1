#include "ui/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <cstdlib>

#include "ui/TSelectFolderDialog.h"

namespace ui {

namespace {

constexpr int kIdCancel = 2;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QWidget* ActiveParent() { return QApplication::activeWindow(); }

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
    added->setIcon(QIcon());  // some desktops' styles put pictures on standard buttons
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

std::unique_ptr<TSelectFolderDialog> QtDialogs::BuildFolderDialog(
    const platform::FolderDialogTexts& texts, QWidget* parent) {
  auto dialog = std::make_unique<TSelectFolderDialog>(texts, parent);
  const char* home = std::getenv("HOME");
  dialog->SetFolder(home != nullptr && *home == '/' ? home : "/");
  return dialog;
}

std::optional<std::string> QtDialogs::SelectFolder(const platform::FolderDialogTexts& texts) {
  auto dialog = BuildFolderDialog(texts, ActiveParent());
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  return dialog->Folder();
}

std::unique_ptr<QFileDialog> QtDialogs::BuildOpenFileDialog(QWidget* parent) {
  auto dialog = std::make_unique<QFileDialog>(parent);
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  return dialog;
}

std::optional<std::string> QtDialogs::OpenFile() {
  auto dialog = BuildOpenFileDialog(ActiveParent());
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  return QFile::encodeName(QDir::cleanPath(dialog->selectedFiles().first())).toStdString();
}

bool InstallQtChineseTexts() {
  auto* app = QCoreApplication::instance();
  if (app == nullptr) return false;
  auto* texts = new QTranslator(app);
  if (!texts->load(QStringLiteral("qtbase_zh_CN"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(texts)) {
    delete texts;
    return false;
  }
  return true;
}

}  // namespace ui
