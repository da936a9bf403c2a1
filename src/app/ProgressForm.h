#pragma once
// The progress window FmProgressBar as the backup and the restore drive it, over a view that draws
// it. The overall gauge keeps its range and progress here and tells the view the percentage; the
// detail bar keeps a position inside its range as the system's bar does.

#include <memory>

#include "app/MainView.h"
#include "migration/ProgressView.h"

namespace app {

// Gauge1's range and progress.
class GaugeModel {
 public:
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }
  // Clamps into [minimum, maximum].
  void SetProgress(int value);
  // A new minimum above the progress pulls the progress up; one above the maximum takes the
  // maximum with it, so the range never turns over.
  void SetMinValue(int value);
  // A new maximum below the progress pulls the progress down; one below the minimum takes the
  // minimum with it.
  void SetMaxValue(int value);
  // Whole part of 100 * (progress - minimum) / (maximum - minimum); 0 for an empty range.
  int Percent() const;

 private:
  int min_ = 0;
  int max_ = 100;
  int progress_ = 0;
};

class ProgressForm : public migration::IProgressView {
 public:
  explicit ProgressForm(std::unique_ptr<IProgressWindowView> view);
  ~ProgressForm() override;
  ProgressForm(const ProgressForm&) = delete;
  ProgressForm& operator=(const ProgressForm&) = delete;

  void SetInfoText(const std::string& text) override;
  void SetDetailVisible(bool visible) override;
  void SetWindowHeight(int height) override;
  void ShowWindow() override;
  void CloseWindow() override;
  void SetGaugeMinimum(int value) override;
  void SetGaugeMaximum(int value) override;
  void SetGaugeProgress(int value) override;
  void SetDetailProgress(const std::string& caption, int maximum, int position, int step) override;
  void UpdateDetailProgress(int position, const std::string& text) override;

  const GaugeModel& Gauge() const { return gauge_; }
  int DetailMaximum() const { return detailMaximum_; }
  int DetailPosition() const { return detailPosition_; }
  // Step by which the detail bar would advance (kept for the procedures; the bar has no stepping
  // of its own).
  int DetailStep() const { return detailStep_; }
  IProgressWindowView& View() { return *view_; }

 private:
  void ShowGauge();

  std::unique_ptr<IProgressWindowView> view_;
  GaugeModel gauge_;
  int shownPercent_ = 0;
  int detailMaximum_ = 100;
  int detailPosition_ = 0;
  int detailStep_ = 1;
};

}  // namespace app
