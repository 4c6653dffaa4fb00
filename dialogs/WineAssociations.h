#pragma once
// The Wine's Associations window: the desktop entries and MIME types Wine's menu builder
// put in the user's folders, the prefix each opens files in, the defaults each took, and
// their removal (after the user agrees through the boxes, with a backup of every file).

#include <QDialog>
#include <functional>

#include "platform/WineDesktopEntries.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace kestrova {

class WineAssociationsDialog : public QDialog {
 public:
  struct Services {
    DesktopFolders folders;
    BackupNamer namer;
    // Rebuilds the desktop's databases after a removal (the program's rebuild, which does
    // not block the window).
    std::function<void(bool mime, bool applications)> rebuild;
  };

  WineAssociationsDialog(QWidget* parent, Services services);

  // Reads Wine's files again and fills the list.
  void Reload();
  // Removes the selected rows, or every row, after a confirmation.
  void RemoveSelected();
  void RemoveAll();

  QTreeWidget* Tree() const { return m_tree; }
  QPushButton* RemoveButton() const { return m_remove; }
  QPushButton* RemoveAllButton() const { return m_removeAll; }
  QLabel* Status() const { return m_status; }
  const WineDesktop& Desktop() const { return m_desktop; }

 private:
  void Remove(const QStringList& ids, const QStringList& types);
  void UpdateButtons();

  Services m_services;
  WineDesktop m_desktop;
  QTreeWidget* m_tree;
  QPushButton* m_remove;
  QPushButton* m_removeAll;
  QLabel* m_status;
};

}  // namespace kestrova
