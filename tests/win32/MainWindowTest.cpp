#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/Dialogs.h"
#include "platform/Win32Text.h"
#include "win32/MainWindow.h"

namespace {

using app::Control;
using platform::win32::Narrow;

std::string ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return Narrow(name);
}

std::string TextOf(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return Narrow(text);
}

bool Shown(const win32::MainWindow& window, Control c) {
  return GetWindowLongW(window.ControlHandle(c), GWL_STYLE) & WS_VISIBLE;
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    try {
      window_ = std::make_unique<win32::MainWindow>();
    } catch (const std::runtime_error& e) {
      GTEST_SKIP() << "no windows can be created here (" << e.what() << ")";
    }
  }
  platform::ScriptedDialogs dialogs_;
  platform::ScopedDialogs installed_{&dialogs_};
  std::unique_ptr<win32::MainWindow> window_;
};

TEST_F(MainWindowTest, EveryControlHasItsClassTextAndPlace) {
  EXPECT_EQ(TextOf(window_->Handle()), app::kMainCaption);
  wchar_t cls[64] = {};
  GetClassNameW(window_->Handle(), cls, 64);
  EXPECT_EQ(std::wstring(cls), win32::kMainClass);
  RECT client{};
  GetClientRect(window_->Handle(), &client);
  EXPECT_EQ(client.right, app::kMainWidth);
  EXPECT_EQ(client.bottom, app::kMainHeight);

  for (const auto& layout : app::MainControls()) {
    SCOPED_TRACE(layout.name);
    HWND child = GetDlgItem(window_->Handle(), win32::ControlId(layout.id));
    ASSERT_NE(child, nullptr);
    const char* expectedClass = "Static";
    std::string expectedText = layout.text;
    switch (layout.kind) {
      case app::ControlKind::Background: expectedText = layout.name; break;
      case app::ControlKind::PictureButton: expectedClass = "Button"; expectedText = layout.name; break;
      case app::ControlKind::Radio: expectedClass = "Button"; break;
      case app::ControlKind::FileList: expectedClass = "ListBox"; break;
      case app::ControlKind::Edit: expectedClass = "Edit"; break;
      case app::ControlKind::Label: break;
    }
    if (layout.id == Control::lblHint) expectedText = app::kHintBackup;
    EXPECT_STRCASEEQ(ClassOf(child).c_str(), expectedClass);
    EXPECT_EQ(TextOf(child), expectedText);
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, layout.bounds.left);
    EXPECT_EQ(r.top, layout.bounds.top);
    if (layout.id != Control::lblContectedStatus) {
      EXPECT_EQ(r.right - r.left, layout.bounds.width);
      EXPECT_EQ(r.bottom - r.top, layout.bounds.height);
    }
    EXPECT_EQ(Shown(*window_, layout.id), layout.visible);
  }
}

TEST_F(MainWindowTest, RestoreModeSwapsTheStartButtons) {
  SendMessageW(window_->ControlHandle(Control::rbRestore), BM_CLICK, 0, 0);
  EXPECT_FALSE(window_->Form().BackupMode());
  EXPECT_FALSE(Shown(*window_, Control::btnBeginBackup));
  EXPECT_TRUE(Shown(*window_, Control::btnBeginRestore));
  EXPECT_EQ(TextOf(window_->ControlHandle(Control::lblHint)), app::kHintRestore);
  SendMessageW(window_->ControlHandle(Control::rbBackup), BM_CLICK, 0, 0);
  EXPECT_TRUE(Shown(*window_, Control::btnBeginBackup));
  EXPECT_FALSE(Shown(*window_, Control::btnBeginRestore));
}

}  // namespace
