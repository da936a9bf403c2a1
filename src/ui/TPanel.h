#pragma once
// A flat panel with a single-line border whose bare area drags its window.

#include <QFrame>

namespace ui {

class TPanel : public QFrame {
  Q_OBJECT

 public:
  explicit TPanel(QWidget* parent = nullptr);

 signals:
  // Every mouse movement over the bare panel, whatever buttons are held.
  void MouseMoved(Qt::MouseButtons buttons);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
};

}  // namespace ui
