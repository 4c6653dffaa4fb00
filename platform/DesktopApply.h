#pragma once
// Puts the store's associations on the user's desktop: Kestrova's MIME package, its own
// desktop entries and the defaults in mimeapps.list, with a ledger of what it wrote and
// what it replaced, so that all of it can be taken back. Only the user's own files are
// written; every change of an existing file is preceded by a backup copy.

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "store/DesktopPlan.h"

namespace kestrova {

struct DesktopFolders {
  QString dataHome;    // $XDG_DATA_HOME
  QString configHome;  // $XDG_CONFIG_HOME
  QString MimePackage() const;
  QString Applications() const;
  QString MimeAppsList() const;
  QString Ledger() const;
};
DesktopFolders UserDesktopFolders();

// The backup copy's path for a user file, from its base name and suffix
// ("mimeapps", "list"); the caller decides the folder and the time stamp.
using BackupNamer = std::function<QString(const QString& name, const QString& suffix)>;

struct ApplyOutcome {
  QStringList problems;  // files left unchanged, and why
  QStringList skipped;   // commands the desktop could not be given
  bool rebuildMime = false;
  bool rebuildApplications = false;
};

class DesktopApplier {
 public:
  DesktopApplier(DesktopFolders folders, BackupNamer namer);

  // The desktop's databases as they are without Kestrova's additions (the ledger keeps
  // what the desktop said before Kestrova added its own).
  SystemView View() const;
  // The extensions the ledger holds for a file type (ProgID), matched without letter case.
  std::vector<std::string> ExtensionsOf(const std::string& progId) const;
  // Whether anything Kestrova put on the desktop is still there.
  bool HasChanges() const;

  // Makes the desktop follow the plans; the small file edits only, the databases are
  // rebuilt by the caller when the outcome asks (RebuildDesktopDatabases).
  ApplyOutcome Apply(const std::vector<DesktopPlan>& plans);
  // Takes back everything the ledger names.
  ApplyOutcome RemoveAll();

 private:
  DesktopFolders m_folders;
  BackupNamer m_namer;
};

// Runs update-mime-database and update-desktop-database on the user's folders and waits
// for them: for the command line (the window uses DesktopRebuilder). Returns what failed,
// empty when all ran.
QString RebuildDesktopDatabases(const DesktopFolders& folders, bool mime, bool applications);

}  // namespace kestrova
