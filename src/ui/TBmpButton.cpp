#include "ui/TBmpButton.h"

#include <QPainter>

namespace ui {

TBmpButton::TBmpButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
}

void TBmpButton::SetPicture(const QPixmap& picture) {
  picture_ = picture;
  update();
}

void TBmpButton::SetFace(Face face) {
  face_ = face;
  update();
}

void TBmpButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool down = isDown();
  if (!isEnabled()) painter.setOpacity(0.55);
  // Pressed, the picture sinks by one pixel.
  const QPoint offset = down ? QPoint(1, 1) : QPoint(0, 0);
  painter.drawPixmap(offset, picture_);

  if (face_ == Face::Raised) {
    const QRect r = rect().adjusted(0, 0, -1, -1);
    const QColor light(255, 255, 255, 180);
    const QColor dark(0, 0, 0, 140);
    painter.setOpacity(1.0);
    painter.setPen(down ? dark : light);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(down ? light : dark);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
  }
  if (hasFocus()) {
    painter.setOpacity(1.0);
    QPen pen(QColor(255, 255, 255, 200));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(rect().adjusted(2, 2, -3, -3));
  }
}

}  // namespace ui
