#pragma once
// The main window FImportDate and the progress window FmProgressBar drawn with the Windows API:
// the controls of app::MainControls() and app::ProgressControls() as child windows, their
// behaviour in app::MainForm.

#include <windows.h>

#include <array>
#include <memory>

#include "app/MainForm.h"

namespace win32 {

// The window class names.
inline constexpr const wchar_t* kMainClass = L"TFImportDate";
inline constexpr const wchar_t* kProgressClass = L"TFmProgressBar";

// The child-window identifier of a main-window control.
int ControlId(app::Control control);

class MainWindow : public app::IMainView {
 public:
  // Creates the window, hidden, centred on the screen, and its form. Throws std::runtime_error
  // when Windows refuses the window.
  MainWindow();
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  HWND ControlHandle(app::Control control) const { return controls_[static_cast<std::size_t>(control)]; }
  app::MainForm& Form() { return *form_; }

  // app::IMainView
  void SetText(app::Control control, const std::string& text) override;
  void SetTextStyle(app::Control control, app::Colour colour, bool bold) override;
  void SetVisible(app::Control control, bool visible) override;
  void SetEnabled(app::Control control, bool enabled) override;
  void SetChecked(app::Control control, bool checked) override;
  void SetFocus(app::Control control) override;
  void SetItems(app::Control control, const std::vector<std::string>& items) override;
  void RequestClose() override;
  std::unique_ptr<app::IProgressWindowView> CreateProgressWindow() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void DrawButton(const DRAWITEMSTRUCT& item);
  void Repaint(app::Control control);
  const app::ControlLayout* LayoutOf(HWND child) const;

  HWND hwnd_ = nullptr;
  std::array<HWND, 13> controls_{};
  std::array<COLORREF, 13> colours_{};
  std::array<bool, 13> checked_{};
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HWND tips_ = nullptr;
  std::unique_ptr<app::MainForm> form_;
};

}  // namespace win32
