// GLib's headers come before Qt's: Qt defines "signals" as a macro, which GLib uses as a name.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "platform/DesktopApply.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QProcess>
#include <QSaveFile>
#include <QXmlStreamWriter>
#include <map>
#include <set>

#include "platform/MimeAppsList.h"
#include "store/CommandToExec.h"
#include "store/UserFolders.h"

namespace kestrova {
namespace {

constexpr char kOwnPrefix[] = "kestrova-";

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }
QByteArray B(const std::string& text) { return QByteArray::fromStdString(text); }

// What Kestrova applied, kept across runs: per extension the plan it applied, per MIME type
// the mimeapps.list lines that were there before it set a default.
struct Ledger {
  QJsonObject extensions;
  QJsonObject types;

  static Ledger Load(const QString& path) {
    Ledger ledger;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return ledger;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    ledger.extensions = root.value("extensions").toObject();
    ledger.types = root.value("types").toObject();
    return ledger;
  }
  QByteArray Text() const {
    QJsonObject root;
    root["extensions"] = extensions;
    root["types"] = types;
    return QJsonDocument(root).toJson();
  }
  bool Empty() const { return extensions.isEmpty() && types.isEmpty(); }
};

QJsonObject ToJson(const DesktopPlan& plan) {
  QJsonObject o;
  o["type"] = Q(plan.mimeType);
  o["systemType"] = Q(plan.systemType);
  o["ownGlob"] = plan.ownGlob;
  o["comment"] = Q(plan.comment);
  o["subClassOf"] = Q(plan.subClassOf);
  o["appId"] = Q(plan.appId);
  o["ownEntry"] = plan.ownEntry;
  o["progId"] = Q(plan.progId);
  o["entryName"] = Q(plan.entryName);
  o["entryIcon"] = Q(plan.entryIcon);
  o["entryExec"] = Q(plan.entryExec);
  return o;
}

QByteArray PackageText(const Ledger& ledger) {
  struct Type {
    QString comment;
    QString subClassOf;
    QStringList globs;
  };
  std::map<QString, Type> types;
  for (auto it = ledger.extensions.begin(); it != ledger.extensions.end(); ++it) {
    const QJsonObject e = it.value().toObject();
    if (!e["ownGlob"].toBool()) continue;
    Type& type = types[e["type"].toString()];
    if (type.comment.isEmpty()) type.comment = e["comment"].toString();
    if (type.subClassOf.isEmpty()) type.subClassOf = e["subClassOf"].toString();
    type.globs.push_back(it.key());
  }
  if (types.empty()) return {};
  QByteArray text;
  QXmlStreamWriter xml(&text);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeComment(" Written by Kestrova from its store; Kestrova rewrites this file. ");
  xml.writeStartElement("mime-info");
  xml.writeDefaultNamespace("http://www.freedesktop.org/standards/shared-mime-info");
  for (const auto& [name, type] : types) {
    xml.writeStartElement("mime-type");
    xml.writeAttribute("type", name);
    if (!type.comment.isEmpty()) xml.writeTextElement("comment", type.comment);
    if (!type.subClassOf.isEmpty()) {
      xml.writeEmptyElement("sub-class-of");
      xml.writeAttribute("type", type.subClassOf);
    }
    for (const QString& ext : type.globs) {
      xml.writeEmptyElement("glob");
      xml.writeAttribute("pattern", "*." + ext);
      // Above the default weight, so that ours comes first where the desktop has its own.
      xml.writeAttribute("weight", "80");
    }
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeEndDocument();
  return text;
}

QByteArray EntryText(const Ledger& ledger, const QString& id) {
  QStringList types;
  QJsonObject first;
  for (auto it = ledger.extensions.begin(); it != ledger.extensions.end(); ++it) {
    const QJsonObject e = it.value().toObject();
    if (!e["ownEntry"].toBool() || e["appId"].toString() != id) continue;
    if (first.isEmpty()) first = e;
    if (!types.contains(e["type"].toString())) types.push_back(e["type"].toString());
  }
  if (first.isEmpty()) return {};
  std::string text = "[Desktop Entry]\nType=Application\n";
  text += "Name=" + DesktopStringValue(S(first["entryName"].toString())) + "\n";
  if (!first["entryIcon"].toString().isEmpty()) {
    text += "Icon=" + DesktopStringValue(S(first["entryIcon"].toString())) + "\n";
  }
  text += "Exec=" + DesktopStringValue(S(first["entryExec"].toString())) + "\n";
  text += "MimeType=" + S(types.join(';')) + ";\n";
  text += "NoDisplay=true\n";
  return B(text);
}

// The file edits of one run, each preceded by its backup.
class Writer {
 public:
  Writer(const BackupNamer& namer, ApplyOutcome& outcome) : m_namer(namer), m_outcome(outcome) {}

  // Writes `text` to `path`, or deletes the file when `text` is empty; nothing when it
  // already holds exactly that. True when the file now holds what was asked.
  bool Put(const QString& path, const QByteArray& text, bool* changed = nullptr) {
    QByteArray old;
    QString reason;
    const bool exists = QFileInfo::exists(path);
    if (!ReadWholeFile(path, old, reason)) return Fail(path, reason);
    if (exists ? (!text.isEmpty() && old == text) : text.isEmpty()) return true;
    if (exists && !Backup(path, old)) return false;
    if (text.isEmpty()) {
      QFile file(path);
      if (!file.remove()) return Fail(path, file.errorString());
    } else if (!WriteFileAtomically(path, text, reason)) {
      return Fail(path, reason);
    }
    if (changed) *changed = true;
    return true;
  }

 private:
  bool Backup(const QString& path, const QByteArray& old) {
    const QFileInfo info(path);
    const QString copy = m_namer(info.completeBaseName(), info.suffix());
    // Two changes in one second: the first copy holds the older state and stays.
    if (QFileInfo(copy).isFile()) return true;
    QString reason;
    if (!QDir().mkpath(QFileInfo(copy).absolutePath())) {
      reason = "its folder cannot be made";
    } else {
      QSaveFile file(copy);
      if (!file.open(QIODevice::WriteOnly) || file.write(old) != old.size() || !file.commit()) {
        reason = file.errorString();
      }
    }
    if (reason.isEmpty()) return true;
    m_outcome.problems.push_back("The backup \"" + copy + "\" could not be written: " + reason +
                                 ". \"" + path + "\" was not changed.");
    return false;
  }
  bool Fail(const QString& path, const QString& reason) {
    m_outcome.problems.push_back("\"" + path + "\" could not be written: " + reason + ".");
    return false;
  }

  const BackupNamer& m_namer;
  ApplyOutcome& m_outcome;
};

// The default for `type` that the ledger's extensions ask for; the plans of this run first.
QString WantedDefault(const Ledger& ledger, const QString& type,
                      const std::vector<DesktopPlan>& plans) {
  for (auto it = plans.rbegin(); it != plans.rend(); ++it) {
    if (!it->remove && Q(it->mimeType) == type && !it->appId.empty()) return Q(it->appId);
  }
  for (auto it = ledger.extensions.begin(); it != ledger.extensions.end(); ++it) {
    const QJsonObject e = it.value().toObject();
    if (e["type"].toString() == type && !e["appId"].toString().isEmpty()) {
      return e["appId"].toString();
    }
  }
  return {};
}

QByteArrayList SplitList(const QByteArray& value) {
  QByteArrayList items = value.split(';');
  items.removeAll(QByteArray());
  return items;
}

// Sets or takes back the lines for each type in mimeapps.list; true when any line changed.
void EditMimeApps(MimeAppsList& list, Ledger& ledger, const std::set<QString>& types,
                  const std::vector<DesktopPlan>& plans) {
  for (const QString& type : types) {
    const QByteArray key = type.toUtf8();
    const QString wanted = WantedDefault(ledger, type, plans);
    QJsonObject record = ledger.types.value(type).toObject();
    if (!wanted.isEmpty()) {
      if (!ledger.types.contains(type)) {
        const auto def = list.Get(kDefaultApplications, key);
        const auto added = list.Get(kAddedAssociations, key);
        record["previousDefault"] = def ? QJsonValue(QString::fromUtf8(*def)) : QJsonValue();
        record["previousAdded"] = added ? QJsonValue(QString::fromUtf8(*added)) : QJsonValue();
      }
      record["default"] = wanted;
      ledger.types[type] = record;
      list.Set(kDefaultApplications, key, wanted.toUtf8());
      // As GIO does: the default is also an added association, appended when missing.
      QByteArrayList added = SplitList(list.Get(kAddedAssociations, key).value_or(QByteArray()));
      if (!added.contains(wanted.toUtf8())) {
        added.push_back(wanted.toUtf8());
        list.Set(kAddedAssociations, key, added.join(';') + ';');
      }
      continue;
    }
    if (!ledger.types.contains(type)) continue;
    const QByteArray ours = record["default"].toString().toUtf8();
    // A default the user changed since is theirs, and stays.
    if (list.Get(kDefaultApplications, key) == ours) {
      const QJsonValue previous = record["previousDefault"];
      if (previous.isString()) {
        list.Set(kDefaultApplications, key, previous.toString().toUtf8());
      } else {
        list.Remove(kDefaultApplications, key);
      }
    }
    if (const auto current = list.Get(kAddedAssociations, key)) {
      const QJsonValue previous = record["previousAdded"];
      QByteArrayList added = SplitList(*current);
      const bool hadOurs = added.removeAll(ours) > 0;
      if (previous.isString() && SplitList(previous.toString().toUtf8()) == added) {
        list.Set(kAddedAssociations, key, previous.toString().toUtf8());
      } else if (hadOurs && added.isEmpty() && !previous.isString()) {
        list.Remove(kAddedAssociations, key);
      } else if (hadOurs) {
        list.Set(kAddedAssociations, key, added.join(';') + ';');
      }
    }
    ledger.types.remove(type);
  }
}

}  // namespace

QString DesktopFolders::MimePackage() const {
  return dataHome + "/mime/packages/kestrova-associations.xml";
}
QString DesktopFolders::Applications() const { return dataHome + "/applications"; }
QString DesktopFolders::MimeAppsList() const { return configHome + "/mimeapps.list"; }
QString DesktopFolders::Ledger() const { return dataHome + "/kestrova/desktop-ledger.json"; }

DesktopFolders UserDesktopFolders() { return {Q(UserDataHome()), Q(UserConfigHome())}; }

DesktopApplier::DesktopApplier(DesktopFolders folders, BackupNamer namer)
    : m_folders(std::move(folders)), m_namer(std::move(namer)) {}

SystemView DesktopApplier::View() const {
  const auto ledger = std::make_shared<Ledger>(Ledger::Load(m_folders.Ledger()));
  SystemView view;
  view.typeForExtension = [ledger](const std::string& ext) {
    // Once our package names the extension, the desktop's answer is the one kept before.
    const QJsonValue kept = ledger->extensions.value(Q(ext));
    if (kept.isObject()) return S(kept.toObject()["systemType"].toString());
    return S(QMimeDatabase().mimeTypeForFile("x." + Q(ext), QMimeDatabase::MatchExtension).name());
  };
  view.knowsType = [ledger](const std::string& type) {
    for (auto it = ledger->extensions.begin(); it != ledger->extensions.end(); ++it) {
      const QJsonObject o = it.value().toObject();
      if (o["type"].toString() == Q(type) && !o["comment"].toString().isEmpty()) return false;
    }
    return QMimeDatabase().mimeTypeForName(Q(type)).isValid();
  };
  view.applicationFor = [](const std::string& exec) {
    std::string found;
    GList* apps = g_app_info_get_all();
    for (GList* item = apps; item && found.empty(); item = item->next) {
      auto* app = static_cast<GAppInfo*>(item->data);
      const char* id = g_app_info_get_id(app);
      const char* line = g_app_info_get_commandline(app);
      if (!id || !line || std::string_view(id).starts_with(kOwnPrefix)) continue;
      if (exec == line) found = id;
    }
    g_list_free_full(apps, g_object_unref);
    return found;
  };
  return view;
}

std::vector<std::string> DesktopApplier::ExtensionsOf(const std::string& progId) const {
  const Ledger ledger = Ledger::Load(m_folders.Ledger());
  std::vector<std::string> exts;
  for (auto it = ledger.extensions.begin(); it != ledger.extensions.end(); ++it) {
    if (it.value().toObject()["progId"].toString().compare(Q(progId), Qt::CaseInsensitive) == 0) {
      exts.push_back(S(it.key()));
    }
  }
  return exts;
}

bool DesktopApplier::HasChanges() const {
  return !Ledger::Load(m_folders.Ledger()).Empty() || QFileInfo::exists(m_folders.MimePackage());
}

ApplyOutcome DesktopApplier::Apply(const std::vector<DesktopPlan>& plans) {
  ApplyOutcome outcome;
  Ledger ledger = Ledger::Load(m_folders.Ledger());
  std::set<QString> types;
  std::set<QString> entries;
  for (const DesktopPlan& plan : plans) {
    const QString ext = Q(plan.ext);
    const QJsonObject before = ledger.extensions.value(ext).toObject();
    if (!before.isEmpty()) {
      types.insert(before["type"].toString());
      if (before["ownEntry"].toBool()) entries.insert(before["appId"].toString());
    }
    if (!plan.skipped.empty()) {
      outcome.skipped.push_back("The desktop was not given the command for ." + ext + ": " +
                                Q(plan.skipped) + ".");
    }
    if (plan.remove || (!plan.ownGlob && plan.appId.empty())) {
      ledger.extensions.remove(ext);
      continue;
    }
    ledger.extensions[ext] = ToJson(plan);
    types.insert(Q(plan.mimeType));
    if (plan.ownEntry) entries.insert(Q(plan.appId));
  }
  // A type whose extensions are all gone from the ledger is taken back too.
  for (auto it = ledger.types.begin(); it != ledger.types.end(); ++it) {
    bool used = false;
    for (auto e = ledger.extensions.begin(); e != ledger.extensions.end() && !used; ++e) {
      used = e.value().toObject()["type"].toString() == it.key();
    }
    if (!used) types.insert(it.key());
  }
  types.erase(QString());

  Writer writer(m_namer, outcome);
  writer.Put(m_folders.MimePackage(), PackageText(ledger), &outcome.rebuildMime);
  for (const QString& id : entries) {
    if (!id.startsWith(kOwnPrefix)) continue;
    writer.Put(m_folders.Applications() + '/' + id, EntryText(ledger, id),
               &outcome.rebuildApplications);
  }
  QByteArray text;
  QString reason;
  if (ReadWholeFile(m_folders.MimeAppsList(), text, reason)) {
    MimeAppsList list(text);
    EditMimeApps(list, ledger, types, plans);
    if (list.Text() != text) writer.Put(m_folders.MimeAppsList(), list.Text());
  } else {
    outcome.problems.push_back("\"" + m_folders.MimeAppsList() + "\" could not be read: " + reason +
                               ".");
  }
  if (ledger.Empty()) {
    QFile::remove(m_folders.Ledger());
  } else if (!WriteFileAtomically(m_folders.Ledger(), ledger.Text(), reason)) {
    outcome.problems.push_back("\"" + m_folders.Ledger() + "\" could not be written: " + reason +
                               ".");
  }
  return outcome;
}

ApplyOutcome DesktopApplier::RemoveAll() {
  const Ledger ledger = Ledger::Load(m_folders.Ledger());
  std::vector<DesktopPlan> plans;
  for (auto it = ledger.extensions.begin(); it != ledger.extensions.end(); ++it) {
    DesktopPlan plan;
    plan.ext = S(it.key());
    plan.remove = true;
    plans.push_back(plan);
  }
  ApplyOutcome outcome = Apply(plans);
  // A package left by an earlier ledger goes too.
  Writer(m_namer, outcome).Put(m_folders.MimePackage(), {}, &outcome.rebuildMime);
  return outcome;
}

QString RebuildDesktopDatabases(const DesktopFolders& folders, bool mime, bool applications) {
  QStringList failed;
  const auto run = [&failed](const QString& program, const QString& dir) {
    if (!QDir().mkpath(dir)) {
      failed.push_back(program + " (" + dir + " cannot be made)");
      return;
    }
    QProcess process;
    process.start(program, {dir});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
      failed.push_back(program + " " + dir);
    }
  };
  if (mime) run("update-mime-database", folders.dataHome + "/mime");
  if (applications) run("update-desktop-database", folders.Applications());
  return failed.join(", ");
}

}  // namespace kestrova
