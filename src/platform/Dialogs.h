#pragma once
// Message boxes and the folder and open-file dialogs, behind one interface so that tests and the
// autopilot answer them by script. Style codes and answers keep their Windows meaning.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Message box styles (button set + icon), as the callers pass them.
enum MsgStyle : int {
  kMbOk = 0,
  kMbIconError = 16,          // OK with the error icon
  kMbIconWarning = 48,        // OK with the exclamation icon
  kMbYesNoWarning = 52,       // Yes and No with the exclamation icon
  kMbIconInformation = 64,    // OK with the information icon
  kMbYesNo = 4,               // Yes and No, no icon
};

// Answers.
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Texts of the folder-selection dialog.
struct FolderDialogTexts {
  std::string caption;      // window caption
  std::string pathPrompt;   // label of the path field
  std::string treePrompt;   // label of the folder tree
  std::string drivePrompt;  // label of the drive list
  std::string okText;
  std::string cancelText;
};

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // Shows a modal message box; returns the answer (kIdOk, kIdYes, kIdNo).
  virtual int MessageBox(const std::string& text, const std::string& caption, int style) = 0;
  // Lets the user choose a folder; nullopt when cancelled.
  virtual std::optional<std::string> SelectFolder(const FolderDialogTexts& texts) = 0;
  // Lets the user choose an existing file; nullopt when cancelled.
  virtual std::optional<std::string> OpenFile() = 0;
};

// The dialogs in use. Until a user interface installs its own, a headless implementation is used
// that writes every box to standard error, answers OK (and No to a Yes/No question), and cancels
// every file or folder dialog.
IDialogs& Dialogs();
// Installs dialogs (not owned); nullptr restores the headless ones.
void SetDialogs(IDialogs* dialogs);

// One message box as it was shown.
struct ShownMessage {
  std::string text;
  std::string caption;
  int style = 0;
};

// Dialogs answered from queues, recording every box. When a queue is empty a box is answered with
// kIdOk (kIdNo for a Yes/No style) and a file or folder dialog is cancelled.
class ScriptedDialogs : public IDialogs {
 public:
  int MessageBox(const std::string& text, const std::string& caption, int style) override;
  std::optional<std::string> SelectFolder(const FolderDialogTexts& texts) override;
  std::optional<std::string> OpenFile() override;

  std::deque<int> messageAnswers;
  std::deque<std::optional<std::string>> folderAnswers;
  std::deque<std::optional<std::string>> fileAnswers;

  std::vector<ShownMessage> shown;
  // Called as each message box appears, before it is answered: what the user could see then.
  std::function<void(const ShownMessage&)> onMessage;
  std::vector<FolderDialogTexts> folderDialogs;
  int fileDialogs = 0;
};

// Installs dialogs for the lifetime of the guard and restores the previous ones afterwards.
class ScopedDialogs {
 public:
  explicit ScopedDialogs(IDialogs* dialogs);
  ~ScopedDialogs();
  ScopedDialogs(const ScopedDialogs&) = delete;
  ScopedDialogs& operator=(const ScopedDialogs&) = delete;

 private:
  IDialogs* previous_;
};

}  // namespace platform
