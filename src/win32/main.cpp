// DataMigration: moves the Norvale report data from a V3.1 installation to a V4.0 one.
// It reads no command-line arguments and no configuration file.

#include <windows.h>

#include <exception>

#include "platform/Win32Text.h"
#include "win32/MainWindow.h"
#include "win32/Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  SetProcessDPIAware();
  win32::Win32EventPump events;
  platform::ScopedEventPump pumping(&events);
  win32::Win32Dialogs dialogs;
  platform::ScopedDialogs installed(&dialogs);
  try {
    win32::MainWindow FImportDate;
    dialogs.SetOwner(FImportDate.Handle());
    ShowWindow(FImportDate.Handle(), show);
    UpdateWindow(FImportDate.Handle());
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (IsDialogMessageW(FImportDate.Handle(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    dialogs.SetOwner(nullptr);
    return static_cast<int>(msg.wParam);
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, platform::win32::Widen(e.what()).c_str(), platform::win32::Widen(app::kApplicationTitle).c_str(),
                MB_ICONERROR);
    return 1;
  }
}
