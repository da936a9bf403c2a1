#include "app/TFImportDate.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QScreen>
#include <exception>

#include "app/Application.h"
#include "app/TProgressView.h"
#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "diag/Trace.h"
#include "migration/BackupProcedure.h"
#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "migration/FileList.h"
#include "migration/RestoreProcedure.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "ui/JpegImage.h"
#include "ui/TBmpButton.h"
#include "ui/TFmProgressBar.h"
#include "ui/TGauge.h"
#include "ui/TImage.h"
#include "ui/WindowDrag.h"

// The pictures are compiled into the program (assets/assets.qrc).
static void InitAssets() { Q_INIT_RESOURCE(assets); }

namespace app {

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

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

QLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry, const char* text,
                  const QColor& colour) {
  auto* label = new QLabel(Q(text), parent);
  label->setObjectName(Q(name));
  label->setGeometry(geometry);
  label->setFont(LabelFont());
  label->setTextFormat(Qt::PlainText);
  SetTextColour(label, colour);
  return label;
}

ui::TBmpButton* MakeButton(QWidget* parent, const char* name, QPoint topLeft,
                           ui::TBmpButton::Face face) {
  auto* button = new ui::TBmpButton(parent);
  button->setObjectName(Q(name));
  button->setGeometry(QRect(topLeft, QSize(90, 26)));
  button->SetPicture(QPixmap(QStringLiteral(":/assets/buttons/%1.png").arg(Q(name))));
  button->SetFace(face);
  return button;
}

QRadioButton* MakeRadio(QWidget* parent, const char* name, QRect geometry, const char* text,
                        const char* tip) {
  auto* radio = new QRadioButton(Q(text), parent);
  radio->setObjectName(Q(name));
  radio->setGeometry(geometry);
  radio->setFont(LabelFont());
  radio->setToolTip(Q(tip));
  SetTextColour(radio, kWhite);
  return radio;
}

}  // namespace

std::string ProposeArchiveName(const std::string& folder, const platform::LocalDateTime& today) {
  const std::string name =
      QString::asprintf("%04d%02d%02dbak.dmp", today.year, today.month, today.day).toStdString();
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// One run in the sense of Busy(): disables the controls that could start another run inside
// this one, and on leaving the outermost run enables them again and carries out a close that
// was requested meanwhile.
class TFImportDate::BusyScope {
 public:
  explicit BusyScope(TFImportDate& window) : window_(window) {
    if (window_.busyDepth_++ == 0) window_.SetBusy(true);
  }
  ~BusyScope() {
    if (--window_.busyDepth_ != 0) return;
    window_.SetBusy(false);
    if (window_.closePending_) {
      window_.closePending_ = false;
      window_.close();
    }
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TFImportDate& window_;
};

TFImportDate::TFImportDate(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      conADOConParty_(std::make_unique<db::TDbConnection>()),
      qry1_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      qry2_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      qry3_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      qryExecute_(std::make_unique<db::TDbQuery>(conADOConParty_.get())),
      archiveWriter_(std::make_unique<archive::ArchiveWriter>()),
      archiveReader_(std::make_unique<archive::ArchiveReader>()) {
  InitAssets();
  setObjectName(QStringLiteral("FImportDate"));
  setWindowTitle(Q("数据迁移工具"));
  // Without a caption bar the caption is not displayed; the task bar shows the application title.
  setWindowIconText(Q(kApplicationTitle));
  setFont(WindowFont());
  setFixedSize(590, 403);
  // Button face under the picture, in case the picture is missing.
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);

  conADOConParty_->CommandTimeout = 1000;
  conADOConParty_->ConnectionTimeout = 5;
  ConnectDatabase = [this](const std::string& key) {
    return db::ConnectKingbase(*conADOConParty_, key);
  };
  BackupData = [this] { migration::BackupData(*this); };
  RestoreData = [this] { migration::RestoreData(*this); };

  BuildControls();
}

TFImportDate::~TFImportDate() = default;

void TFImportDate::BuildControls() {
  img1 = new ui::TImage(this);
  img1->setObjectName(QStringLiteral("img1"));
  img1->setGeometry(0, 0, 590, 403);
  img1->SetPicture(ui::LoadJpeg(QStringLiteral(":/assets/background.jpg")));
  connect(img1, &ui::TImage::MouseMoved, this, &TFImportDate::img1MouseMove);

  lblHint = MakeLabel(this, "lblHint", {89, 253, 168, 14}, "选择保存数据备份的路径：", kWhite);
  Label1 = MakeLabel(this, "Label1", {89, 215, 112, 14}, "数据库连接状态：", kWhite);
  lblContectedStatus = MakeLabel(this, "lblContectedStatus", {251, 215, 0, 14}, "", kLime);

  using Face = ui::TBmpButton::Face;
  btnBeginBackup = MakeButton(this, "btnBeginBackup", {89, 337}, Face::Raised);
  btnTestContected = MakeButton(this, "btnTestContected", {379, 209}, Face::Flat);
  btnExit = MakeButton(this, "btnExit", {379, 337}, Face::Flat);
  btnSelect = MakeButton(this, "btnSelect", {379, 275}, Face::Flat);
  btnBeginRestore = MakeButton(this, "btnBeginRestore", {89, 337}, Face::Raised);
  btnBeginRestore->hide();

  fllst1 = new QListWidget(this);
  fllst1->setObjectName(QStringLiteral("fllst1"));
  fllst1->setGeometry(96, 400, 57, 17);
  fllst1->hide();

  edtFile = new QLineEdit(this);
  edtFile->setObjectName(QStringLiteral("edtFile"));
  edtFile->setGeometry(89, 278, 256, 21);
  edtFile->setReadOnly(true);
  // Flat one-pixel frame in the colour the system draws flat frames in.
  edtFile->setStyleSheet(
      QStringLiteral("QLineEdit { border: 1px solid palette(window-text); "
                     "background: palette(base); color: palette(text); padding: 0 2px; }"));

  rbBackup = MakeRadio(this, "rbBackup", {89, 176, 154, 17}, "NorvaleV3.1备份",
                       "NorvaleV3.1备份（Kingbase 4.1数据库）");
  rbRestore = MakeRadio(this, "rbRestore", {251, 176, 155, 17}, "NorvaleV4.0还原",
                        "NorvaleV4.0还原（Kingbase 6.1数据库）");
  rbBackup->setChecked(true);

  // The mode handlers run only when a radio button becomes checked, by mouse or keyboard.
  connect(rbBackup, &QRadioButton::toggled, this, [this](bool on) {
    if (on) rbBackupClick();
  });
  connect(rbRestore, &QRadioButton::toggled, this, [this](bool on) {
    if (on) rbRestoreClick();
  });
  connect(btnBeginBackup, &QAbstractButton::clicked, this, &TFImportDate::btnBeginBackupClick);
  connect(btnBeginRestore, &QAbstractButton::clicked, this, &TFImportDate::btnBeginBackupClick);
  connect(btnTestContected, &QAbstractButton::clicked, this,
          [this] { Dispatch(&TFImportDate::btnTestContectedClick); });
  connect(btnExit, &QAbstractButton::clicked, this, &TFImportDate::btnExitClick);
  connect(btnSelect, &QAbstractButton::clicked, this,
          [this] { Dispatch(&TFImportDate::btnSelectClick); });
}

void TFImportDate::rbBackupClick() {
  btnBeginBackup->show();
  btnBeginRestore->hide();
  edtFile->clear();
  lblHint->setText(Q("选择保存数据备份的路径："));
}

void TFImportDate::rbRestoreClick() {
  btnBeginBackup->hide();
  btnBeginRestore->show();
  edtFile->clear();
  lblHint->setText(Q("选择保存备份数据的文件："));
}

void TFImportDate::btnSelectClick() {
  if (rbBackup->isChecked()) {
    const platform::FolderDialogTexts texts{"选择路径", "路径", "目录", "Drives", "确定", "取消"};
    if (auto folder = platform::Dialogs().SelectFolder(texts)) {
      SetArchivePath(ProposeArchiveName(*folder, platform::Clock().Now()));
    }
  } else if (rbRestore->isChecked()) {
    if (auto file = platform::Dialogs().OpenFile()) SetArchivePath(*file);
  }
}

void TFImportDate::btnBeginBackupClick() {
  // A second start never runs inside the first (the buttons are disabled meanwhile; this also
  // holds for a click delivered programmatically).
  if (Busy()) return;
  // The run ends only after an error box is dismissed: the controls stay disabled and a held
  // close waits until then.
  BusyScope run(*this);
  try {
    diag::TraceEnter("btnBeginBackupClick");
    struct Leave {
      ~Leave() { diag::TraceLeave("btnBeginBackupClick"); }
    } leave;

    // Whatever the last test showed, the start tests again with the checked mode's profile.
    btnTestContectedClick();
    if (lblContectedStatus->text() == Q(kStatusFailed)) {
      platform::Dialogs().MessageBox("数据库连接不成功，请检查数据库服务是否启动！", "警告",
                                     platform::kMbIconWarning);
      return;
    }
    if (closePending_) return;  // the user asked to quit during the test: start nothing
    if (rbBackup->isChecked()) {
      if (BackupData) BackupData();
    } else if (rbRestore->isChecked()) {
      if (RestoreData) RestoreData();
    }
  } catch (const std::exception& e) {
    // The application's default handling, while the run still holds the window. A connection
    // test that raised ends up here too: its box is the only one, and nothing is started.
    ShowUnhandled(e.what());
  }
}

void TFImportDate::btnExitClick() { close(); }

// Started alone, the test holds nothing: the other buttons work during its wait and exit closes
// the window at once. An exception leaves it with the label at "正在连接中...".
void TFImportDate::btnTestContectedClick() {
  const std::string key = rbBackup->isChecked() ? "bf" : "hy";
  SetStatus(kStatusTesting, kWhite, false);
  diag::DelayPumping(3000);
  // Closed during the wait: nobody is left to read the verdict, and the program is ending.
  if (closed_) return;
  const bool connected = ConnectDatabase ? ConnectDatabase(key) : false;
  if (connected) {
    SetStatus(kStatusConnected, kLime, true);
  } else {
    SetStatus(kStatusFailed, kRed, true);
  }
}

void TFImportDate::img1MouseMove(Qt::MouseButtons buttons) { ui::DragWindowOnMouseMove(this, buttons); }

std::string TFImportDate::ArchivePathText() {
  // The edit box shows the path as the locale decodes it; the chosen folder's own bytes, which
  // need not decode, are what the procedures get.
  const QString shown = edtFile->text();
  if (!archivePath_.empty() && shown == QFile::decodeName(QByteArray::fromStdString(archivePath_))) {
    return archivePath_;
  }
  return QFile::encodeName(shown).toStdString();
}

void TFImportDate::SetArchivePath(const std::string& path) {
  archivePath_ = path;
  edtFile->setText(QFile::decodeName(QByteArray::fromStdString(path)));
}

void TFImportDate::FocusArchivePath() { edtFile->setFocus(); }

migration::IProgressView& TFImportDate::CreateProgressWindow() {
  // At most one progress window: a new one replaces (and destroys) a left-over one.
  progressWindow_.reset();
  progressWindow_ = std::make_unique<TProgressView>(this);
  return *progressWindow_;
}

migration::IProgressView* TFImportDate::ProgressWindow() { return progressWindow_.get(); }

void TFImportDate::DestroyProgressWindow() { progressWindow_.reset(); }

ui::TFmProgressBar* TFImportDate::FmProgressBar() const {
  return progressWindow_ ? &progressWindow_->Form() : nullptr;
}

void TFImportDate::StepProgress() {
  ++ProgressCount;
  if (progressWindow_) progressWindow_->SetGaugeProgress(ProgressBase + ProgressCount);
  platform::PumpEvents();
}

std::vector<std::string> TFImportDate::ListFiles(const std::string& directory) {
  std::vector<std::string> names = migration::ListPlainFiles(directory);
  fllst1->clear();
  for (const auto& name : names) fllst1->addItem(QString::fromStdString(name));
  return names;
}

void TFImportDate::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    // Held until the running procedure has cleaned up.
    closePending_ = true;
    event->ignore();
    return;
  }
  closed_ = true;
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

void TFImportDate::SetBusy(bool busy) {
  for (QWidget* w : std::initializer_list<QWidget*>{rbBackup, rbRestore, btnSelect,
                                                    btnTestContected, btnBeginBackup,
                                                    btnBeginRestore}) {
    w->setEnabled(!busy);
  }
}

void TFImportDate::SetStatus(const char* text, const QColor& colour, bool bold) {
  QFont font = lblContectedStatus->font();
  if (bold) {
    // Bold alone: the other styles go.
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
  }
  font.setBold(bold);
  lblContectedStatus->setFont(font);
  SetTextColour(lblContectedStatus, colour);
  lblContectedStatus->setText(Q(text));
  // The label grows with its text; its height stays.
  lblContectedStatus->resize(lblContectedStatus->sizeHint().width(), 14);
}

void TFImportDate::ShowUnhandled(const char* message) {
  platform::Dialogs().MessageBox(message, kApplicationTitle, platform::kMbIconError);
}

void TFImportDate::Dispatch(void (TFImportDate::*handler)()) {
  try {
    (this->*handler)();
  } catch (const std::exception& e) {
    ShowUnhandled(e.what());
  }
}

}  // namespace app
