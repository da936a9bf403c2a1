#include "ui/TGauge.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>

namespace ui {

namespace {

const QColor kBarColour(0, 0, 255);
const QColor kBackColour(255, 255, 255);
const QColor kBorderColour(0, 0, 0);

QFont GaugeFont() {
  QFont font;
  // 宋体 where the system has it; a CJK font of the system otherwise.
  font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
                    QStringLiteral("WenQuanYi Zen Hei")});
  font.setPixelSize(16);
  return font;
}

}  // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setFont(GaugeFont());
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int TGauge::Percent() const {
  if (max_ == min_) return 0;
  // 64-bit: the span of two 32-bit values times 100 does not fit in 32 bits.
  const std::int64_t done = static_cast<std::int64_t>(progress_) - min_;
  const std::int64_t span = static_cast<std::int64_t>(max_) - min_;
  return static_cast<int>(done * 100 / span);
}

void TGauge::SetProgress(int value) {
  const int before = Percent();
  progress_ = std::clamp(value, min_, max_);
  if (Percent() != before) RequestRepaint();
}

void TGauge::SetMinValue(int value) {
  if (value == min_) return;
  min_ = value;
  if (max_ < min_) max_ = min_;
  if (progress_ < min_) progress_ = min_;
  RequestRepaint();
}

void TGauge::SetMaxValue(int value) {
  if (value == max_) return;
  max_ = value;
  if (min_ > max_) min_ = max_;
  if (progress_ > max_) progress_ = max_;
  RequestRepaint();
}

void TGauge::RequestRepaint() {
  ++repaintRequests_;
  update();
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect outer = rect();
  painter.fillRect(outer, kBackColour);
  painter.setPen(kBorderColour);
  painter.drawRect(outer.adjusted(0, 0, -1, -1));

  const QRect inner = outer.adjusted(1, 1, -1, -1);
  const int percent = Percent();
  QRect filled = inner;
  filled.setWidth(inner.width() * percent / 100);
  QRect empty = inner;
  empty.setLeft(filled.right() + 1);
  painter.fillRect(filled, kBarColour);

  // The text in the colour of the other part on each side of the bar's edge.
  const QString text = QString::asprintf("%d%%", percent);
  painter.setFont(font());
  painter.save();
  painter.setClipRect(filled);
  painter.setPen(kBackColour);
  painter.drawText(inner, Qt::AlignCenter, text);
  painter.restore();
  painter.setClipRect(empty);
  painter.setPen(kBarColour);
  painter.drawText(inner, Qt::AlignCenter, text);
}

}  // namespace ui
