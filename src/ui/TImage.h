#pragma once
// A picture stretched over the whole control; its bare area reports mouse movements so that
// a borderless window can be dragged by it.

#include <QImage>
#include <QWidget>

namespace ui {

class TImage : public QWidget {
  Q_OBJECT

 public:
  explicit TImage(QWidget* parent = nullptr);

  void SetPicture(const QImage& picture);
  const QImage& Picture() const { return picture_; }

 signals:
  // Every mouse movement over the picture, whatever buttons are held.
  void MouseMoved(Qt::MouseButtons buttons);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace ui
