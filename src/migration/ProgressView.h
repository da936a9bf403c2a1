#pragma once
// What the backup and the restore need of the progress window: the status line, the overall
// gauge, and the detail line and bar over the rows of the table being imported. The user interface
// implements it with its TFmProgressBar; headless hosts implement it without a window.

#include <string>

namespace migration {

class IProgressView {
 public:
  virtual ~IProgressView() = default;

  // The status line LabInfo.
  virtual void SetInfoText(const std::string& text) = 0;
  // Visibility of the detail line txt1 and the detail bar pbrDetail together.
  virtual void SetDetailVisible(bool visible) = 0;
  virtual void SetWindowHeight(int height) = 0;
  // Shows the window without making it modal.
  virtual void ShowWindow() = 0;
  // Hides the window; the procedure that created it destroys it right after.
  virtual void CloseWindow() = 0;

  // The overall gauge Gauge1.
  virtual void SetGaugeMinimum(int value) = 0;
  virtual void SetGaugeMaximum(int value) = 0;
  virtual void SetGaugeProgress(int value) = 0;

  // txt1 := caption, then the maximum, position and step of pbrDetail.
  virtual void SetDetailProgress(const std::string& caption, int maximum, int position,
                                 int step) = 0;
  // txt1 := text unless it is empty, then the position of pbrDetail.
  virtual void UpdateDetailProgress(int position, const std::string& text) = 0;
};

}  // namespace migration
