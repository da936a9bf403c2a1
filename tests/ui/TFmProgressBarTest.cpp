#include "ui/TFmProgressBar.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>

#include "ui/MouseHelpers.h"
#include "ui/TGauge.h"
#include "ui/TPanel.h"
#include "ui/WindowDrag.h"

namespace {

using ui::TFmProgressBar;

struct Placement {
  const char* name;
  QRect geometry;
  bool visible;
};

TEST(ProgressWindow, ControlsSitWhereTheWindowWasDesigned) {
  TFmProgressBar window;
  window.show();
  EXPECT_EQ(window.size(), QSize(405, 174));
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(window.Panel1->geometry(), window.rect());

  const Placement table[] = {
      {"LabInfo", {16, 29, 369, 16}, true},
      {"Gauge1", {16, 51, 369, 23}, true},
      {"txt1", {16, 87, 369, 16}, false},
      {"pbrDetail", {16, 109, 369, 23}, false},
  };
  for (const auto& p : table) {
    SCOPED_TRACE(p.name);
    auto* w = window.findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), p.geometry);
    EXPECT_EQ(w->isVisible(), p.visible);
  }
  EXPECT_EQ(window.Gauge1->Percent(), 0);
}

TEST(ProgressWindow, PanelFollowsTheHeightAProcedureSets) {
  TFmProgressBar window;
  for (int height : {120, 200}) {
    window.SetClientHeight(height);
    EXPECT_EQ(window.size(), QSize(405, height));
    EXPECT_EQ(window.Panel1->geometry(), QRect(0, 0, 405, height));
  }
}

TEST(ProgressWindow, ShownCentredOnTheMainWindow) {
  QWidget owner;
  owner.setGeometry(100, 80, 590, 403);
  owner.show();
  TFmProgressBar window(&owner);
  window.SetClientHeight(120);
  window.show();
  const QPoint delta = window.frameGeometry().center() - owner.frameGeometry().center();
  EXPECT_LE(delta.manhattanLength(), 2);
}

TEST(ProgressWindow, OnlyTheBarePanelDragsTheWindow) {
  TFmProgressBar window;
  window.SetText(app::ProgressControl::txt1, "detail");
  window.SetBar(10, 0);
  window.txt1->show();
  window.pbrDetail->show();
  window.LabInfo->setText(QStringLiteral("正在还原数据，请稍候..."));
  window.show();

  testsupport::ExpectDrags(&window, {
      {"bare panel, left button", {6, 6}, Qt::LeftButton, true},
      {"bare panel below the bars", {200, 150}, Qt::LeftButton, true},
      {"bare panel, right button", {6, 6}, Qt::RightButton, true},
      {"bare panel, middle button", {6, 6}, Qt::MiddleButton, true},
      {"bare panel, no button", {6, 6}, Qt::NoButton, true},
      {"gauge, right button", {100, 60}, Qt::RightButton, false},
      {"status line", {30, 35}, Qt::LeftButton, false},
      {"gauge", {100, 60}, Qt::LeftButton, false},
      {"detail line", {30, 92}, Qt::LeftButton, false},
      {"detail bar", {100, 120}, Qt::LeftButton, false},
  });
}

}  // namespace
