#pragma once
// Wine's associations on the user's desktop: the entries Wine's menu builder writes into
// $XDG_DATA_HOME/applications (wine-extension-EXT.desktop, wine-protocol-SCHEME.desktop),
// the MIME types it adds ($XDG_DATA_HOME/mime/packages/x-wine-extension-EXT.xml), and the
// lines of the user's mimeapps.list that name those entries. Read, and removed on request
// with a backup copy of every file first.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <vector>

#include "platform/DesktopApply.h"

namespace kestrova {

// The keys of a desktop entry's [Desktop Entry] group, their values unescaped; the first of
// a key repeated counts.
std::map<QString, QString> DesktopEntryKeys(const QByteArray& text);

// The Wine prefix a command line opens files in.
struct WinePrefix {
  QString path;
  bool named = false;  // false: the command names none, so Wine takes ~/.wine
};
// The prefix of a desktop entry's Exec value (after the desktop-entry unescaping):
// `env WINEPREFIX="/p" wine start ...`, or `wine start ...` for the default prefix. Nothing
// when the command does not run Wine. A prefix that is not absolute is taken from the home
// folder, where the desktop starts programs.
std::optional<WinePrefix> WinePrefixOf(const QString& exec);

struct WineEntry {
  QString id;              // "wine-extension-txt.desktop"
  QString file;            // its path
  QString name;            // its Name
  QStringList mimeTypes;   // its MimeType list
  QStringList extensions;  // ".txt" for wine-extension-txt; "mailto:" for a protocol entry
  QStringList ownTypes;    // of mimeTypes, those Wine defined in a package of its own
  WinePrefix prefix;
  bool prefixExists = false;
  QStringList defaults;  // types whose [Default Applications] line names the entry
  QStringList added;     // types whose [Added Associations] line names it
};

struct WineDesktop {
  std::vector<WineEntry> entries;  // sorted by id
  // Types of Wine's packages that no entry lists any more (Wine keeps the package when an
  // extension loses its program): "application/x-wine-extension-kbq".
  QStringList orphanTypes;
  // Why something could not be read; the rest is still read.
  QStringList problems;
};

// Reads the user's Wine entries, packages and mimeapps.list. Files only: no process, no
// GIO, so a worker thread may call it.
WineDesktop ReadWineDesktop(const DesktopFolders& folders);

struct WineRemoval {
  QStringList backups;   // the copies written
  QStringList problems;  // what was not done, and why
  int removedEntries = 0;
  int removedTypes = 0;
  bool rebuildMime = false;
  bool rebuildApplications = false;
};

// Removes the entries named in `ids` and the orphan types in `orphanTypes`: the entry
// files, the Wine packages of their types that no remaining Wine entry lists, and their ids
// from the [Default Applications] and [Added Associations] lines of the user's
// mimeapps.list (a line left empty goes), so the system's choice applies again. Every file
// is copied to `namer`'s backup first; when any copy cannot be written nothing is changed.
// The databases are rebuilt by the caller when the outcome asks.
WineRemoval RemoveWineEntries(const DesktopFolders& folders, const WineDesktop& desktop,
                              const QStringList& ids, const QStringList& orphanTypes,
                              const BackupNamer& namer);

// Copies a user file to its backup (`namer` from its base name and suffix) before it
// changes. An existing copy of that name is kept: it is the older state. False with a reason.
bool BackUpUserFile(const QString& file, const BackupNamer& namer, QString* copy, QString* reason);

// The list `value` ("a.desktop;b.desktop;") without `id`; the trailing ";" kept as written.
QByteArray WithoutId(const QByteArray& value, const QByteArray& id);

}  // namespace kestrova
