#include "ui/TFImportDate.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QScreen>

#include "ui/JpegImage.h"
#include "ui/TBmpButton.h"
#include "ui/TFmProgressBar.h"
#include "ui/TImage.h"
#include "ui/WindowDrag.h"

// The pictures are compiled into the program (assets/assets.qrc).
static void InitAssets() { Q_INIT_RESOURCE(assets); }

namespace ui {

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QColor ToQColor(app::Colour c) { return QColor(c.red, c.green, c.blue); }

// 新宋体 where the system has it; a CJK font of the system stands in otherwise.
QFont LabelFont() {
  QFont font;
  font.setFamilies({Q("NSimSun"), Q("新宋体"), Q("SimSun"), Q("WenQuanYi Zen Hei")});
  font.setPixelSize(14);
  return font;
}

QFont WindowFont() {
  QFont font;
  font.setFamilies({Q("Tahoma"), Q("WenQuanYi Zen Hei")});
  font.setPixelSize(11);
  return font;
}

void SetTextColour(QWidget* w, const QColor& colour) {
  QPalette pal = w->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    pal.setColor(group, QPalette::WindowText, colour);
    pal.setColor(group, QPalette::ButtonText, colour);
  }
  w->setPalette(pal);
}

QRect ToQRect(const app::Rect& r) { return {r.left, r.top, r.width, r.height}; }

}  // namespace

TFImportDate::TFImportDate(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  InitAssets();
  setObjectName(QStringLiteral("FImportDate"));
  setWindowTitle(Q(app::kMainCaption));
  // Without a caption bar the caption is not displayed; the task bar shows the application title.
  setWindowIconText(Q(app::kApplicationTitle));
  setFont(WindowFont());
  setFixedSize(app::kMainWidth, app::kMainHeight);
  // Button face under the picture, in case the picture is missing.
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);

  BuildControls();
  form_ = std::make_unique<app::MainForm>(*this);
}

TFImportDate::~TFImportDate() {
  // The form's progress window is a child of this window: it goes first.
  form_.reset();
}

void TFImportDate::BuildControls() {
  using app::ControlKind;
  for (const app::ControlLayout& layout : app::MainControls()) {
    QWidget* w = nullptr;
    switch (layout.kind) {
      case ControlKind::Background: {
        auto* image = new TImage(this);
        image->SetPicture(LoadJpeg(QStringLiteral(":/assets/background.jpg")));
        connect(image, &TImage::MouseMoved, this,
                [this](Qt::MouseButtons buttons) { DragWindowOnMouseMove(this, buttons); });
        img1 = image;
        w = image;
        break;
      }
      case ControlKind::Label: {
        auto* label = new QLabel(Q(layout.text), this);
        label->setFont(LabelFont());
        label->setTextFormat(Qt::PlainText);
        SetTextColour(label, ToQColor(layout.colour));
        w = label;
        break;
      }
      case ControlKind::PictureButton: {
        auto* button = new TBmpButton(this);
        button->SetPicture(QPixmap(QStringLiteral(":/assets/buttons/%1.png").arg(Q(layout.name))));
        button->SetFace(layout.face == app::ButtonFace::Raised ? TBmpButton::Face::Raised
                                                             : TBmpButton::Face::Flat);
        const app::Control id = layout.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { form_->Clicked(id); });
        w = button;
        break;
      }
      case ControlKind::FileList:
        w = new QListWidget(this);
        break;
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        // Flat one-pixel frame in the colour the system draws flat frames in.
        edit->setStyleSheet(
            QStringLiteral("QLineEdit { border: 1px solid palette(window-text); "
                           "background: palette(base); color: palette(text); padding: 0 2px; }"));
        w = edit;
        break;
      }
      case ControlKind::Radio: {
        auto* radio = new QRadioButton(Q(layout.text), this);
        radio->setFont(LabelFont());
        radio->setToolTip(Q(layout.tip));
        SetTextColour(radio, ToQColor(layout.colour));
        // The mode handlers run only when a radio button becomes checked, by mouse or keyboard.
        const app::Control id = layout.id;
        connect(radio, &QRadioButton::toggled, this, [this, id](bool on) {
          if (on && form_) form_->Checked(id);
        });
        w = radio;
        break;
      }
    }
    w->setObjectName(Q(layout.name));
    w->setGeometry(ToQRect(layout.bounds));
    w->setVisible(layout.visible);
    widgets_[layout.id] = w;
  }
  using C = app::Control;
  lblHint = static_cast<QLabel*>(widgets_[C::lblHint]);
  Label1 = static_cast<QLabel*>(widgets_[C::Label1]);
  lblContectedStatus = static_cast<QLabel*>(widgets_[C::lblContectedStatus]);
  btnBeginBackup = static_cast<TBmpButton*>(widgets_[C::btnBeginBackup]);
  btnTestContected = static_cast<TBmpButton*>(widgets_[C::btnTestContected]);
  btnExit = static_cast<TBmpButton*>(widgets_[C::btnExit]);
  btnSelect = static_cast<TBmpButton*>(widgets_[C::btnSelect]);
  btnBeginRestore = static_cast<TBmpButton*>(widgets_[C::btnBeginRestore]);
  fllst1 = static_cast<QListWidget*>(widgets_[C::fllst1]);
  edtFile = static_cast<QLineEdit*>(widgets_[C::edtFile]);
  rbBackup = static_cast<QRadioButton*>(widgets_[C::rbBackup]);
  rbRestore = static_cast<QRadioButton*>(widgets_[C::rbRestore]);
}

void TFImportDate::SetText(app::Control control, const std::string& text) {
  QWidget* w = Widget(control);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    // A path: shown as the locale decodes the file system's bytes.
    edit->setText(QFile::decodeName(QByteArray::fromStdString(text)));
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(QString::fromStdString(text));
    // The label grows with its text; its height stays.
    if (control == app::Control::lblContectedStatus) label->resize(label->sizeHint().width(), label->height());
  } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
    radio->setText(QString::fromStdString(text));
  }
}

void TFImportDate::SetTextStyle(app::Control control, app::Colour colour, bool bold) {
  QWidget* w = Widget(control);
  QFont font = w->font();
  if (bold) {
    // Bold alone: the other styles go.
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
  }
  font.setBold(bold);
  w->setFont(font);
  SetTextColour(w, ToQColor(colour));
}

void TFImportDate::SetVisible(app::Control control, bool visible) { Widget(control)->setVisible(visible); }

void TFImportDate::SetEnabled(app::Control control, bool enabled) { Widget(control)->setEnabled(enabled); }

void TFImportDate::SetChecked(app::Control control, bool checked) {
  if (auto* radio = qobject_cast<QRadioButton*>(Widget(control))) {
    const QSignalBlocker quiet(radio);
    radio->setChecked(checked);
  }
}

void TFImportDate::SetFocus(app::Control control) { Widget(control)->setFocus(); }

void TFImportDate::SetItems(app::Control control, const std::vector<std::string>& items) {
  if (auto* list = qobject_cast<QListWidget*>(Widget(control))) {
    list->clear();
    for (const auto& item : items) list->addItem(QString::fromStdString(item));
  }
}

void TFImportDate::RequestClose() { close(); }

std::unique_ptr<app::IProgressWindowView> TFImportDate::CreateProgressWindow() {
  return std::make_unique<TFmProgressBar>(this);
}

TFmProgressBar* TFImportDate::FmProgressBar() const {
  app::ProgressForm* progress = form_->FmProgressBar();
  return progress ? dynamic_cast<TFmProgressBar*>(&progress->View()) : nullptr;
}

void TFImportDate::closeEvent(QCloseEvent* event) {
  if (!form_->CloseQuery()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void TFImportDate::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    if (const QScreen* s = screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(s->geometry().center());
      move(frame.topLeft());
    }
  }
  QWidget::showEvent(event);
}

}  // namespace ui
