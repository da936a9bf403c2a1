#include "ui/WindowDrag.h"

#include <QWidget>
#include <QWindow>

namespace ui {

namespace {
int g_dragRequests = 0;
}

bool DragWindowOnMouseMove(QWidget* window, Qt::MouseButtons buttons) {
  if (window == nullptr) return false;
  ++g_dragRequests;
  // A move loop started without a held button would keep the pointer until the next click (X11
  // window managers wait for a release that never comes), taking the window away from a mouse
  // that merely crossed it.
  if (buttons == Qt::NoButton) return true;
  if (QWindow* handle = window->window()->windowHandle()) handle->startSystemMove();
  return true;
}

int DragRequests() { return g_dragRequests; }

}  // namespace ui
