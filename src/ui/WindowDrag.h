#pragma once
// Moving a borderless window by its bare background: the system's own move loop takes over
// while the left button is held, as a caption bar would.

#include <Qt>

class QWidget;

namespace ui {

// Decides for one mouse movement over a drag surface of `window`; true when a system move was
// requested. Only a movement with the left button held asks for one: the system's move loop
// follows a held button and would otherwise wait for a click.
bool DragWindowOnMouseMove(QWidget* window, Qt::MouseButtons buttons);

// Number of system moves requested so far (in this process).
int DragRequests();

}  // namespace ui
