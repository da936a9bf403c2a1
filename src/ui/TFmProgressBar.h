#pragma once
// The progress window of a running backup or restore: a status line, the overall gauge and,
// for a restore, a detail line and a detail bar over the rows of the table being imported.
// The procedure creates it, sets it up, shows it (not modal) and destroys it in its clean-up.

#include <QWidget>
#include <string>

#include "app/MainView.h"

class QLabel;
class QProgressBar;

namespace ui {

class TGauge;
class TPanel;

class TFmProgressBar : public QWidget, public app::IProgressWindowView {
  Q_OBJECT

 public:
  // `owner` is the main window: the progress window stays on top and is centred over it.
  explicit TFmProgressBar(QWidget* owner = nullptr);

  // app::IProgressWindowView
  void SetText(app::ProgressControl control, const std::string& text) override;
  void SetVisible(app::ProgressControl control, bool visible) override;
  void SetGaugePercent(int percent) override;
  void SetBar(int maximum, int position) override;
  // The height the procedures give the window: 120 for a backup, 200 for a restore.
  void SetClientHeight(int height) override;
  void Show() override { show(); }
  void Hide() override { hide(); }

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
};

}  // namespace ui
