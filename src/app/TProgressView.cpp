#include "app/TProgressView.h"

#include <QLabel>
#include <QProgressBar>

#include "ui/TFmProgressBar.h"
#include "ui/TGauge.h"

namespace app {

TProgressView::TProgressView(QWidget* owner)
    : form_(std::make_unique<ui::TFmProgressBar>(owner)) {}

TProgressView::~TProgressView() = default;

void TProgressView::SetInfoText(const std::string& text) {
  form_->LabInfo->setText(QString::fromStdString(text));
}

void TProgressView::SetDetailVisible(bool visible) {
  form_->txt1->setVisible(visible);
  form_->pbrDetail->setVisible(visible);
}

void TProgressView::SetWindowHeight(int height) { form_->SetClientHeight(height); }

void TProgressView::ShowWindow() { form_->show(); }

void TProgressView::CloseWindow() { form_->close(); }

void TProgressView::SetGaugeMinimum(int value) { form_->Gauge1->SetMinValue(value); }

void TProgressView::SetGaugeMaximum(int value) { form_->Gauge1->SetMaxValue(value); }

void TProgressView::SetGaugeProgress(int value) { form_->Gauge1->SetProgress(value); }

void TProgressView::SetDetailProgress(const std::string& caption, int maximum, int position,
                                      int step) {
  form_->SetDetailProgress(caption, maximum, position, step);
}

void TProgressView::UpdateDetailProgress(int position, const std::string& text) {
  form_->UpdateDetailProgress(position, text);
}

}  // namespace app
