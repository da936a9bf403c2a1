#pragma once
// The overall gauge of the progress window: a bar over [minimum, maximum] with the whole
// percentage written across it, readable over both the filled and the empty part.

#include <QWidget>
#include <cstdint>

namespace ui {

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }

  // Clamps into [minimum, maximum]; repaints only when the whole percentage changes.
  void SetProgress(int value);
  // A new minimum above the progress pulls the progress up; one above the maximum takes the
  // maximum with it, so the range never turns over.
  void SetMinValue(int value);
  // A new maximum below the progress pulls the progress down; one below the minimum takes the
  // minimum with it.
  void SetMaxValue(int value);

  // Whole part of 100 * (progress - minimum) / (maximum - minimum); 0 for an empty range.
  int Percent() const;

  // How often the gauge asked to be repainted since it was made.
  int RepaintRequests() const { return repaintRequests_; }

  QSize sizeHint() const override { return {369, 23}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RequestRepaint();

  int min_ = 0;
  int max_ = 100;
  int progress_ = 0;
  int repaintRequests_ = 0;
};

}  // namespace ui
