#include "ui/TSelectFolderDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <mutex>
#include <system_error>
#include <thread>

#include "ui/Folders.h"

namespace ui {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kStateRole = Qt::UserRole + 1;
enum ListingState { kNotListed = 0, kListing = 1, kListed = 2 };

QString Shown(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string PathOf(const QTreeWidgetItem* item) {
  return item->data(0, kPathRole).toByteArray().toStdString();
}

bool IsUnder(const std::string& path, const std::string& folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Zen Hei")});
  font.setPixelSize(11);
  return font;
}

}  // namespace

// Where a listing thread delivers its result: the dialog while it lives, nobody afterwards.
struct TSelectFolderDialog::Mailbox {
  std::mutex mutex;
  TSelectFolderDialog* dialog = nullptr;
};

TSelectFolderDialog::TSelectFolderDialog(const platform::FolderDialogTexts& texts, QWidget* parent)
    : QDialog(parent), drives_(ListDrives()), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->dialog = this;
  setWindowTitle(QString::fromStdString(texts.caption));
  setFont(DialogFont());
  setModal(true);

  lblPath = new QLabel(QString::fromStdString(texts.pathPrompt), this);
  edtPath = new QLineEdit(this);
  lblFolders = new QLabel(QString::fromStdString(texts.treePrompt), this);
  tvFolders = new QTreeWidget(this);
  tvFolders->setHeaderHidden(true);
  tvFolders->setColumnCount(1);
  lblDrives = new QLabel(QString::fromStdString(texts.drivePrompt), this);
  cbDrives = new QComboBox(this);
  const QIcon driveIcon = style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const std::string& drive : drives_) cbDrives->addItem(driveIcon, Shown(drive));
  lblPath->setBuddy(edtPath);
  lblFolders->setBuddy(tvFolders);
  lblDrives->setBuddy(cbDrives);
  btnOk = new QPushButton(QString::fromStdString(texts.okText), this);
  btnCancel = new QPushButton(QString::fromStdString(texts.cancelText), this);
  btnOk->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  for (QWidget* w : std::initializer_list<QWidget*>{lblPath, edtPath, lblFolders, tvFolders,
                                                    lblDrives, cbDrives}) {
    layout->addWidget(w, w == tvFolders ? 1 : 0);
  }
  layout->addLayout(buttons);
  resize(360, 420);

  connect(cbDrives, &QComboBox::currentIndexChanged, this, &TSelectFolderDialog::ShowDrive);
  connect(tvFolders, &QTreeWidget::itemExpanded, this, &TSelectFolderDialog::Expand);
  connect(tvFolders, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { Selected(item); });
  // Only a full path can be confirmed; a typed relative name would depend on the working folder.
  connect(edtPath, &QLineEdit::textChanged, this,
          [this](const QString& text) { btnOk->setEnabled(text.startsWith(QLatin1Char('/'))); });
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  ShowDrive(0);
}

TSelectFolderDialog::~TSelectFolderDialog() {
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->dialog = nullptr;
}

void TSelectFolderDialog::SetFolder(const std::string& folder) {
  std::string target = folder;
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  if (target.empty() || target.front() != '/') return;
  std::size_t best = 0;
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (IsUnder(target, drives_[i]) && drives_[i].size() >= drives_[best].size()) best = i;
  }
  target_ = target;
  if (cbDrives->currentIndex() != static_cast<int>(best)) {
    cbDrives->setCurrentIndex(static_cast<int>(best));
  }
  GoTowardsTarget();
}

std::string TSelectFolderDialog::Folder() const {
  if (edtPath->text() == Shown(selected_)) return selected_;
  return QFile::encodeName(QDir::cleanPath(edtPath->text())).toStdString();
}

void TSelectFolderDialog::ShowDrive(int index) {
  if (index < 0 || index >= static_cast<int>(drives_.size())) return;
  tvFolders->clear();
  items_.clear();
  const std::string& drive = drives_[static_cast<std::size_t>(index)];
  QTreeWidgetItem* root = AddFolder(nullptr, drive, drive);
  root->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
  tvFolders->setCurrentItem(root);
  Expand(root);
  root->setExpanded(true);
}

QTreeWidgetItem* TSelectFolderDialog::AddFolder(QTreeWidgetItem* parent, const std::string& path,
                                                const std::string& name) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvFolders);
  item->setText(0, Shown(name));
  item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
  item->setData(0, kPathRole, QByteArray::fromStdString(path));
  item->setData(0, kStateRole, kNotListed);
  // Whether a folder has subfolders is known only once it is listed.
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  items_[path] = item;
  return item;
}

void TSelectFolderDialog::Expand(QTreeWidgetItem* item) {
  if (item->data(0, kStateRole).toInt() != kNotListed) return;
  item->setData(0, kStateRole, kListing);
  const std::string folder = PathOf(item);
  try {
    std::thread([mailbox = mailbox_, folder] {
      const std::vector<std::string> names = ListSubfolders(folder);
      std::lock_guard lock(mailbox->mutex);
      if (TSelectFolderDialog* dialog = mailbox->dialog) {
        QMetaObject::invokeMethod(
            dialog, [dialog, folder, names] { dialog->Listed(folder, names); },
            Qt::QueuedConnection);
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the branch stays empty.
    Listed(folder, {});
  }
}

void TSelectFolderDialog::Listed(const std::string& folder, const std::vector<std::string>& names) {
  const auto found = items_.find(folder);
  if (found == items_.end()) return;  // the tree shows another drive by now
  QTreeWidgetItem* item = found->second;
  if (item->data(0, kStateRole).toInt() == kListed) return;
  item->setData(0, kStateRole, kListed);
  for (const std::string& name : names) AddFolder(item, JoinFolder(folder, name), name);
  if (names.empty()) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  GoTowardsTarget();
}

void TSelectFolderDialog::GoTowardsTarget() {
  if (target_.empty()) return;
  const int drive = cbDrives->currentIndex();
  if (drive < 0) return;
  std::string reached = drives_[static_cast<std::size_t>(drive)];
  for (;;) {
    QTreeWidgetItem* item = items_.at(reached);
    tvFolders->setCurrentItem(item);
    tvFolders->scrollToItem(item);
    if (reached == target_) break;
    const std::size_t from = reached == "/" ? 1 : reached.size() + 1;
    const std::string next =
        JoinFolder(reached, target_.substr(from, target_.find('/', from) - from));
    if (items_.count(next) != 0) {
      reached = next;
      continue;
    }
    // Not listed yet: wait for the listing. Listed and not there: the deepest folder it is.
    if (item->data(0, kStateRole).toInt() != kListed) {
      Expand(item);
      item->setExpanded(true);
      return;
    }
    break;
  }
  target_.clear();
}

void TSelectFolderDialog::Selected(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  selected_ = PathOf(item);
  edtPath->setText(Shown(selected_));
}

}  // namespace ui
