#include "ui/TPanel.h"

#include <QMouseEvent>

namespace ui {

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  // Border width 2: the children keep two pixels clear of the line.
  setContentsMargins(2, 2, 2, 2);
  setMouseTracking(true);
}

void TPanel::mouseMoveEvent(QMouseEvent* event) {
  // A movement that a child let pass on arrives here too; only the bare panel drags.
  if (childAt(event->position().toPoint()) != nullptr) {
    event->ignore();
    return;
  }
  emit MouseMoved(event->buttons());
  event->accept();
}

}  // namespace ui
