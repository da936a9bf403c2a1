#include "ui/TImage.h"

#include <QMouseEvent>
#include <QPainter>

namespace ui {

TImage::TImage(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void TImage::SetPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void TImage::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), picture_);
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
  emit MouseMoved(event->buttons());
  event->accept();
}

}  // namespace ui
