#pragma once
// Mouse movements delivered the way the window system delivers them: to the widget under the
// pointer, passed on to its parents while nobody accepts them.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

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

}  // namespace testsupport
