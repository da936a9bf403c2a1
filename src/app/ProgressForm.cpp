#include "app/ProgressForm.h"

#include <algorithm>
#include <cstdint>

namespace app {

int GaugeModel::Percent() const {
  if (max_ == min_) return 0;
  // 64-bit: the span of two 32-bit values times 100 does not fit in 32 bits.
  const std::int64_t done = static_cast<std::int64_t>(progress_) - min_;
  const std::int64_t span = static_cast<std::int64_t>(max_) - min_;
  return static_cast<int>(done * 100 / span);
}

void GaugeModel::SetProgress(int value) { progress_ = std::clamp(value, min_, max_); }

void GaugeModel::SetMinValue(int value) {
  min_ = value;
  if (max_ < min_) max_ = min_;
  if (progress_ < min_) progress_ = min_;
}

void GaugeModel::SetMaxValue(int value) {
  max_ = value;
  if (min_ > max_) min_ = max_;
  if (progress_ > max_) progress_ = max_;
}

ProgressForm::ProgressForm(std::unique_ptr<IProgressWindowView> view) : view_(std::move(view)) {
  view_->SetGaugePercent(shownPercent_);
  view_->SetBar(detailMaximum_, detailPosition_);
}

ProgressForm::~ProgressForm() = default;

void ProgressForm::SetInfoText(const std::string& text) { view_->SetText(ProgressControl::LabInfo, text); }

void ProgressForm::SetDetailVisible(bool visible) {
  view_->SetVisible(ProgressControl::txt1, visible);
  view_->SetVisible(ProgressControl::pbrDetail, visible);
}

void ProgressForm::SetWindowHeight(int height) { view_->SetClientHeight(height); }

void ProgressForm::ShowWindow() { view_->Show(); }

void ProgressForm::CloseWindow() { view_->Hide(); }

void ProgressForm::SetGaugeMinimum(int value) {
  gauge_.SetMinValue(value);
  ShowGauge();
}

void ProgressForm::SetGaugeMaximum(int value) {
  gauge_.SetMaxValue(value);
  ShowGauge();
}

void ProgressForm::SetGaugeProgress(int value) {
  gauge_.SetProgress(value);
  ShowGauge();
}

// Redrawn only when the whole percentage changes: a gauge stepped once per row costs nothing
// between its steps.
void ProgressForm::ShowGauge() {
  const int percent = gauge_.Percent();
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  view_->SetGaugePercent(percent);
}

void ProgressForm::SetDetailProgress(const std::string& caption, int maximum, int position, int step) {
  view_->SetText(ProgressControl::txt1, caption);
  detailMaximum_ = std::max(maximum, 0);
  detailPosition_ = std::clamp(position, 0, detailMaximum_);
  detailStep_ = step;
  view_->SetBar(detailMaximum_, detailPosition_);
}

void ProgressForm::UpdateDetailProgress(int position, const std::string& text) {
  if (!text.empty()) view_->SetText(ProgressControl::txt1, text);
  detailPosition_ = std::clamp(position, 0, detailMaximum_);
  view_->SetBar(detailMaximum_, detailPosition_);
}

}  // namespace app
