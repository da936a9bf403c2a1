#pragma once
// The dialogs of the desktop program: message boxes, the folder-selection dialog and the
// open-file dialog, shown with Qt and answered by the user.

#include <memory>

#include "platform/Dialogs.h"

class QFileDialog;
class QMessageBox;
class QWidget;

namespace ui {

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

  // The folder dialog with the given texts, opening in the home folder; its side bar lists the
  // root and the mounted volumes as the drives.
  static std::unique_ptr<QFileDialog> BuildFolderDialog(const platform::FolderDialogTexts& texts,
                                                        QWidget* parent = nullptr);
};

}  // namespace ui
