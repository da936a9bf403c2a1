#pragma once
// The main window FImportDate drawn with Qt: the controls of app::MainControls() as widgets, and
// app::IMainView over them. What the controls do is app::MainForm's business.

#include <QWidget>
#include <map>
#include <memory>

#include "app/MainForm.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace ui {

class TBmpButton;
class TFmProgressBar;
class TImage;

class TFImportDate : public QWidget, public app::IMainView {
  Q_OBJECT

 public:
  explicit TFImportDate(QWidget* parent = nullptr);
  ~TFImportDate() override;

  app::MainForm& Form() { return *form_; }

  // Controls, back to front.
  TImage* img1 = nullptr;
  QLabel* lblHint = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* lblContectedStatus = nullptr;
  TBmpButton* btnBeginBackup = nullptr;
  TBmpButton* btnTestContected = nullptr;
  TBmpButton* btnExit = nullptr;
  TBmpButton* btnSelect = nullptr;
  TBmpButton* btnBeginRestore = nullptr;
  QListWidget* fllst1 = nullptr;
  QLineEdit* edtFile = nullptr;
  QRadioButton* rbBackup = nullptr;
  QRadioButton* rbRestore = nullptr;

  QWidget* Widget(app::Control control) const { return widgets_.at(control); }
  // The progress window in the form's slot, or nullptr.
  TFmProgressBar* FmProgressBar() const;

  // app::IMainView
  void SetText(app::Control control, const std::string& text) override;
  void SetTextStyle(app::Control control, app::Colour colour, bool bold) override;
  void SetVisible(app::Control control, bool visible) override;
  void SetEnabled(app::Control control, bool enabled) override;
  void SetChecked(app::Control control, bool checked) override;
  void SetFocus(app::Control control) override;
  void SetItems(app::Control control, const std::vector<std::string>& items) override;
  void RequestClose() override;
  std::unique_ptr<app::IProgressWindowView> CreateProgressWindow() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();

  std::map<app::Control, QWidget*> widgets_;
  std::unique_ptr<app::MainForm> form_;
  bool centred_ = false;
};

}  // namespace ui
