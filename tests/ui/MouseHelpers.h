#pragma once
// Mouse movements delivered the way the window system delivers them: to the widget under the
// pointer, passed on to its parents while nobody accepts them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <initializer_list>

#include "ui/WindowDrag.h"

namespace testsupport {

// Moves the mouse to `pos` (in `window`'s coordinates) with `buttons` held.
inline void MoveMouse(QWidget* window, QPoint pos, Qt::MouseButtons buttons) {
  QWidget* target = window->childAt(pos);
  if (target == nullptr) target = window;
  const QPoint local = target->mapFrom(window, pos);
  QMouseEvent event(QEvent::MouseMove, QPointF(local), QPointF(target->mapToGlobal(local)),
                    Qt::NoButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

// A place in a window, and whether a mouse move there with `buttons` held should drag the window.
struct DragSpot {
  const char* what;
  QPoint pos;
  Qt::MouseButtons buttons;
  bool drags;
};

// Moves the mouse over each spot and checks that exactly the expected ones asked for a drag.
inline void ExpectDrags(QWidget* window, std::initializer_list<DragSpot> spots) {
  for (const DragSpot& s : spots) {
    SCOPED_TRACE(s.what);
    const int before = ui::DragRequests();
    MoveMouse(window, s.pos, s.buttons);
    EXPECT_EQ(ui::DragRequests() - before, s.drags ? 1 : 0);
  }
}

}  // namespace testsupport
