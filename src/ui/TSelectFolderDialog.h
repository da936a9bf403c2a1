#pragma once
// The folder-selection dialog of the browse button: a path field, a folder tree and a drive list
// under their prompts, and the confirm and cancel buttons. The tree shows the drive chosen in the
// drive list; picking a folder shows its full path in the path field.
//
// Folders are listed on threads of their own, so a drive that stopped answering (a network share
// gone away) leaves its branch empty while the dialog goes on working. Every path is kept as the
// file system spells it: a folder whose name is not valid UTF-8 comes back as that folder.

#include <QDialog>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ui {

class TSelectFolderDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TSelectFolderDialog(const platform::FolderDialogTexts& texts,
                               QWidget* parent = nullptr);
  ~TSelectFolderDialog() override;

  // Chooses the drive that holds `folder` and opens the tree down to it as the listings arrive;
  // the deepest folder on the way that exists ends up selected.
  void SetFolder(const std::string& folder);
  // The chosen folder's full path: the selected folder, or what the user typed into the path
  // field. The root keeps its separator; other folders end without one.
  std::string Folder() const;
  // True when no listing asked for by SetFolder is outstanding.
  bool Settled() const { return target_.empty(); }

  QLabel* lblPath = nullptr;
  QLineEdit* edtPath = nullptr;
  QLabel* lblFolders = nullptr;
  QTreeWidget* tvFolders = nullptr;
  QLabel* lblDrives = nullptr;
  QComboBox* cbDrives = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;

 private:
  struct Mailbox;

  void ShowDrive(int index);
  void Expand(QTreeWidgetItem* item);
  void Listed(const std::string& folder, const std::vector<std::string>& names);
  void GoTowardsTarget();
  void Selected(QTreeWidgetItem* item);
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const std::string& path,
                             const std::string& name);

  std::vector<std::string> drives_;
  std::map<std::string, QTreeWidgetItem*> items_;  // the tree's folders by path
  std::string target_;                              // where SetFolder still has to go
  std::string selected_;                            // the path shown in edtPath
  std::shared_ptr<Mailbox> mailbox_;
};

}  // namespace ui
