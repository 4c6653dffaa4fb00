#pragma once
// The association check: finds broken associations in the store and mends them on request.
// Everything outside the store (programs, files, icons) is asked through the seams below.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

// What a finding is about. New kinds (the desktop's, Wine's) are added at the end.
enum class CheckKind {
  DanglingExtension,    // an extension names a file type that has no key
  UnusedFileType,       // a file type no extension names (information only)
  MissingProgram,       // an action's command names no program that can run
  BadDefaultAction,     // the "shell" key's default names no action
  BrokenIcon,           // a DefaultIcon whose file is missing or holds no icon at its index
  UnknownContentType,   // a Content Type the MIME database does not know, or knows for another
  StaleDesktopDefault,  // the user's mimeapps.list names an application that is not installed
  UnusedDesktopEntry,   // a desktop entry of Kestrova's that nothing applies or chooses
  WineLeftover,         // a Wine entry whose prefix is gone, or a Wine MIME type no entry lists
};

inline constexpr CheckKind kAllCheckKinds[] = {
    CheckKind::DanglingExtension,   CheckKind::UnusedFileType,     CheckKind::MissingProgram,
    CheckKind::BadDefaultAction,    CheckKind::BrokenIcon,         CheckKind::UnknownContentType,
    CheckKind::StaleDesktopDefault, CheckKind::UnusedDesktopEntry, CheckKind::WineLeftover};

// Whether a kind concerns the desktop's files rather than the store.
bool IsDesktopKind(CheckKind kind);

// The kind's name on the command line and in scripts ("missing-program").
const char* CheckKindName(CheckKind kind);
// The kind's caption in the window ("Actions whose program is missing").
const char* CheckKindCaption(CheckKind kind);
// False for a kind that is only information (an unused file type): it is shown, it does
// not make the check fail, and it offers no mend.
bool IsFault(CheckKind kind);
// The kind named `name` (as CheckKindName gives it); false when no kind has that name.
bool CheckKindFromName(const std::string& name, CheckKind* kind);

struct Finding {
  CheckKind kind = CheckKind::DanglingExtension;
  // What it concerns as a user names it: ".txt", "txtfile", "txtfile\Shell\open".
  std::string subject;
  // What is wrong, in one line.
  std::string problem;
  // The mend offered, in words; empty when there is none.
  std::string mend;

  // The names the mend works on: the extension (without its dot), the file type, the
  // action, the content type. Only those the kind needs are set.
  std::string extension;
  std::string progId;
  std::string verb;
  std::string contentType;
  // For the desktop's kinds: the desktop entry ("x.desktop") and the mimeapps.list group.
  std::string desktopEntry;
  std::string listGroup;
};

// How the launcher would find the program of a command line.
enum class ProgramState {
  Found,          // a program that can be started
  Missing,        // nothing by that name
  NotExecutable,  // a file or folder by that name that cannot be started
  NotChecked,     // the command runs the document itself ("%1"), or names no program
};

class ProgramResolver {
 public:
  virtual ~ProgramResolver() = default;
  // The state of the program `commandLine` starts; `program` gets the program's name as the
  // command line gives it (after expansion), for messages.
  virtual ProgramState Resolve(const std::string& commandLine, std::string* program) = 0;
};

// The files the check looks at: whether one exists, and how many icons it holds.
class CheckFiles {
 public:
  virtual ~CheckFiles() = default;
  virtual bool Exists(const std::string& file) = 0;
  // As IconSource::Count: how many icons sit at the indexes 0, 1, ... of `file`.
  virtual int IconCount(const std::string& file) = 0;
};

// What the check sees of the user's desktop, read by the desktop's probe.
struct DesktopFacts {
  // A line of the user's mimeapps.list that chooses applications ([Default Applications],
  // [Added Associations]): the group, the MIME type, the desktop entries it names.
  struct ListLine {
    std::string group;
    bool isDefault = false;  // the [Default Applications] group
    std::string type;
    std::vector<std::string> ids;
  };
  struct WineEntry {
    std::string id;
    std::string prefix;
    bool prefixExists = true;
    std::vector<std::string> types;
    int listLines = 0;  // the mimeapps.list lines naming it
  };
  std::vector<ListLine> userList;
  std::vector<std::string> ownEntries;  // Kestrova's entries in the user's applications folder
  std::set<std::string> ledgerEntries;  // the entries Kestrova's ledger applies
  std::vector<WineEntry> wineEntries;
  std::vector<std::string> wineOrphanTypes;  // Wine's MIME types no Wine entry lists
};

class DesktopProbe {
 public:
  virtual ~DesktopProbe() = default;
  virtual DesktopFacts Read() = 0;
  // Whether the desktop entry is installed where the desktop looks (and not Hidden).
  virtual bool EntryExists(const std::string& id) = 0;
};

// Mends a finding of a desktop kind in the user's files, each changed file copied to the
// backups first.
class DesktopMends {
 public:
  virtual ~DesktopMends() = default;
  // As AssociationMender::Mend.
  virtual bool Mend(const Finding& finding, std::string* done) = 0;
};

// Reads HKEY_CLASSES_ROOT in one read transaction. `progress` (may be empty) is called now
// and then with a fraction from 0 to 1. Findings come grouped by kind, in the order of
// kAllCheckKinds, each group in the store's order. Throws StoreError.
// With `desktop`, the desktop's kinds follow the store's.
std::vector<Finding> CheckAssociations(RegistryEngine& engine, ProgramResolver& programs,
                                       CheckFiles& files,
                                       const std::function<void(double)>& progress = {},
                                       DesktopProbe* desktop = nullptr);

// Writes a backup of a key before a mend changes it.
class KeyBackup {
 public:
  virtual ~KeyBackup() = default;
  // `name` names the backup file (the extension with its dot, the file type, the content
  // type); `key` is the key's full name ("HKEY_CLASSES_ROOT\txtfile"); `exists` is false
  // for a key the mend is about to create, whose backup then deletes it. False, with
  // `reason`, when the backup could not be written: the mend then changes nothing.
  virtual bool Save(const std::string& name, const std::string& key, bool exists,
                    std::string* reason) = 0;
};

// Applies mends one by one, backing up each key before its first change: a key changed by
// two mends of one run is backed up once, as it was before the run.
class AssociationMender {
 public:
  // `desktop` mends the desktop's kinds; without it they are not mended.
  AssociationMender(RegistryEngine& engine, KeyBackup& backup, DesktopMends* desktop = nullptr);
  // Mends one finding. True with `done` saying what was done; false with `done` saying why
  // not (no mend for the kind, the backup failed, the store refused). A finding whose
  // problem is gone meanwhile is left alone and counts as mended.
  bool Mend(const Finding& finding, std::string* done);

 private:
  bool Back(const std::string& name, const std::string& key, bool exists, std::string* reason);
  // Backs up `name` (its `backupKey`), then removes the key at `path`; false, with nothing
  // changed, when the key is gone or the backup failed.
  bool BackUpAndRemove(const std::string& name, const std::string& backupKey,
                       const std::string& path, std::string* reason);

  RegistryEngine& m_engine;
  KeyBackup& m_backup;
  DesktopMends* m_desktop;
  std::set<std::string> m_saved;
};

}  // namespace kestrova
