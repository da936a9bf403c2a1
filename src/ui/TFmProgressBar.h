#pragma once
// The progress window of a running backup or restore: a status line, the overall gauge and,
// for a restore, a detail line and a detail bar over the rows of the table being imported.
// The procedure creates it, sets it up, shows it (not modal) and destroys it in its clean-up.

#include <QWidget>
#include <string>

class QLabel;
class QProgressBar;

namespace ui {

class TGauge;
class TPanel;

class TFmProgressBar : public QWidget {
  Q_OBJECT

 public:
  // `owner` is the main window: the progress window stays on top and is centred over it.
  explicit TFmProgressBar(QWidget* owner = nullptr);

  // Detail line to `caption`, then the detail bar's maximum, position and step, in that order.
  void SetDetailProgress(const std::string& caption, int max, int position, int step);
  // Detail line to `text` unless it is empty, then the detail bar's position.
  void UpdateDetailProgress(int position, const std::string& text);

  // Step by which the detail bar would advance (kept for the procedures; the bar itself has
  // no stepping of its own).
  int DetailStep() const { return detailStep_; }

  // The height the procedures give the window: 120 for a backup, 200 for a restore.
  void SetClientHeight(int height);

  TPanel* Panel1 = nullptr;
  QLabel* LabInfo = nullptr;
  TGauge* Gauge1 = nullptr;
  QLabel* txt1 = nullptr;
  QProgressBar* pbrDetail = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Panel1MouseMove(Qt::MouseButtons buttons);

  int detailStep_ = 1;
};

}  // namespace ui
