#include "win32/Win32Platform.h"

#include <commdlg.h>

#include <vector>

#include "platform/Win32Text.h"

namespace win32 {

using platform::win32::Narrow;
using platform::win32::Widen;

void Win32EventPump::PumpEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The message loop that runs the program ends on it: leave it for that loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool Win32EventPump::WaitForEvents(int ms) {
  if (ms <= 0) return false;
  const DWORD woken =
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(ms), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (woken == WAIT_TIMEOUT || woken == WAIT_FAILED) return false;
  PumpEvents();
  return true;
}

int Win32Dialogs::MessageBox(const std::string& text, const std::string& caption, int style) {
  return ::MessageBoxW(owner_, Widen(text).c_str(), Widen(caption).c_str(), static_cast<UINT>(style));
}

std::optional<std::string> Win32Dialogs::OpenFile() {
  std::vector<wchar_t> name(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return Narrow(name.data());
}

std::optional<std::string> Win32Dialogs::SelectFolder(const platform::FolderDialogTexts& texts) {
  return ShowFolderDialog(owner_, texts);
}

}  // namespace win32
