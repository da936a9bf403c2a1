#pragma once
// The dialogs of the autopilot: every message box is printed as it appears and answered by
// script, the folder and open-file dialogs return the folder or archive given on the command line.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace autopilot {

class AutopilotDialogs : public platform::IDialogs {
 public:
  // `answerYes`: the answer to a Yes/No question. `onBox` runs while a box is "on screen", before
  // it is answered (for pictures of the windows at that moment).
  AutopilotDialogs(std::optional<std::string> folder, std::optional<std::string> file, bool answerYes,
                   std::function<void(const platform::ShownMessage&, int index)> onBox);

  int MessageBox(const std::string& text, const std::string& caption, int style) override;
  std::optional<std::string> SelectFolder(const platform::FolderDialogTexts& texts) override;
  std::optional<std::string> OpenFile() override;

  const std::vector<platform::ShownMessage>& Shown() const { return shown_; }

 private:
  std::optional<std::string> folder_;
  std::optional<std::string> file_;
  bool answerYes_;
  std::function<void(const platform::ShownMessage&, int)> onBox_;
  std::vector<platform::ShownMessage> shown_;
};

}  // namespace autopilot
