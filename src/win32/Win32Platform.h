#pragma once
// The Windows API's event handling and dialogs for the window-free libraries: the message loop's
// pending messages, message boxes, the open-file dialog and the folder dialog.

#include <windows.h>

#include "platform/Dialogs.h"
#include "platform/EventPump.h"

namespace win32 {

// The folder-selection dialog, modal over `owner`: the chosen folder (a drive's root ends in '\'),
// or nullopt when cancelled.
std::optional<std::string> ShowFolderDialog(HWND owner, const platform::FolderDialogTexts& texts);

class Win32EventPump : public platform::IEventPump {
 public:
  void PumpEvents() override;
  bool WaitForEvents(int ms) override;
};

class Win32Dialogs : public platform::IDialogs {
 public:
  // The window that owns the boxes and dialogs (nullptr: none).
  void SetOwner(HWND owner) { owner_ = owner; }

  int MessageBox(const std::string& text, const std::string& caption, int style) override;
  std::optional<std::string> SelectFolder(const platform::FolderDialogTexts& texts) override;
  std::optional<std::string> OpenFile() override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace win32
