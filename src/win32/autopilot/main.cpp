// autopilot.exe: starts the real DataMigration.exe and drives its windows as a user would, from
// outside, through the window system alone: it finds the controls and boxes by window class and
// text, clicks them, answers every box by script and prints it as the window system shows it.
//
//   autopilot backup FOLDER [--exe PATH] [--screenshots DIR]
//   autopilot restore ARCHIVE [--answer yes|no] [--exe PATH] [--screenshots DIR]
//
// Chooses the mode with its radio button, the folder (the folder dialog's path) or the archive (the
// open-file dialog's file name) through the browse button, and presses the start button. Every
// message box is printed ("[box] caption | text | style N") and answered: OK, or the given answer
// to a Yes/No question. When the run is over, the exit button closes the program. DataMigration.exe
// is looked for beside autopilot.exe unless --exe names it. --screenshots saves pictures of the
// main window, the dialog, the progress window and the first box into DIR.
// Exit status: 0 when the procedure showed its success box, 1 when it did not, 2 on bad arguments,
// 3 when the program could not be started or driven.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <objidl.h>  // before gdiplus.h, which needs it with WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include "platform/Win32Text.h"

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

constexpr int kFolderPathId = 10;    // the folder dialog's path field
constexpr int kFileNameCombo = 1148;  // cmb13, the open-file dialog's file name
constexpr int kFileNameEdit = 1152;   // edt1, the same in the older dialog
constexpr int kMessageTextId = 0xFFFF;

struct Failure {
  std::string what;
};

std::wstring ClassOf(HWND h) {
  wchar_t name[256] = {};
  GetClassNameW(h, name, 256);
  return name;
}

// The text as the control itself gives it (GetWindowText would give another process's edit box
// only its caption, not what it shows).
std::wstring TextOf(HWND h) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000, &got);
  text.resize(static_cast<std::size_t>(got));
  return text;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
  std::vector<HWND> found;
  struct Search {
    DWORD pid;
    std::vector<HWND>* found;
  } search{pid, &found};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == s->pid && IsWindowVisible(h)) s->found->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return found;
}

HWND Child(HWND parent, const wchar_t* cls, const std::wstring& text) {
  struct Search {
    const wchar_t* cls;
    const std::wstring* text;
    HWND hit;
  } search{cls, &text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (lstrcmpiW(ClassOf(h).c_str(), s->cls) == 0 && TextOf(h) == *s->text) {
          s->hit = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.hit;
}

HWND WaitFor(const std::function<HWND()>& find, int seconds, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (HWND h = find()) return h;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw Failure{std::string("no ") + what + " appeared"};
}

// Posted, not sent: the handler may run a modal loop, which must not hold the autopilot.
void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

bool IsFileDialog(HWND h) { return GetDlgItem(h, kFileNameCombo) != nullptr || GetDlgItem(h, kFileNameEdit) != nullptr; }

bool IsMessageBox(HWND h) { return ClassOf(h) == L"#32770" && !IsFileDialog(h) && GetDlgItem(h, kMessageTextId) != nullptr; }

// The icon a box shows, told by the colours it is drawn in on the screen: the error icon is red,
// the exclamation icon yellow, the information icon blue (the boxes of this program use no other).
int IconOf(HWND icon) {
  RECT r{};
  GetWindowRect(icon, &r);
  HDC screen = GetDC(nullptr);
  int red = 0, yellow = 0, blue = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const COLORREF c = GetPixel(screen, x, y);
      const int cr = GetRValue(c), cg = GetGValue(c), cb = GetBValue(c);
      if (cr > 160 && cg < 90 && cb < 90) ++red;
      if (cr > 160 && cg > 140 && cb < 90) ++yellow;
      if (cb > 140 && cr < 110 && cg < 160) ++blue;
    }
  }
  ReleaseDC(nullptr, screen);
  const int most = std::max({red, yellow, blue});
  if (most < 20) return 0;
  return most == red ? MB_ICONERROR : most == yellow ? MB_ICONWARNING : MB_ICONINFORMATION;
}

// The style code the box shows: its buttons (OK, or Yes and No) and its icon.
int StyleOf(HWND box) {
  int style = GetDlgItem(box, IDYES) != nullptr ? MB_YESNO : MB_OK;
  HWND icon = nullptr;
  EnumChildWindows(
      box,
      [](HWND h, LPARAM p) -> BOOL {
        if (lstrcmpiW(ClassOf(h).c_str(), L"Static") == 0 && (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(h)) {
          *reinterpret_cast<HWND*>(p) = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&icon));
  return icon ? style | IconOf(icon) : style;
}

// Pictures of the windows as the screen shows them (frame and title bar included), saved as PNG
// into the screenshot folder; without a folder nothing is taken.
class Camera {
 public:
  explicit Camera(std::wstring dir) : dir_(std::move(dir)) {
    if (dir_.empty()) return;
    CreateDirectoryW(dir_.c_str(), nullptr);
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~Camera() {
    if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
  }
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  void Take(HWND window, const wchar_t* name) {
    if (dir_.empty() || window == nullptr || !taken_.insert(name).second) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // painted
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    // The PNG encoder of GDI+.
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    Gdiplus::GpBitmap* image = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok) {
      const std::wstring path = dir_ + L"\\" + name + L".png";
      if (Gdiplus::DllExports::GdipSaveImageToFile(image, path.c_str(), &png, nullptr) == Gdiplus::Ok) {
        std::printf("[screenshot] %s\n", Narrow(path).c_str());
      }
      Gdiplus::DllExports::GdipDisposeImage(image);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
  }

 private:
  std::wstring dir_;
  ULONG_PTR token_ = 0;
  std::set<std::wstring> taken_;
};

int Usage(const char* message) {
  std::fprintf(stderr,
               "autopilot: %s\n"
               "usage: autopilot backup FOLDER [--exe PATH] [--screenshots DIR]\n"
               "       autopilot restore ARCHIVE [--answer yes|no] [--exe PATH] [--screenshots DIR]\n",
               message);
  return 2;
}

std::wstring BesideMe(const wchar_t* name) {
  std::wstring self(MAX_PATH, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return self.substr(0, self.find_last_of(L"\\/") + 1) + name;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Narrow(argv[i]));
  if (args.size() < 2 || (args[0] != "backup" && args[0] != "restore")) return Usage("backup FOLDER or restore ARCHIVE");
  const bool backup = args[0] == "backup";
  const std::string target = args[1];
  bool answerYes = true;
  std::wstring exe = BesideMe(L"DataMigration.exe");
  std::wstring shots;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--answer" && i + 1 < args.size() && (args[i + 1] == "yes" || args[i + 1] == "no")) {
      answerYes = args[++i] == "yes";
    } else if (args[i] == "--exe" && i + 1 < args.size()) {
      exe = Widen(args[++i]);
    } else if (args[i] == "--screenshots" && i + 1 < args.size()) {
      shots = Widen(args[++i]);
    } else {
      return Usage(("unexpected argument " + args[i]).c_str());
    }
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "autopilot: cannot start %s (error %lu)\n", Narrow(exe).c_str(), GetLastError());
    return 3;
  }
  const DWORD pid = process.dwProcessId;
  Camera camera(shots);
  bool succeeded = false;
  int status = 3;
  try {
    WaitForInputIdle(process.hProcess, 30000);
    HWND main = WaitFor(
        [&]() -> HWND {
          for (HWND h : TopLevelWindows(pid))
            if (ClassOf(h) == L"TFImportDate") return h;
          return nullptr;
        },
        30, "main window");
    std::printf("[window] %s\n", Narrow(TextOf(main)).c_str());
    const auto control = [&](const wchar_t* cls, const wchar_t* text) {
      return WaitFor([&] { return Child(main, cls, text); }, 10, Narrow(text).c_str());
    };
    if (!backup) {
      Click(control(L"Button", L"NorvaleV4.0还原"));
      WaitFor([&] { return IsWindowVisible(control(L"Button", L"btnBeginRestore")) ? main : nullptr; }, 10, "restore mode");
    }

    // Browse: the folder dialog takes the path in its path field, the file dialog in its name.
    Click(control(L"Button", L"btnSelect"));
    HWND dialog = WaitFor(
        [&]() -> HWND {
          for (HWND h : TopLevelWindows(pid))
            if (backup ? ClassOf(h) == L"TSelectFolderDialog" : IsFileDialog(h)) return h;
          return nullptr;
        },
        20, backup ? "folder dialog" : "file dialog");
    std::printf("[dialog] %s\n", Narrow(TextOf(dialog)).c_str());
    if (backup) camera.Take(dialog, L"folder-dialog");
    HWND field = backup ? GetDlgItem(dialog, kFolderPathId)
                        : (GetDlgItem(dialog, kFileNameCombo) ? GetDlgItem(dialog, kFileNameCombo) : GetDlgItem(dialog, kFileNameEdit));
    // Once the dialog has settled (its tree selects the start folder and writes its path).
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(target).c_str()));
    Click(GetDlgItem(dialog, IDOK));
    WaitFor([&] { return IsWindow(dialog) && IsWindowVisible(dialog) ? nullptr : main; }, 20, "end of the dialog");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    HWND edit = WaitFor([&] { return FindWindowExW(main, nullptr, L"Edit", nullptr); }, 5, "edtFile");
    std::printf("[edtFile] %s\n", Narrow(TextOf(edit)).c_str());
    camera.Take(main, backup ? L"main-window" : L"main-restore");

    // Start, then answer every box until the run is over: the start button enabled again and no
    // box open for a while.
    HWND start = control(L"Button", backup ? L"btnBeginBackup" : L"btnBeginRestore");
    Click(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::wstring success = backup ? L"数据备份完成！" : L"数据还原完成！";
    std::set<HWND> answered;
    auto quietSince = std::chrono::steady_clock::now();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (std::chrono::steady_clock::now() < deadline) {
      bool boxOpen = false;
      for (HWND h : TopLevelWindows(pid)) {
        if (ClassOf(h) == L"TFmProgressBar") camera.Take(h, backup ? L"progress-backup" : L"progress-restore");
        if (!IsMessageBox(h)) continue;
        boxOpen = true;
        if (answered.count(h) != 0) continue;
        answered.insert(h);
        // Drawn once it has been shown: the icon is read off the screen.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::wstring text = TextOf(GetDlgItem(h, kMessageTextId));
        const int style = StyleOf(h);
        camera.Take(h, L"message-box");
        std::printf("[box] %s | %s | style %d\n", Narrow(TextOf(h)).c_str(), Narrow(text).c_str(), style);
        std::fflush(stdout);
        if (text == success) succeeded = true;
        HWND button = GetDlgItem(h, IDOK);
        if (GetDlgItem(h, IDYES) != nullptr) button = GetDlgItem(h, answerYes ? IDYES : IDNO);
        Click(button);
      }
      if (boxOpen || !IsWindowEnabled(start)) {
        quietSince = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - quietSince > std::chrono::milliseconds(1500)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Click(control(L"Button", L"btnExit"));
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) throw Failure{"the program did not end after exit"};
    status = succeeded ? 0 : 1;
    std::printf("[result] %s\n", succeeded ? "success" : "failure");
  } catch (const Failure& f) {
    std::fprintf(stderr, "autopilot: %s\n", f.what.c_str());
    TerminateProcess(process.hProcess, 3);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}
