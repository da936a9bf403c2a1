#pragma once
// Moving a borderless window by its bare background, as a caption bar's move command does.

#include <Qt>

class QWidget;

namespace ui {

// One mouse movement over a drag surface of `window`: asks the window system to move the window,
// whatever buttons are held; returns true. The window system's move loop follows the held button
// until it is released; with no button held the move ends before it starts, so a mouse that only
// passes over the background leaves the window where it is. Platforms without a window manager
// (offscreen) refuse every move.
bool DragWindowOnMouseMove(QWidget* window, Qt::MouseButtons buttons);

// Number of moves asked for so far (in this process).
int DragRequests();

}  // namespace ui
