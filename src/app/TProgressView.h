#pragma once
// The progress window as the backup and the restore drive it: a TFmProgressBar owned by the
// main window, seen through the procedures' progress-view interface.

#include <memory>

#include "migration/ProgressView.h"

class QWidget;

namespace ui {
class TFmProgressBar;
}

namespace app {

class TProgressView : public migration::IProgressView {
 public:
  explicit TProgressView(QWidget* owner);
  ~TProgressView() override;
  TProgressView(const TProgressView&) = delete;
  TProgressView& operator=(const TProgressView&) = delete;

  ui::TFmProgressBar& Form() { return *form_; }

  void SetInfoText(const std::string& text) override;
  void SetDetailVisible(bool visible) override;
  void SetWindowHeight(int height) override;
  void ShowWindow() override;
  void CloseWindow() override;
  void SetGaugeMinimum(int value) override;
  void SetGaugeMaximum(int value) override;
  void SetGaugeProgress(int value) override;
  void SetDetailProgress(const std::string& caption, int maximum, int position,
                         int step) override;
  void UpdateDetailProgress(int position, const std::string& text) override;

 private:
  std::unique_ptr<ui::TFmProgressBar> form_;
};

}  // namespace app
