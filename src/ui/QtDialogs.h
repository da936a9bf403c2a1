#pragma once
// The dialogs of the desktop program: message boxes, the folder-selection dialog and the
// open-file dialog, shown with Qt and answered by the user.

#include <memory>

#include "platform/Dialogs.h"

class QFileDialog;
class QMessageBox;
class QWidget;

namespace ui {

class TSelectFolderDialog;

// Installs Qt's own Chinese texts (qtbase_zh_CN from Qt's translations folder) into the running
// application, so that the standard dialogs speak Chinese. False when the file is missing; the
// dialogs then keep Qt's English.
bool InstallQtChineseTexts();

class QtDialogs : public platform::IDialogs {
 public:
  int MessageBox(const std::string& text, const std::string& caption, int style) override;
  std::optional<std::string> SelectFolder(const platform::FolderDialogTexts& texts) override;
  std::optional<std::string> OpenFile() override;

  // The box for a text, caption and style code, ready to be shown: icon from the high four
  // bits of the style (16 error, 32 question, 48 exclamation, 64 information), buttons from
  // the low four (0 OK, 1 OK/Cancel, 3 Yes/No/Cancel, 4 Yes/No).
  static std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text,
                                                      const std::string& caption, int style,
                                                      QWidget* parent = nullptr);
  // The answer code (kIdOk, kIdYes, kIdNo, 2 for Cancel) of the button the user pressed.
  static int AnswerOf(int standardButton);

  // The folder dialog with the given texts, opening in the home folder.
  static std::unique_ptr<TSelectFolderDialog> BuildFolderDialog(
      const platform::FolderDialogTexts& texts, QWidget* parent = nullptr);
  // The open-file dialog: Qt's own on every desktop, so it speaks the installed texts; no filter
  // and no title of its own.
  static std::unique_ptr<QFileDialog> BuildOpenFileDialog(QWidget* parent = nullptr);
};

}  // namespace ui
