#include "platform/WineDesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <map>
#include <set>

#include "platform/MimeAppsList.h"

namespace kestrova {
namespace {

constexpr char kExtensionEntry[] = "wine-extension-";
constexpr char kProtocolEntry[] = "wine-protocol-";
constexpr char kWineTypePrefix[] = "application/x-wine-extension-";
constexpr char kSchemeTypePrefix[] = "x-scheme-handler/";

// The groups whose lines make an entry the chosen one; [Removed Associations] takes
// nothing over and stays as the user wrote it.
const QByteArray kListGroups[] = {kDefaultApplications, kAddedAssociations};

// A string value with the desktop-entry escapes undone (\s \n \t \r \\).
QString Unescape(const QString& value) {
  QString out;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const QChar next = value[++i];
    if (next == 's') {
      out += ' ';
    } else if (next == 'n') {
      out += '\n';
    } else if (next == 't') {
      out += '\t';
    } else if (next == 'r') {
      out += '\r';
    } else {
      out += next;
    }
  }
  return out;
}

// The words of an Exec value by the desktop-entry quoting: double quotes group, and inside
// them a backslash takes the next character as it is.
QStringList ExecWords(const QString& exec) {
  QStringList words;
  QString word;
  bool inWord = false;
  bool quoted = false;
  for (qsizetype i = 0; i < exec.size(); ++i) {
    const QChar c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (inWord) words << word;
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '"') {
      quoted = true;
    } else {
      word += c;
    }
  }
  if (inWord) words << word;
  return words;
}

bool IsWineProgram(const QString& word) {
  const QString name = QFileInfo(word).fileName();
  return name == "wine" || name == "wine64" || name.startsWith("wine-") ||
         name.startsWith("wine64-");
}

QString PackageFileOf(const DesktopFolders& folders, const QString& type) {
  return QFileInfo(folders.MimePackage()).absolutePath() + '/' +
         type.mid(QString("application/").size()) + ".xml";
}

bool Remove(const QString& path, QStringList* problems) {
  QFile file(path);
  if (!file.exists()) return false;
  if (file.remove()) return true;
  *problems << path + " could not be removed: " + file.errorString();
  return false;
}

}  // namespace

std::map<QString, QString> DesktopEntryKeys(const QByteArray& text) {
  std::map<QString, QString> keys;
  bool inEntry = false;
  for (const QByteArray& raw : text.split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.startsWith('[')) {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || line.startsWith('#')) continue;
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    if (!keys.contains(key)) keys[key] = Unescape(line.mid(eq + 1).trimmed());
  }
  return keys;
}

std::optional<WinePrefix> WinePrefixOf(const QString& exec) {
  const QStringList words = ExecWords(exec);
  WinePrefix prefix;
  qsizetype i = 0;
  if (i < words.size() && QFileInfo(words[i]).fileName() == "env") {
    for (++i; i < words.size(); ++i) {
      const QString& word = words[i];
      if (word.startsWith('-')) continue;
      const qsizetype eq = word.indexOf('=');
      if (eq <= 0) break;
      if (word.left(eq) == "WINEPREFIX" && eq + 1 < word.size()) {
        prefix.path = word.mid(eq + 1);
        prefix.named = true;
      }
    }
  }
  if (i >= words.size() || !IsWineProgram(words[i])) return std::nullopt;
  if (!prefix.named) prefix.path = QDir::homePath() + "/.wine";
  if (QDir::isRelativePath(prefix.path)) prefix.path = QDir::homePath() + '/' + prefix.path;
  prefix.path = QDir::cleanPath(prefix.path);
  return prefix;
}

WineDesktop ReadWineDesktop(const DesktopFolders& folders) {
  WineDesktop desktop;
  QByteArray listText;
  QString reason;
  if (!ReadWholeFile(folders.MimeAppsList(), listText, reason)) {
    desktop.problems << folders.MimeAppsList() + ": " + reason;
  }
  const MimeAppsList list(listText);

  const QDir apps(folders.Applications());
  const QStringList names = apps.entryList(
      {QString(kExtensionEntry) + "*.desktop", QString(kProtocolEntry) + "*.desktop"}, QDir::Files,
      QDir::Name);
  std::set<QString> listedTypes;
  for (const QString& id : names) {
    QFile file(apps.filePath(id));
    if (!file.open(QIODevice::ReadOnly)) {
      desktop.problems << file.fileName() + ": " + file.errorString();
      continue;
    }
    const auto keys = DesktopEntryKeys(file.read(1 << 20));
    const auto exec = keys.find("Exec");
    const auto prefix = exec == keys.end() ? std::nullopt : WinePrefixOf(exec->second);
    // A file of that name that does not start Wine is someone else's.
    if (!prefix) continue;
    WineEntry entry;
    entry.id = id;
    entry.file = file.fileName();
    if (keys.contains("Name")) entry.name = keys.at("Name");
    if (keys.contains("MimeType")) {
      for (const QString& type : keys.at("MimeType").split(';', Qt::SkipEmptyParts)) {
        entry.mimeTypes << type.trimmed();
      }
    }
    entry.prefix = *prefix;
    entry.prefixExists = QFileInfo(prefix->path).isDir();
    const QString stem = id.chopped(QString(".desktop").size());
    if (stem.startsWith(kExtensionEntry)) {
      entry.extensions << '.' + stem.mid(QString(kExtensionEntry).size());
    }
    for (const QString& type : entry.mimeTypes) {
      listedTypes.insert(type);
      if (type.startsWith(kSchemeTypePrefix)) {
        entry.extensions << type.mid(QString(kSchemeTypePrefix).size()) + ':';
      }
      if (!type.startsWith(kWineTypePrefix)) continue;
      const QString ext = '.' + type.mid(QString(kWineTypePrefix).size());
      // The type names a file of ours to remove: it must not reach another folder.
      if (ext.size() < 2 || ext.contains('/')) continue;
      if (!entry.extensions.contains(ext)) entry.extensions << ext;
      if (QFileInfo::exists(PackageFileOf(folders, type))) entry.ownTypes << type;
    }
    const QByteArray idBytes = id.toUtf8();
    for (const QByteArray& group : kListGroups) {
      for (const auto& [type, value] : list.Entries(group)) {
        if (WithoutId(value, idBytes) == value) continue;
        QStringList& into = group == kDefaultApplications ? entry.defaults : entry.added;
        if (!into.contains(QString::fromUtf8(type))) into << QString::fromUtf8(type);
      }
    }
    desktop.entries.push_back(std::move(entry));
  }

  const QDir packages(QFileInfo(folders.MimePackage()).absolutePath());
  for (const QString& name : packages.entryList({"x-wine-extension-*.xml"}, QDir::Files)) {
    const QString type = "application/" + name.chopped(4);
    if (!listedTypes.contains(type)) desktop.orphanTypes << type;
  }
  return desktop;
}

QByteArray WithoutId(const QByteArray& value, const QByteArray& id) {
  const QList<QByteArray> parts = value.split(';');
  QList<QByteArray> kept;
  bool dropped = false;
  for (const QByteArray& part : parts) {
    if (part.trimmed() == id) {
      dropped = true;
      continue;
    }
    kept << part;
  }
  if (!dropped) return value;
  // "a;b;" splits into a, b and an empty tail, which keeps the ";" at the end.
  QByteArray out = kept.join(';');
  if (out == ";" || out.trimmed().isEmpty()) return {};
  return out;
}

bool BackUpUserFile(const QString& file, const BackupNamer& namer, QString* copy, QString* reason) {
  const QFileInfo info(file);
  *copy = namer(info.completeBaseName(), info.suffix());
  if (QFileInfo::exists(*copy)) return true;
  if (!QDir().mkpath(QFileInfo(*copy).absolutePath())) {
    *reason = "the backup folder " + QFileInfo(*copy).absolutePath() + " cannot be made";
    return false;
  }
  QFile source(file);
  if (!source.open(QIODevice::ReadOnly)) {
    *reason = file + " cannot be read: " + source.errorString();
    return false;
  }
  QString error;
  if (!WriteFileAtomically(*copy, source.readAll(), error)) {
    *reason = "the backup " + *copy + " cannot be written: " + error;
    return false;
  }
  return true;
}

WineRemoval RemoveWineEntries(const DesktopFolders& folders, const WineDesktop& desktop,
                              const QStringList& ids, const QStringList& orphanTypes,
                              const BackupNamer& namer) {
  WineRemoval outcome;
  std::vector<const WineEntry*> going;
  std::set<QString> typesKept;
  for (const WineEntry& entry : desktop.entries) {
    if (ids.contains(entry.id)) {
      going.push_back(&entry);
    } else {
      typesKept.insert(entry.mimeTypes.begin(), entry.mimeTypes.end());
    }
  }
  QStringList packages;
  const auto addPackage = [&](const QString& type) {
    const QString file = PackageFileOf(folders, type);
    if (!typesKept.contains(type) && !packages.contains(file) && QFileInfo::exists(file)) {
      packages << file;
    }
  };
  for (const WineEntry* entry : going) {
    for (const QString& type : entry->ownTypes) addPackage(type);
  }
  for (const QString& type : orphanTypes) {
    if (desktop.orphanTypes.contains(type)) addPackage(type);
  }

  // The list loses the ids of the entries that go, and nothing else.
  QByteArray before;
  QString reason;
  if (!ReadWholeFile(folders.MimeAppsList(), before, reason)) {
    outcome.problems << folders.MimeAppsList() + ": " + reason + ". Nothing was removed.";
    return outcome;
  }
  MimeAppsList list(before);
  for (const WineEntry* entry : going) {
    const QByteArray id = entry->id.toUtf8();
    for (const QByteArray& group : kListGroups) {
      for (const auto& [type, value] : list.Entries(group)) {
        const QByteArray rest = WithoutId(value, id);
        if (rest == value) continue;
        if (rest.isEmpty()) {
          list.Remove(group, type);
        } else {
          list.Set(group, type, rest);
        }
      }
    }
  }
  const bool listChanges = list.Text() != before;

  QStringList toCopy;
  if (listChanges) toCopy << folders.MimeAppsList();
  for (const WineEntry* entry : going) toCopy << entry->file;
  toCopy << packages;
  for (const QString& file : toCopy) {
    QString copy;
    if (!BackUpUserFile(file, namer, &copy, &reason)) {
      outcome.problems << reason + ". Nothing was removed.";
      outcome.backups.clear();
      return outcome;
    }
    outcome.backups << copy;
  }

  if (listChanges && !WriteFileAtomically(folders.MimeAppsList(), list.Text(), reason)) {
    outcome.problems << folders.MimeAppsList() + " could not be written: " + reason;
  }
  for (const QString& file : packages) {
    if (Remove(file, &outcome.problems)) {
      ++outcome.removedTypes;
      outcome.rebuildMime = true;
    }
  }
  for (const WineEntry* entry : going) {
    if (Remove(entry->file, &outcome.problems)) {
      ++outcome.removedEntries;
      outcome.rebuildApplications = true;
    }
  }
  return outcome;
}

}  // namespace kestrova
