#pragma once
// The association check's view of the machine: programs found the way the opener finds
// them, files and their icons through the icon source, and the user's desktop files.

#include <memory>

#include <QStringList>

#include "platform/DesktopApply.h"
#include "platform/OpenerDesktop.h"
#include "store/AssociationCheck.h"
#include "store/IconSource.h"

namespace kestrova {

// Splits the command line by the shell's rule, expands %NAME% from the environment, and
// asks the desktop opener where the program is. A command that starts the document itself
// ("%1", "%L") or a web address is not checked.
class DesktopProgramResolver final : public ProgramResolver {
 public:
  DesktopProgramResolver() = default;
  explicit DesktopProgramResolver(DesktopOpener::Options options) : m_opener(std::move(options)) {}
  ProgramState Resolve(const std::string& commandLine, std::string* program) override;

 private:
  DesktopOpener m_opener;
};

class DesktopCheckFiles final : public CheckFiles {
 public:
  explicit DesktopCheckFiles(std::shared_ptr<IconSource> icons) : m_icons(std::move(icons)) {}
  // The text as it stands, as the icon source takes it: no unquoting, no expansion.
  bool Exists(const std::string& file) override;
  int IconCount(const std::string& file) override { return m_icons->Count(file); }

 private:
  std::shared_ptr<IconSource> m_icons;
};

// The user's mimeapps.list, Kestrova's entries and ledger, and Wine's entries, read from
// the files only (no GIO, no process), so the check's worker thread may ask.
class DesktopCheckView final : public DesktopProbe {
 public:
  explicit DesktopCheckView(DesktopFolders folders) : m_folders(std::move(folders)) {}
  DesktopFacts Read() override;
  // Found as the desktop finds an id: in the applications folder of $XDG_DATA_HOME, then of
  // each $XDG_DATA_DIRS entry, "vendor-name.desktop" also as "vendor/name.desktop"; the
  // first file found counts, and one marked Hidden hides the id.
  bool EntryExists(const std::string& id) override;

 private:
  DesktopFolders m_folders;
};

// The desktop kinds' mends, each file copied to the backups first. The databases are
// rebuilt by the caller afterwards when RebuildMime/RebuildApplications say so.
class DesktopCheckMends final : public DesktopMends {
 public:
  DesktopCheckMends(DesktopFolders folders, BackupNamer namer)
      : m_folders(std::move(folders)), m_namer(std::move(namer)) {}
  bool Mend(const Finding& finding, std::string* done) override;

  bool RebuildMime() const { return m_rebuildMime; }
  bool RebuildApplications() const { return m_rebuildApplications; }
  // The copies written, in order.
  const QStringList& Backups() const { return m_backups; }

 private:
  bool MendListLine(const Finding& f, std::string* why);
  bool MendOwnEntry(const Finding& f, std::string* why);
  bool MendWine(const Finding& f, std::string* why);

  DesktopFolders m_folders;
  BackupNamer m_namer;
  bool m_rebuildMime = false;
  bool m_rebuildApplications = false;
  QStringList m_backups;
};

}  // namespace kestrova
