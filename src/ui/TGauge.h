#pragma once
// The overall gauge of the progress window: a bar filled to a whole percentage with the percentage
// written across it, readable over both the filled and the empty part. app::GaugeModel keeps its
// range and progress.

#include <QWidget>

namespace ui {

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  // The whole percentage shown (0..100); repaints when it changes.
  void SetPercent(int percent);
  int Percent() const { return percent_; }

  // How often the gauge asked to be repainted since it was made.
  int RepaintRequests() const { return repaintRequests_; }

  QSize sizeHint() const override { return {369, 23}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RequestRepaint();

  int percent_ = 0;
  int repaintRequests_ = 0;
};

}  // namespace ui
