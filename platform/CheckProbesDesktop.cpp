#include "platform/CheckProbesDesktop.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdlib>

#include "platform/MimeAppsList.h"
#include "platform/WindowsCommandLine.h"
#include "platform/WineDesktopEntries.h"

namespace kestrova {
namespace {

// "%1", "%L", "%*": the shell puts the document there, so the document is the program.
bool NamesTheDocument(const std::string& program) {
  if (program.size() < 2 || program.front() != '%') return false;
  const char c = program[1];
  return (c >= '0' && c <= '9') || c == 'L' || c == 'l' || c == '*';
}

constexpr char kOwnEntryPrefix[] = "kestrova-";
const QByteArray kChoosingGroups[] = {kDefaultApplications, kAddedAssociations};

std::string S(const QString& text) { return text.toStdString(); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

// The [Desktop Entry] group says Hidden=true.
bool IsHidden(const QString& file) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const auto keys = DesktopEntryKeys(in.read(1 << 20));
  const auto hidden = keys.find("Hidden");
  return hidden != keys.end() && hidden->second == "true";
}

// An id Kestrova's mends may name as a file: one plain file name.
bool IsPlainId(const std::string& id) {
  return !id.empty() && id.find('/') == std::string::npos && id != "." && id != ".." &&
         id.find('\0') == std::string::npos;
}

}  // namespace

DesktopFacts DesktopCheckView::Read() {
  DesktopFacts facts;
  QByteArray text;
  QString reason;
  ReadWholeFile(m_folders.MimeAppsList(), text, reason);
  const MimeAppsList list(text);
  for (const QByteArray& group : kChoosingGroups) {
    for (const auto& [type, value] : list.Entries(group)) {
      DesktopFacts::ListLine line;
      line.group = group.toStdString();
      line.isDefault = group == kDefaultApplications;
      line.type = type.toStdString();
      for (const QByteArray& id : value.split(';')) {
        if (!id.trimmed().isEmpty()) line.ids.push_back(id.trimmed().toStdString());
      }
      if (!line.ids.empty()) facts.userList.push_back(std::move(line));
    }
  }
  const QDir apps(m_folders.Applications());
  for (const QString& id :
       apps.entryList({QString(kOwnEntryPrefix) + "*.desktop"}, QDir::Files, QDir::Name)) {
    facts.ownEntries.push_back(S(id));
  }
  QFile ledger(m_folders.Ledger());
  if (ledger.open(QIODevice::ReadOnly)) {
    const QJsonObject extensions =
        QJsonDocument::fromJson(ledger.readAll()).object().value("extensions").toObject();
    for (auto it = extensions.begin(); it != extensions.end(); ++it) {
      const QString id = it.value().toObject().value("appId").toString();
      if (!id.isEmpty()) facts.ledgerEntries.insert(S(id));
    }
  }
  const WineDesktop wine = ReadWineDesktop(m_folders);
  for (const WineEntry& entry : wine.entries) {
    DesktopFacts::WineEntry w;
    w.id = S(entry.id);
    w.prefix = S(entry.prefix.path);
    w.prefixExists = entry.prefixExists;
    for (const QString& type : entry.mimeTypes) w.types.push_back(S(type));
    w.listLines = static_cast<int>(entry.defaults.size() + entry.added.size());
    facts.wineEntries.push_back(std::move(w));
  }
  for (const QString& type : wine.orphanTypes) facts.wineOrphanTypes.push_back(S(type));
  return facts;
}

bool DesktopCheckView::EntryExists(const std::string& id) {
  if (!IsPlainId(id)) return false;
  QStringList dirs{m_folders.dataHome};
  QString system = qEnvironmentVariable("XDG_DATA_DIRS");
  if (system.isEmpty()) system = "/usr/local/share/:/usr/share/";
  dirs << system.split(':', Qt::SkipEmptyParts);
  // "a-b-c.desktop" may live as a-b-c.desktop, a/b-c.desktop or a/b/c.desktop.
  QStringList names{Q(id)};
  QString name = Q(id);
  for (qsizetype dash = name.indexOf('-'); dash > 0; dash = name.indexOf('-', dash + 1)) {
    name[dash] = '/';
    names << name;
  }
  for (const QString& dir : dirs) {
    for (const QString& candidate : names) {
      const QString file = dir + "/applications/" + candidate;
      if (QFileInfo(file).isFile()) return !IsHidden(file);
    }
  }
  return false;
}

bool DesktopCheckMends::Mend(const Finding& f, std::string* done) {
  std::string why;
  bool changed = false;
  switch (f.kind) {
    case CheckKind::StaleDesktopDefault:
      changed = MendListLine(f, &why);
      break;
    case CheckKind::UnusedDesktopEntry:
      changed = MendOwnEntry(f, &why);
      break;
    case CheckKind::WineLeftover:
      changed = MendWine(f, &why);
      break;
    default:
      why = "not a desktop problem";
      break;
  }
  if (!why.empty()) {
    *done = "not mended: " + f.subject + ": " + why;
    return false;
  }
  if (!changed) {
    *done = "already mended: " + f.subject;
    return true;
  }
  switch (f.kind) {
    case CheckKind::StaleDesktopDefault:
      *done = "removed " + f.desktopEntry + " from the " + f.contentType + " line of [" +
              f.listGroup + "] in mimeapps.list";
      break;
    case CheckKind::UnusedDesktopEntry:
      *done = "removed the desktop entry " + f.desktopEntry;
      break;
    default:
      *done = "removed Wine's " + f.subject;
      break;
  }
  return true;
}

bool DesktopCheckMends::MendListLine(const Finding& f, std::string* why) {
  QByteArray text;
  QString reason;
  if (!ReadWholeFile(m_folders.MimeAppsList(), text, reason)) {
    *why = S(reason);
    return false;
  }
  MimeAppsList list(text);
  const QByteArray group = QByteArray::fromStdString(f.listGroup);
  const QByteArray type = QByteArray::fromStdString(f.contentType);
  const auto value = list.Get(group, type);
  if (!value) return false;
  const QByteArray rest = WithoutId(*value, QByteArray::fromStdString(f.desktopEntry));
  if (rest == *value) return false;
  QString copy;
  if (!BackUpUserFile(m_folders.MimeAppsList(), m_namer, &copy, &reason)) {
    *why = S(reason);
    return false;
  }
  m_backups << copy;
  if (rest.isEmpty()) {
    list.Remove(group, type);
  } else {
    list.Set(group, type, rest);
  }
  if (!WriteFileAtomically(m_folders.MimeAppsList(), list.Text(), reason)) {
    *why = S(reason);
    return false;
  }
  return true;
}

bool DesktopCheckMends::MendOwnEntry(const Finding& f, std::string* why) {
  if (!IsPlainId(f.desktopEntry) || !f.desktopEntry.starts_with(kOwnEntryPrefix)) {
    *why = "not an entry of Kestrova's";
    return false;
  }
  const QString file = m_folders.Applications() + '/' + Q(f.desktopEntry);
  if (!QFileInfo::exists(file)) return false;
  QString copy;
  QString reason;
  if (!BackUpUserFile(file, m_namer, &copy, &reason)) {
    *why = S(reason);
    return false;
  }
  m_backups << copy;
  QFile entry(file);
  if (!entry.remove()) {
    *why = S(entry.errorString());
    return false;
  }
  m_rebuildApplications = true;
  return true;
}

bool DesktopCheckMends::MendWine(const Finding& f, std::string* why) {
  const WineDesktop wine = ReadWineDesktop(m_folders);
  QStringList ids;
  QStringList types;
  if (!f.desktopEntry.empty()) {
    for (const WineEntry& entry : wine.entries) {
      // A prefix that came back makes the entry sound again: it stays.
      if (entry.id == Q(f.desktopEntry) && !entry.prefixExists) ids << entry.id;
    }
  } else if (wine.orphanTypes.contains(Q(f.contentType))) {
    types << Q(f.contentType);
  }
  if (ids.isEmpty() && types.isEmpty()) return false;
  const WineRemoval removal = RemoveWineEntries(m_folders, wine, ids, types, m_namer);
  m_backups << removal.backups;
  m_rebuildMime = m_rebuildMime || removal.rebuildMime;
  m_rebuildApplications = m_rebuildApplications || removal.rebuildApplications;
  if (!removal.problems.isEmpty()) {
    *why = S(removal.problems.join("; "));
    return false;
  }
  return true;
}

ProgramState DesktopProgramResolver::Resolve(const std::string& commandLine, std::string* program) {
  const ProgramAndArguments split = SplitProgramName(commandLine);
  *program = ExpandPercentVariables(split.program, [](const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
  });
  if (program->empty() || NamesTheDocument(*program)) return ProgramState::NotChecked;
  std::string path;
  switch (m_opener.Find(QString::fromStdString(*program), &path)) {
    case DesktopOpener::Target::Program:
      return ProgramState::Found;
    case DesktopOpener::Target::WebAddress:
      return ProgramState::NotChecked;
    case DesktopOpener::Target::Document:
    case DesktopOpener::Target::NotExecutable:
      return ProgramState::NotExecutable;
    case DesktopOpener::Target::Missing:
      break;
  }
  return ProgramState::Missing;
}

bool DesktopCheckFiles::Exists(const std::string& file) {
  struct stat st;
  return !file.empty() && file.find('\0') == std::string::npos && stat(file.c_str(), &st) == 0;
}

}  // namespace kestrova
