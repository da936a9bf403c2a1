#include "ui/WindowDrag.h"

#include <QWidget>
#include <QWindow>

namespace ui {

namespace {
int g_dragRequests = 0;
}

bool DragWindowOnMouseMove(QWidget* window, Qt::MouseButtons buttons) {
  if (window == nullptr || !(buttons & Qt::LeftButton)) return false;
  QWindow* handle = window->window()->windowHandle();
  if (handle == nullptr) return false;
  ++g_dragRequests;
  // Platforms without a window manager (offscreen) refuse; the window then simply stays put.
  handle->startSystemMove();
  return true;
}

int DragRequests() { return g_dragRequests; }

}  // namespace ui
