#pragma once
// What MainForm and ProgressForm need of the windows that show them. A front end (the Qt widgets,
// the Windows API) implements these views by drawing; the forms decide everything else. Texts are
// UTF-8, except the path shown in edtFile, which is the file system's own spelling of it.
// Message boxes, the folder dialog and the handling of pending events go through
// platform::Dialogs() and platform::PumpEvents(), which each front end installs.

#include <memory>
#include <string>
#include <vector>

#include "app/MainLayout.h"

namespace app {

class IProgressWindowView {
 public:
  virtual ~IProgressWindowView() = default;
  // LabInfo or txt1.
  virtual void SetText(ProgressControl control, const std::string& text) = 0;
  // txt1 or pbrDetail.
  virtual void SetVisible(ProgressControl control, bool visible) = 0;
  // Gauge1 shows `percent` (0..100).
  virtual void SetGaugePercent(int percent) = 0;
  // pbrDetail over [0, maximum] at `position` (inside the range).
  virtual void SetBar(int maximum, int position) = 0;
  // The window's client height; Panel1 follows it.
  virtual void SetClientHeight(int height) = 0;
  // Shows the window, not modal, on top, centred over the main window (over the screen's work
  // area while the main window is hidden).
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

class IMainView {
 public:
  virtual ~IMainView() = default;
  // A label's, a radio button's or edtFile's text.
  virtual void SetText(Control control, const std::string& text) = 0;
  // lblContectedStatus: its colour and weight. Bold drops the other font styles; the label
  // grows with its text, its height stays.
  virtual void SetTextStyle(Control control, Colour colour, bool bold) = 0;
  virtual void SetVisible(Control control, bool visible) = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  // Checks a radio button (and so unchecks the other one) without running its handler.
  virtual void SetChecked(Control control, bool checked) = 0;
  virtual void SetFocus(Control control) = 0;
  // The items of the hidden fllst1.
  virtual void SetItems(Control control, const std::vector<std::string>& items) = 0;
  // Asks the window to close as the user's close would: the front end then asks
  // MainForm::CloseQuery and closes only when it agrees.
  virtual void RequestClose() = 0;
  // A new, hidden progress window owned by the main window.
  virtual std::unique_ptr<IProgressWindowView> CreateProgressWindow() = 0;
};

}  // namespace app
