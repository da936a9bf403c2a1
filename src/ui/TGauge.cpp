#include "ui/TGauge.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>

#include "app/MainLayout.h"

namespace ui {

namespace {

const QColor kBarColour(app::kGaugeBar.red, app::kGaugeBar.green, app::kGaugeBar.blue);
const QColor kBackColour(app::kGaugeBack.red, app::kGaugeBack.green, app::kGaugeBack.blue);
const QColor kBorderColour(app::kGaugeBorder.red, app::kGaugeBorder.green, app::kGaugeBorder.blue);

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

void TGauge::SetPercent(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == percent_) return;
  percent_ = percent;
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
