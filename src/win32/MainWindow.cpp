#include "win32/MainWindow.h"

#include <commctrl.h>
#include <objidl.h>
#include <shlwapi.h>
#include <uxtheme.h>
#include <gdiplus.h>

#include <stdexcept>
#include <string>

#include "platform/Win32Text.h"

namespace win32 {

namespace {

using platform::win32::Widen;
namespace gp = Gdiplus::DllExports;

constexpr int kFirstId = 100;
// The system command that moves a window as its caption bar would, from a mouse already held.
constexpr WPARAM kDragMove = 0xF017;

COLORREF ToColorRef(app::Colour c) { return RGB(c.red, c.green, c.blue); }

// GDI+ for the lifetime of the program.
void StartGdiPlus() {
  static ULONG_PTR token = [] {
    ULONG_PTR started = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&started, &input, nullptr);
    return started;
  }();
  (void)token;
}

// A picture compiled into the program as an RCDATA resource; nullptr when it is missing.
Gdiplus::GpImage* LoadPicture(const wchar_t* name) {
  StartGdiPlus();
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const BYTE*>(LockResource(loaded));
  if (!data) return nullptr;
  IStream* stream = SHCreateMemStream(data, SizeofResource(module, found));
  if (!stream) return nullptr;
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (gp::GdipCreateBitmapFromStream(stream, &bitmap) != Gdiplus::Ok) bitmap = nullptr;
  stream->Release();
  return bitmap;
}

// Draws `picture` stretched over `rect`; `veiled` greys it as a disabled control looks.
void DrawPicture(HDC dc, Gdiplus::GpImage* picture, const RECT& rect, bool veiled = false) {
  if (!picture) return;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (gp::GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok) return;
  gp::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
  gp::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
  gp::GdipDrawImageRectI(graphics, picture, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  if (veiled) {
    Gdiplus::GpSolidFill* veil = nullptr;
    gp::GdipCreateSolidFill(0x90C0C0C0, &veil);
    gp::GdipFillRectangleI(graphics, veil, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    gp::GdipDeleteBrush(veil);
  }
  gp::GdipDeleteGraphics(graphics);
}

struct Pictures {
  Gdiplus::GpImage* background = nullptr;
  std::array<Gdiplus::GpImage*, 13> buttons{};
};

Pictures& LoadedPictures() {
  static Pictures pictures = [] {
    Pictures p;
    p.background = LoadPicture(L"BACKGROUND");
    for (const auto& layout : app::MainControls()) {
      if (layout.kind == app::ControlKind::PictureButton) {
        p.buttons[static_cast<std::size_t>(layout.id)] = LoadPicture(Widen(layout.name).c_str());
      }
    }
    return p;
  }();
  return pictures;
}

// Mouse handling shared by the background, the picture buttons and the progress window's panel:
// a move with the left button held drags the whole window; picture buttons show the hand.
LRESULT CALLBACK DragProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR hand) {
  switch (message) {
    case WM_MOUSEMOVE:
      if (wParam & MK_LBUTTON) {
        ReleaseCapture();
        SendMessageW(GetAncestor(hwnd, GA_ROOT), WM_SYSCOMMAND, kDragMove, 0);
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (hand) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, DragProc, 1);
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

HFONT MakeFont(const wchar_t* face, int pixels, bool bold, BYTE charset) {
  return CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, charset,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_DONTCARE, face);
}

void RegisterClassOnce(const wchar_t* name, WNDPROC proc, HBRUSH background) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &cls)) return;
  cls.lpfnWndProc = proc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = background;
  cls.lpszClassName = name;
  cls.hIcon = LoadIconW(cls.hInstance, L"MAINICON");
  cls.hIconSm = cls.hIcon;
  if (!RegisterClassExW(&cls)) {
    throw std::runtime_error("the window class cannot be registered (error " + std::to_string(GetLastError()) + ")");
  }
}

void InitControls() {
  INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&init);
}


// The progress window.
class ProgressWindow : public app::IProgressWindowView {
 public:
  explicit ProgressWindow(HWND owner) : owner_(owner) {
    RegisterClassOnce(kProgressClass, &ProgressWindow::WindowProc, GetSysColorBrush(COLOR_BTNFACE));
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kProgressClass, L"FmProgressBar", WS_POPUP, 0, 0,
                            app::kProgressWidth, app::kProgressHeight, owner, nullptr, GetModuleHandleW(nullptr),
                            this);
    if (!hwnd_) throw std::runtime_error("the progress window cannot be created");
    font_ = MakeFont(L"MS Sans Serif", 11, false, GB2312_CHARSET);
    gaugeFont_ = MakeFont(L"SimSun", 16, false, GB2312_CHARSET);
    for (const auto& layout : app::ProgressControls()) {
      const wchar_t* cls = L"STATIC";
      DWORD style = WS_CHILD | (layout.visible ? WS_VISIBLE : 0);
      switch (layout.id) {
        case app::ProgressControl::Panel1:
          style |= SS_OWNERDRAW | SS_NOTIFY | WS_CLIPSIBLINGS;
          break;
        case app::ProgressControl::Gauge1:
          style |= SS_OWNERDRAW;
          break;
        case app::ProgressControl::pbrDetail:
          cls = PROGRESS_CLASSW;
          break;
        default:
          style |= SS_LEFT | SS_NOPREFIX;
          break;
      }
      HWND child = CreateWindowExW(0, cls, layout.id == app::ProgressControl::pbrDetail ? L"" : Widen(layout.name).c_str(),
                                   style, layout.bounds.left, layout.bounds.top, layout.bounds.width, layout.bounds.height,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + static_cast<int>(layout.id))),
                                   GetModuleHandleW(nullptr), nullptr);
      SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
      SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      children_[static_cast<std::size_t>(layout.id)] = child;
    }
    SetWindowTextW(Child(app::ProgressControl::LabInfo), L"");
    SetWindowTextW(Child(app::ProgressControl::txt1), L"");
    SetWindowSubclass(Child(app::ProgressControl::Panel1), DragProc, 1, 0);
  }

  ~ProgressWindow() override {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    DeleteObject(font_);
    DeleteObject(gaugeFont_);
  }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  void SetText(app::ProgressControl control, const std::string& text) override {
    SetWindowTextW(Child(control), Widen(text).c_str());
  }
  void SetVisible(app::ProgressControl control, bool visible) override {
    ShowWindow(Child(control), visible ? SW_SHOWNA : SW_HIDE);
  }
  void SetGaugePercent(int percent) override {
    percent_ = percent;
    InvalidateRect(Child(app::ProgressControl::Gauge1), nullptr, FALSE);
  }
  void SetBar(int maximum, int position) override {
    HWND bar = Child(app::ProgressControl::pbrDetail);
    SendMessageW(bar, PBM_SETRANGE32, 0, maximum);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
  void SetClientHeight(int height) override {
    SetWindowPos(hwnd_, nullptr, 0, 0, app::kProgressWidth, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(Child(app::ProgressControl::Panel1), nullptr, 0, 0, app::kProgressWidth, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void Show() override {
    RECT over{};
    if (owner_ && IsWindowVisible(owner_)) {
      GetWindowRect(owner_, &over);
    } else {
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    }
    RECT own{};
    GetWindowRect(hwnd_, &own);
    const int w = own.right - own.left, h = own.bottom - own.top;
    SetWindowPos(hwnd_, HWND_TOPMOST, over.left + (over.right - over.left - w) / 2,
                 over.top + (over.bottom - over.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(hwnd_);
  }
  void Hide() override { ShowWindow(hwnd_, SW_HIDE); }

 private:
  HWND Child(app::ProgressControl control) const { return children_[static_cast<std::size_t>(control)]; }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && message == WM_DRAWITEM) {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.hwndItem == self->Child(app::ProgressControl::Panel1)) {
        RECT r = item.rcItem;
        FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(item.hDC, &r, EDGE_BUMP, BF_RECT);
      } else {
        self->DrawGauge(item.hDC, item.rcItem);
      }
      return TRUE;
    }
    if (message == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  // Blue bar on white inside a black border, the percentage across it: white over the bar and
  // blue over the rest.
  void DrawGauge(HDC dc, RECT r) const {
    HBRUSH border = CreateSolidBrush(ToColorRef(app::kGaugeBorder));
    FrameRect(dc, &r, border);
    DeleteObject(border);
    InflateRect(&r, -1, -1);
    RECT bar = r, rest = r;
    bar.right = r.left + (r.right - r.left) * percent_ / 100;
    rest.left = bar.right;
    HBRUSH blue = CreateSolidBrush(ToColorRef(app::kGaugeBar));
    HBRUSH white = CreateSolidBrush(ToColorRef(app::kGaugeBack));
    FillRect(dc, &bar, blue);
    FillRect(dc, &rest, white);
    DeleteObject(blue);
    DeleteObject(white);
    const std::wstring text = std::to_wstring(percent_) + L"%";
    HGDIOBJ old = SelectObject(dc, gaugeFont_);
    SetBkMode(dc, TRANSPARENT);
    for (const auto& [part, colour] : {std::pair{bar, app::kGaugeBack}, std::pair{rest, app::kGaugeBar}}) {
      const int saved = SaveDC(dc);
      IntersectClipRect(dc, part.left, part.top, part.right, part.bottom);
      SetTextColor(dc, ToColorRef(colour));
      RECT all = r;
      DrawTextW(dc, text.c_str(), -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      RestoreDC(dc, saved);
    }
    SelectObject(dc, old);
  }

  HWND owner_ = nullptr;
  HWND hwnd_ = nullptr;
  std::array<HWND, 5> children_{};
  HFONT font_ = nullptr;
  HFONT gaugeFont_ = nullptr;
  int percent_ = 0;
};

}  // namespace

int ControlId(app::Control control) { return kFirstId + static_cast<int>(control); }

MainWindow::MainWindow() {
  InitControls();
  RegisterClassOnce(kMainClass, &MainWindow::WindowProc, nullptr);
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int x = area.left + (area.right - area.left - app::kMainWidth) / 2;
  const int y = area.top + (area.bottom - area.top - app::kMainHeight) / 2;
  hwnd_ = CreateWindowExW(WS_EX_APPWINDOW, kMainClass, Widen(app::kMainCaption).c_str(),
                          WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU, x, y, app::kMainWidth, app::kMainHeight, nullptr,
                          nullptr, GetModuleHandleW(nullptr), this);
  if (!hwnd_) {
    throw std::runtime_error("the main window cannot be created (error " + std::to_string(GetLastError()) + ")");
  }
  font_ = MakeFont(L"NSimSun", 14, false, GB2312_CHARSET);
  boldFont_ = MakeFont(L"NSimSun", 14, true, GB2312_CHARSET);
  CreateControls();
  form_ = std::make_unique<app::MainForm>(*this);
}

MainWindow::~MainWindow() {
  form_.reset();
  if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  DeleteObject(font_);
  DeleteObject(boldFont_);
}

void MainWindow::CreateControls() {
  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, GetModuleHandleW(nullptr),
                          nullptr);
  for (const auto& layout : app::MainControls()) {
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | (layout.visible ? WS_VISIBLE : 0);
    DWORD exStyle = 0;
    std::wstring text = Widen(layout.text);
    switch (layout.kind) {
      case app::ControlKind::Background:
        style |= SS_OWNERDRAW | SS_NOTIFY | WS_CLIPSIBLINGS;
        text = Widen(layout.name);
        break;
      case app::ControlKind::Label:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case app::ControlKind::PictureButton:
        cls = L"BUTTON";
        style |= BS_OWNERDRAW | WS_TABSTOP;
        text = Widen(layout.name);
        break;
      case app::ControlKind::FileList:
        cls = L"LISTBOX";
        style |= LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
        break;
      case app::ControlKind::Edit:
        cls = L"EDIT";
        style |= ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
        break;
      case app::ControlKind::Radio:
        cls = L"BUTTON";
        style |= BS_AUTORADIOBUTTON | WS_TABSTOP | (layout.id == app::Control::rbBackup ? WS_GROUP : 0);
        break;
    }
    const auto index = static_cast<std::size_t>(layout.id);
    HWND child = CreateWindowExW(exStyle, cls, text.c_str(), style, layout.bounds.left, layout.bounds.top,
                                 layout.bounds.width, layout.bounds.height, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(layout.id))),
                                 GetModuleHandleW(nullptr), nullptr);
    if (!child) throw std::runtime_error("a control of the main window cannot be created");
    controls_[index] = child;
    colours_[index] = ToColorRef(layout.colour);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // Created back to front: each new one goes on top of the ones before it.
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (layout.kind == app::ControlKind::Background || layout.kind == app::ControlKind::PictureButton) {
      SetWindowSubclass(child, DragProc, 1, layout.kind == app::ControlKind::PictureButton ? 1 : 0);
    }
    if (layout.kind == app::ControlKind::Radio) {
      // Unthemed, so that the radio buttons draw their text in their own colour.
      SetWindowTheme(child, L"", L"");
    }
    if (*layout.tip && tips_) {
      std::wstring tip = Widen(layout.tip);
      TTTOOLINFOW tool{};
      tool.cbSize = sizeof tool;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = hwnd_;
      tool.uId = reinterpret_cast<UINT_PTR>(child);
      tool.lpszText = tip.data();
      SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
}

const app::ControlLayout* MainWindow::LayoutOf(HWND child) const {
  for (const auto& layout : app::MainControls()) {
    if (controls_[static_cast<std::size_t>(layout.id)] == child) return &layout;
  }
  return nullptr;
}

void MainWindow::Repaint(app::Control control) {
  // Transparent labels show the window behind them: that part of the window is drawn again.
  HWND child = ControlHandle(control);
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  RedrawWindow(hwnd_, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::SetText(app::Control control, const std::string& text) {
  HWND child = ControlHandle(control);
  const std::wstring wide = Widen(text);
  Repaint(control);
  SetWindowTextW(child, wide.c_str());
  if (control == app::Control::lblContectedStatus) {
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    SetWindowPos(child, nullptr, 0, 0, size.cx, app::MainControl(control).bounds.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Repaint(control);
}

void MainWindow::SetTextStyle(app::Control control, app::Colour colour, bool bold) {
  HWND child = ControlHandle(control);
  colours_[static_cast<std::size_t>(control)] = ToColorRef(colour);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? boldFont_ : font_), FALSE);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
  GetWindowTextW(child, text.data(), static_cast<int>(text.size()));
  text.resize(text.size() - 1);
  SetText(control, platform::win32::Narrow(text));
}

void MainWindow::SetVisible(app::Control control, bool visible) {
  ShowWindow(ControlHandle(control), visible ? SW_SHOWNA : SW_HIDE);
  Repaint(control);
}

void MainWindow::SetEnabled(app::Control control, bool enabled) { EnableWindow(ControlHandle(control), enabled); }

void MainWindow::SetChecked(app::Control control, bool checked) {
  for (const auto radio : {app::Control::rbBackup, app::Control::rbRestore}) {
    bool on = radio == control ? checked : (checked ? false : checked_[static_cast<std::size_t>(radio)]);
    checked_[static_cast<std::size_t>(radio)] = on;
    SendMessageW(ControlHandle(radio), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void MainWindow::SetFocus(app::Control control) { ::SetFocus(ControlHandle(control)); }

void MainWindow::SetItems(app::Control control, const std::vector<std::string>& items) {
  HWND list = ControlHandle(control);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const auto& item : items) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
  }
}

void MainWindow::RequestClose() { SendMessageW(hwnd_, WM_CLOSE, 0, 0); }

std::unique_ptr<app::IProgressWindowView> MainWindow::CreateProgressWindow() {
  return std::make_unique<ProgressWindow>(hwnd_);
}

void MainWindow::DrawButton(const DRAWITEMSTRUCT& item) {
  const app::ControlLayout* layout = LayoutOf(item.hwndItem);
  if (!layout) return;
  RECT r = item.rcItem;
  const bool pressed = item.itemState & ODS_SELECTED;
  const bool disabled = item.itemState & ODS_DISABLED;
  if (layout->kind == app::ControlKind::Background) {
    DrawPicture(item.hDC, LoadedPictures().background, r);
    return;
  }
  // The window's picture behind the button, then the button's own, one pixel down and right
  // while pressed.
  RECT inWindow = r;
  MapWindowPoints(item.hwndItem, hwnd_, reinterpret_cast<POINT*>(&inWindow), 2);
  RECT client{0, 0, app::kMainWidth, app::kMainHeight};
  OffsetRect(&client, -inWindow.left, -inWindow.top);
  const int saved = SaveDC(item.hDC);
  IntersectClipRect(item.hDC, r.left, r.top, r.right, r.bottom);
  DrawPicture(item.hDC, LoadedPictures().background, client);
  RestoreDC(item.hDC, saved);
  RECT face = r;
  if (pressed) OffsetRect(&face, 1, 1);
  DrawPicture(item.hDC, LoadedPictures().buttons[static_cast<std::size_t>(layout->id)], face, disabled);
  if (pressed) {
    DrawEdge(item.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
  } else if (layout->face == app::ButtonFace::Raised) {
    DrawEdge(item.hDC, &r, BDR_RAISEDINNER, BF_RECT);
  }
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client{0, 0, app::kMainWidth, app::kMainHeight};
      DrawPicture(reinterpret_cast<HDC>(wParam), LoadedPictures().background, client);
      return 1;
    }
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const app::ControlLayout* layout = LayoutOf(reinterpret_cast<HWND>(lParam));
      if (!layout || layout->kind == app::ControlKind::Edit) break;
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, colours_[static_cast<std::size_t>(layout->id)]);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED || !form_) break;
      const app::ControlLayout* layout = LayoutOf(reinterpret_cast<HWND>(lParam));
      if (!layout) break;
      if (layout->kind == app::ControlKind::PictureButton) {
        form_->Clicked(layout->id);
      } else if (layout->kind == app::ControlKind::Radio) {
        const auto index = static_cast<std::size_t>(layout->id);
        const bool was = checked_[index];
        for (const auto radio : {app::Control::rbBackup, app::Control::rbRestore}) {
          checked_[static_cast<std::size_t>(radio)] =
              SendMessageW(ControlHandle(radio), BM_GETCHECK, 0, 0) == BST_CHECKED;
        }
        if (checked_[index] && !was) form_->Checked(layout->id);
      }
      return 0;
    }
    case WM_CLOSE:
      if (!form_ || form_->CloseQuery()) DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace win32
