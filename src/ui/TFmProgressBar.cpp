#include "ui/TFmProgressBar.h"

#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <algorithm>

#include "ui/TGauge.h"
#include "ui/TPanel.h"
#include "ui/WindowDrag.h"

namespace ui {

namespace {

constexpr int kClientWidth = 405;
constexpr int kClientHeight = 174;

QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Zen Hei")});
  font.setPointSize(8);
  return font;
}

QLabel* MakeLine(QWidget* parent, const char* name, int top) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(16, top, 369, 16);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

TFmProgressBar::TFmProgressBar(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("FmProgressBar"));
  setFont(WindowFont());
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  resize(kClientWidth, kClientHeight);

  Panel1 = new TPanel(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(rect());
  connect(Panel1, &TPanel::MouseMoved, this, &TFmProgressBar::Panel1MouseMove);

  LabInfo = MakeLine(Panel1, "LabInfo", 29);

  Gauge1 = new TGauge(Panel1);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setGeometry(16, 51, 369, 23);

  txt1 = MakeLine(Panel1, "txt1", 87);
  txt1->hide();

  pbrDetail = new QProgressBar(Panel1);
  pbrDetail->setObjectName(QStringLiteral("pbrDetail"));
  pbrDetail->setGeometry(16, 109, 369, 23);
  pbrDetail->setRange(0, 100);
  pbrDetail->setValue(0);
  pbrDetail->setTextVisible(false);
  pbrDetail->hide();
}

void TFmProgressBar::SetDetailProgress(const std::string& caption, int max, int position,
                                       int step) {
  txt1->setText(QString::fromStdString(caption));
  pbrDetail->setMaximum(std::max(max, pbrDetail->minimum()));
  // The system's bar keeps a position inside its range; Qt's would ignore one outside it.
  pbrDetail->setValue(std::clamp(position, pbrDetail->minimum(), pbrDetail->maximum()));
  detailStep_ = step;
}

void TFmProgressBar::UpdateDetailProgress(int position, const std::string& text) {
  if (!text.empty()) txt1->setText(QString::fromStdString(text));
  pbrDetail->setValue(std::clamp(position, pbrDetail->minimum(), pbrDetail->maximum()));
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
