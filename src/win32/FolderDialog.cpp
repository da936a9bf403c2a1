// The folder-selection dialog of the browse button: the path of the chosen folder (read-only), a
// tree of the folders of one drive, the drive list, the confirm and cancel buttons. Folders are
// listed when their branch is first opened.

#include <windows.h>

#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Win32Text.h"
#include "win32/Win32Platform.h"

namespace win32 {

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

constexpr const wchar_t* kDialogClass = L"TSelectFolderDialog";
constexpr int kWidth = 360, kHeight = 420, kMargin = 9, kLine = 16, kField = 21, kButtonWidth = 75,
              kButtonHeight = 25;
enum : int { kIdPath = 10, kIdTree, kIdDrives, kIdOk = IDOK, kIdCancel = IDCANCEL };

class FolderDialog {
 public:
  FolderDialog(HWND owner, const platform::FolderDialogTexts& texts) : owner_(owner) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    if (!GetClassInfoExW(GetModuleHandleW(nullptr), kDialogClass, &cls)) {
      cls.lpfnWndProc = &FolderDialog::WindowProc;
      cls.hInstance = GetModuleHandleW(nullptr);
      cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
      cls.lpszClassName = kDialogClass;
      RegisterClassExW(&cls);
    }
    RECT frame{0, 0, kWidth, kHeight};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT over{};
    if (owner_ && IsWindowVisible(owner_)) {
      GetWindowRect(owner_, &over);
    } else {
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    }
    hwnd_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kDialogClass, Widen(texts.caption).c_str(), style,
                            over.left + (over.right - over.left - w) / 2, over.top + (over.bottom - over.top - h) / 2,
                            w, h, owner_, nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd_) throw std::runtime_error("the folder dialog cannot be created");
    font_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_DONTCARE, L"Tahoma");
    const int inner = kWidth - 2 * kMargin;
    int y = kMargin;
    Add(L"STATIC", texts.pathPrompt, SS_LEFT | SS_NOPREFIX, 0, kMargin, y, inner, kLine);
    y += kLine;
    path_ = Add(L"EDIT", "", ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, kIdPath, kMargin, y, inner, kField);
    y += kField + kMargin;
    Add(L"STATIC", texts.treePrompt, SS_LEFT | SS_NOPREFIX, 0, kMargin, y, inner, kLine);
    y += kLine;
    const int bottom = kHeight - kMargin - kButtonHeight - kMargin - kField - kLine - kMargin;
    tree_ = Add(WC_TREEVIEWW, "", TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_BORDER |
                                      WS_TABSTOP,
                kIdTree, kMargin, y, inner, bottom - y);
    y = bottom + kMargin;
    Add(L"STATIC", texts.drivePrompt, SS_LEFT | SS_NOPREFIX, 0, kMargin, y, inner, kLine);
    y += kLine;
    drives_ = Add(L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kIdDrives, kMargin, y, inner, 200);
    y = kHeight - kMargin - kButtonHeight;
    Add(L"BUTTON", texts.okText, BS_DEFPUSHBUTTON | WS_TABSTOP, kIdOk, kWidth - 2 * (kMargin + kButtonWidth), y,
        kButtonWidth, kButtonHeight);
    Add(L"BUTTON", texts.cancelText, BS_PUSHBUTTON | WS_TABSTOP, kIdCancel, kWidth - kMargin - kButtonWidth, y,
        kButtonWidth, kButtonHeight);
    ListDrives();
  }

  ~FolderDialog() {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    DeleteObject(font_);
  }
  FolderDialog(const FolderDialog&) = delete;
  FolderDialog& operator=(const FolderDialog&) = delete;

  std::optional<std::string> Run() {
    const bool ownerEnabled = owner_ && IsWindowEnabled(owner_);
    if (ownerEnabled) EnableWindow(owner_, FALSE);
    ShowWindow(hwnd_, SW_SHOW);
    MSG msg;
    while (!done_) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got <= 0) {
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (IsDialogMessageW(hwnd_, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (ownerEnabled) EnableWindow(owner_, TRUE);
    ShowWindow(hwnd_, SW_HIDE);
    if (owner_) SetActiveWindow(owner_);
    return result_;
  }

 private:
  HWND Add(const wchar_t* cls, const std::string& text, DWORD style, int id, int x, int y, int w, int h) {
    HWND child = CreateWindowExW(0, cls, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return child;
  }

  // Floppy, fixed, network, CD-ROM and RAM drives, each as its root ("C:\").
  void ListDrives() {
    std::vector<wchar_t> names(GetLogicalDriveStringsW(0, nullptr) + 1, L'\0');
    GetLogicalDriveStringsW(static_cast<DWORD>(names.size()), names.data());
    for (const wchar_t* name = names.data(); *name; name += wcslen(name) + 1) {
      switch (GetDriveTypeW(name)) {
        case DRIVE_REMOVABLE:
        case DRIVE_FIXED:
        case DRIVE_REMOTE:
        case DRIVE_CDROM:
        case DRIVE_RAMDISK:
          roots_.emplace_back(name);
          SendMessageW(drives_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
          break;
        default:
          break;
      }
    }
    std::size_t first = 0;
    for (std::size_t i = 0; i < roots_.size(); ++i) {
      if (_wcsicmp(roots_[i].c_str(), L"C:\\") == 0) first = i;
    }
    if (!roots_.empty()) {
      SendMessageW(drives_, CB_SETCURSEL, first, 0);
      ShowDrive(first);
    }
  }

  HTREEITEM AddFolder(HTREEITEM parent, const std::wstring& label, const std::wstring& path) {
    paths_.push_back(path);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t*>(label.c_str());
    insert.item.lParam = static_cast<LPARAM>(paths_.size() - 1);
    insert.item.cChildren = 1;  // until the branch is listed
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  }

  void ShowDrive(std::size_t index) {
    if (index >= roots_.size()) return;
    TreeView_DeleteAllItems(tree_);
    paths_.clear();
    listed_.clear();
    HTREEITEM root = AddFolder(TVI_ROOT, roots_[index], roots_[index]);
    Expand(root);
    TreeView_Expand(tree_, root, TVE_EXPAND);
    TreeView_SelectItem(tree_, root);
  }

  // Lists the folders of a branch once, sorted as the file system returns them.
  void Expand(HTREEITEM item) {
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    TreeView_GetItem(tree_, &data);
    const auto index = static_cast<std::size_t>(data.lParam);
    if (index < listed_.size() && listed_[index]) return;
    if (listed_.size() <= index) listed_.resize(index + 1, false);
    listed_[index] = true;
    const std::wstring folder = paths_[index];
    std::wstring base = folder;
    if (base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(platform::win32::LongPath(base + L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchLimitToDirectories, nullptr, 0);
    bool any = false;
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) continue;
        AddFolder(item, name, base + name);
        any = true;
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    if (!any) {
      data.mask = TVIF_CHILDREN;
      data.cChildren = 0;
      TreeView_SetItem(tree_, &data);
    }
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<FolderDialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
      case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom != self->tree_) break;
        const auto* tree = reinterpret_cast<const NMTREEVIEWW*>(lParam);
        if (header->code == TVN_ITEMEXPANDINGW && (tree->action & TVE_EXPAND)) {
          self->Expand(tree->itemNew.hItem);
        } else if (header->code == TVN_SELCHANGEDW) {
          const auto index = static_cast<std::size_t>(tree->itemNew.lParam);
          if (index < self->paths_.size()) SetWindowTextW(self->path_, self->paths_[index].c_str());
        }
        return 0;
      }
      case WM_COMMAND:
        if (LOWORD(wParam) == kIdDrives && HIWORD(wParam) == CBN_SELCHANGE) {
          self->ShowDrive(static_cast<std::size_t>(SendMessageW(self->drives_, CB_GETCURSEL, 0, 0)));
        } else if (LOWORD(wParam) == kIdOk) {
          std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(self->path_)) + 1, L'\0');
          GetWindowTextW(self->path_, text.data(), static_cast<int>(text.size()));
          text.resize(text.size() - 1);
          if (!text.empty()) self->result_ = Narrow(text);
          self->done_ = true;
        } else if (LOWORD(wParam) == kIdCancel) {
          self->done_ = true;
        }
        return 0;
      case WM_CLOSE:
        self->done_ = true;
        return 0;
      case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  HWND owner_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND path_ = nullptr, tree_ = nullptr, drives_ = nullptr;
  HFONT font_ = nullptr;
  std::vector<std::wstring> roots_;
  std::vector<std::wstring> paths_;
  std::vector<bool> listed_;
  std::optional<std::string> result_;
  bool done_ = false;
};

}  // namespace

std::optional<std::string> ShowFolderDialog(HWND owner, const platform::FolderDialogTexts& texts) {
  FolderDialog dialog(owner, texts);
  return dialog.Run();
}

}  // namespace win32
