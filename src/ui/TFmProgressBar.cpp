#include "ui/TFmProgressBar.h"

#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include "ui/TGauge.h"
#include "ui/TPanel.h"
#include "ui/WindowDrag.h"

namespace ui {

namespace {

QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Zen Hei")});
  font.setPointSize(8);
  return font;
}

QRect ToQRect(const app::Rect& r) { return {r.left, r.top, r.width, r.height}; }

}  // namespace

TFmProgressBar::TFmProgressBar(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("FmProgressBar"));
  setFont(WindowFont());
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  resize(app::kProgressWidth, app::kProgressHeight);

  for (const app::ProgressControlLayout& layout : app::ProgressControls()) {
    QWidget* w = nullptr;
    switch (layout.id) {
      case app::ProgressControl::Panel1:
        Panel1 = new TPanel(this);
        connect(Panel1, &TPanel::MouseMoved, this, &TFmProgressBar::Panel1MouseMove);
        w = Panel1;
        break;
      case app::ProgressControl::Gauge1:
        Gauge1 = new TGauge(Panel1);
        w = Gauge1;
        break;
      case app::ProgressControl::pbrDetail:
        pbrDetail = new QProgressBar(Panel1);
        pbrDetail->setTextVisible(false);
        w = pbrDetail;
        break;
      case app::ProgressControl::LabInfo:
      case app::ProgressControl::txt1: {
        auto* label = new QLabel(Panel1);
        label->setTextFormat(Qt::PlainText);
        (layout.id == app::ProgressControl::LabInfo ? LabInfo : txt1) = label;
        w = label;
        break;
      }
    }
    w->setObjectName(QString::fromLatin1(layout.name));
    w->setGeometry(ToQRect(layout.bounds));
    w->setVisible(layout.visible);
  }
}

void TFmProgressBar::SetText(app::ProgressControl control, const std::string& text) {
  QLabel* label = control == app::ProgressControl::LabInfo ? LabInfo : txt1;
  label->setText(QString::fromStdString(text));
}

void TFmProgressBar::SetVisible(app::ProgressControl control, bool visible) {
  if (control == app::ProgressControl::txt1) txt1->setVisible(visible);
  if (control == app::ProgressControl::pbrDetail) pbrDetail->setVisible(visible);
}

void TFmProgressBar::SetGaugePercent(int percent) { Gauge1->SetPercent(percent); }

void TFmProgressBar::SetBar(int maximum, int position) {
  pbrDetail->setRange(0, maximum);
  pbrDetail->setValue(position);
}

void TFmProgressBar::SetClientHeight(int height) {
  resize(width(), height);
  // A hidden window gets its resize event only when shown; the panel follows at once.
  Panel1->setGeometry(0, 0, width(), height);
}

void TFmProgressBar::showEvent(QShowEvent* event) {
  QWidget* owner = parentWidget();
  QRect area;
  if (owner != nullptr && owner->isVisible()) {
    area = owner->frameGeometry();
  } else if (const QScreen* s = screen()) {
    area = s->availableGeometry();
  }
  if (area.isValid()) {
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
  }
  QWidget::showEvent(event);
}

void TFmProgressBar::resizeEvent(QResizeEvent* event) {
  Panel1->setGeometry(rect());
  QWidget::resizeEvent(event);
}

void TFmProgressBar::Panel1MouseMove(Qt::MouseButtons buttons) {
  DragWindowOnMouseMove(this, buttons);
}

}  // namespace ui
