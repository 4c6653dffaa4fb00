// TForm1's icon, tools and help commands.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QUrl>

#include "app/Backups.h"
#include "app/Main.h"
#include "app/StoreChoice.h"
#include "dialogs/CheckAssociations.h"
#include "dialogs/Settings.h"
#include "dialogs/WineAssociations.h"
#include "platform/Boxes.h"
#include "platform/CheckProbesDesktop.h"
#include "platform/Clock.h"
#include "platform/DesktopApply.h"
#include "platform/DesktopDatabases.h"
#include "platform/DesktopRebuild.h"
#include "platform/IconPicker.h"
#include "platform/IconSourceFactory.h"
#include "platform/Notifier.h"
#include "regfile/RegKeyBackup.h"
#include "shell/ProcessLauncher.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "store/DesktopImport.h"
#include "store/DesktopPlan.h"

namespace kestrova {
namespace {

// The compiled help file, looked for beside the executable, and the same help as HTML
// pages, in the installed layout relative to the executable's folder.
constexpr char kHelpFileName[] = "zor20.chm";
constexpr char kHtmlHelpIndex[] = "../share/doc/kestrova/html/index.html";

// A web address the desktop opens in a browser: an "http:" or "https:" address with a host.
// Anything else handed to the launcher could start a program or open a local file.
bool IsWebAddress(const QString& text) {
  if (!text.startsWith("http://", Qt::CaseInsensitive) &&
      !text.startsWith("https://", Qt::CaseInsensitive)) {
    return false;
  }
  const QUrl url(text, QUrl::StrictMode);
  return url.isValid() && !url.host().isEmpty();
}

// The desktop's answer to whether an application opens compiled help files.
bool DesktopHasChmViewer() {
  QProcess query;
  query.start("xdg-mime", {"query", "default", "application/vnd.ms-htmlhelp"});
  if (!query.waitForFinished(5000)) {
    query.kill();
    query.waitForFinished(1000);
    return false;
  }
  return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
         !query.readAllStandardOutput().trimmed().isEmpty();
}

// The window's one icon picker, made at its first use and living as long as the window.
PickIconDialog& IconDlg(TForm1& form) {
  if (auto* dialog = form.findChild<PickIconDialog*>("IconDlg", Qt::FindDirectChildrenOnly)) {
    return *dialog;
  }
  return *new PickIconDialog(&form);
}

// The desktop files' backups sit beside the .reg backups and are named the same way,
// with the file's own suffix: "mimeapps-20261209-011500.list".
QString DesktopBackupFile(const QString& name, const QString& suffix) {
  return DesktopBackupFileName(BackupDir(QCoreApplication::applicationDirPath()), name, suffix,
                               TheClock().Now());
}

DesktopApplier MakeDesktopApplier() {
  return DesktopApplier(UserDesktopFolders(), DesktopBackupFile);
}

}  // namespace

void TForm1::AssociationsChanged(const QStringList& extensions, const QString& fileType) {
  // The desktop follows Kestrova's own store only: a Wine prefix's associations are Wine's.
  if (!OpenedPrefix().empty() || !TForm2::DesktopApplyOn()) return;
  DesktopApplier applier = MakeDesktopApplier();
  QStringList exts;
  for (const QString& ext : extensions) {
    if (!ext.isEmpty() && !exts.contains(ext)) exts.push_back(ext);
  }
  if (!fileType.isEmpty()) {
    for (const std::string& ext : applier.ExtensionsOf(fileType.toStdString())) {
      if (!exts.contains(QString::fromStdString(ext))) exts.push_back(QString::fromStdString(ext));
    }
  }
  if (exts.isEmpty()) return;
  const SystemView view = applier.View();
  std::vector<DesktopPlan> plans;
  {
    AssocStore store(AssocStore::Access::ReadOnly);
    for (const QString& ext : exts) {
      plans.push_back(PlanExtension(ReadExtensionData(store, ext.toStdString()), view));
    }
  }
  const ApplyOutcome outcome = applier.Apply(plans);
  if (!outcome.skipped.isEmpty()) SetStatus(StatusText() + ' ' + outcome.skipped.join(' '));
  if (!outcome.problems.isEmpty()) {
    TheBoxes().Message(this, "Kestrova", outcome.problems.join("\n\n"), Boxes::Icon::Error);
  }
  RebuildDesktop(outcome.rebuildMime, outcome.rebuildApplications);
}

void TForm1::RemoveDesktopChanges1Click() {
  DesktopApplier applier = MakeDesktopApplier();
  if (!applier.HasChanges()) {
    SetStatus("Kestrova has no changes on the desktop.");
    return;
  }
  if (!TheBoxes().Confirm(this, "Confirm",
                          "Remove the file types, entries and defaults Kestrova gave the "
                          "desktop, and bring back the defaults that were there before?")) {
    return;
  }
  const ApplyOutcome outcome = applier.RemoveAll();
  if (!outcome.problems.isEmpty()) {
    TheBoxes().Message(this, "Kestrova", outcome.problems.join("\n\n"), Boxes::Icon::Error);
  } else {
    SetStatus("Desktop changes removed.");
  }
  RebuildDesktop(outcome.rebuildMime, outcome.rebuildApplications);
}

int TForm1::DesktopRebuildsRunning() const { return DesktopRebuilder::Instance().Running(); }

void TForm1::RebuildDesktop(bool mime, bool applications) {
  if (!mime && !applications) return;
  DesktopRebuilder& rebuilder = DesktopRebuilder::Instance();
  rebuilder.SetFailureListener(this, [this](const QString& failed) {
    SetStatus("The desktop's databases were not rebuilt: " + failed + ".");
  });
  rebuilder.Request(UserDesktopFolders(), mime, applications);
}

void TForm1::Image1Click() {
  if (!PrefixWritable()) return;
  if (!ShowsFileType("changing the icon")) return;
  PickIconDialog& dialog = IconDlg(*this);
  dialog.FileName = State.CurrentIconFile;
  dialog.IconIndex = State.CurrentIconIndex;
  if (!dialog.Execute()) return;

  // The window takes the new icon only once the store holds it. With no file type loaded
  // the path names no key: the open fails and the write raises the store's error.
  try {
    AssocStore store;
    store.SetRoot(RootKey::ClassesRoot);
    store.OpenPath(layout::DefaultIconKey(ExtDesc->text().toStdString()), true);
    store.PutText(layout::DefaultValueName,
                  dialog.FileName + "," + std::to_string(dialog.IconIndex));
  } catch (...) {
    TheNotifier().AssocChanged();
    throw;
  }
  TheNotifier().AssocChanged();
  AssociationsChanged({Ext->text()}, ExtDesc->text());

  State.CurrentIconFile = dialog.FileName;
  State.CurrentIconIndex = dialog.IconIndex;
  const QImage& icon = dialog.IconOf();
  Image1->setPixmap(icon.isNull() ? QPixmap() : QPixmap::fromImage(icon));
  // The lookup keeps what it read at the load; without this, loading the same extension
  // again would show the old icon while the store holds the new one.
  Lookup.SetExtension("");
}

void TForm1::WebHelpBExecute() {
  // Read before the start: a start may wait for the program it started, and a store held
  // across that wait keeps its read snapshot open.
  const QString prefix =
      QString::fromStdString(TForm2::StoredSetting(layout::HelpUrlName)).trimmed();
  if (!IsWebAddress(prefix)) {
    Message(
        "No web address is set for the extension reference. Enter one that begins with "
        "http:// or https:// as \"URL for online extension help\" in Tools > Settings, "
        "for example https://fileinfo.com/extension/.");
    return;
  }
  const QString ext = Ext->text();
  Starter->SetText(ProcessLauncher::kCommand,
                   prefix + QString::fromLatin1(QUrl::toPercentEncoding(ext)));
  Starter->Start();
}

void TForm1::RegEditBExecute() {
  Starter->SetText(ProcessLauncher::kCommand, "Regedit.exe");
  Starter->SetText(1, StoreArguments().trimmed());
  Starter->Start();
  Starter->SetText(1, QString());
}

void TForm1::Help2Click() {
  const QString dir = QCoreApplication::applicationDirPath() + '/';
  const QString chm = dir + kHelpFileName;
  // A desktop without a viewer for compiled help gets the same help as web pages.
  const bool useChm =
      QFileInfo(chm).isFile() && (HasChmViewer ? HasChmViewer() : DesktopHasChmViewer());
  Starter->SetText(ProcessLauncher::kCommand,
                   useChm ? chm : QFileInfo(dir + kHtmlHelpIndex).absoluteFilePath());
  Starter->Start();
}

void TForm1::HelpontheWeb1Click() {
  const QString address =
      QString::fromStdString(TForm2::StoredSetting(layout::OnlineHelpUrlName)).trimmed();
  if (!IsWebAddress(address)) {
    Message(
        "No web address is set for the online help. Enter one that begins with http:// "
        "or https:// as \"Address of the online help\" in Tools > Settings. The help "
        "that came with Kestrova opens from Help > Kestrova Help.");
    return;
  }
  Starter->SetText(ProcessLauncher::kCommand, address);
  Starter->Start();
}

void TForm1::ImportFromDesktop1Click() {
  if (!OpenedPrefix().empty()) {
    // Disabled on a prefix; a shortcut or a test may still call it.
    Message(ImportFromDesktop1->toolTip());
    return;
  }
  // A refresh may touch any extension or file type: all of the classes go into one backup.
  if (!Backup("desktop-import", layout::RootPath, layout::ClassesRootBackupKey)) return;
  DesktopImportReport report;
  try {
    const DesktopSnapshot desktop = ReadDesktopDatabases();
    report = ImportDesktop(*AcquireEngine(), desktop);
  } catch (const StoreError& e) {
    TheBoxes().Message(this, "Kestrova",
                       "The file types could not be imported from the desktop: " +
                           QString::fromUtf8(e.what()) + "\n\nNothing was changed.",
                       Boxes::Icon::Error);
    return;
  }
  TheNotifier().AssocChanged();
  FormCreate();  // the content types may have changed
  ReloadExtension();
  QString status = QString(
                       "Imported from the desktop: %1 keys written, %2 unchanged, %3 left as "
                       "you changed them, %4 removed")
                       .arg(report.written)
                       .arg(report.unchanged)
                       .arg(report.kept)
                       .arg(report.removed);
  if (!report.skipped.empty())
    status += QString("; %1 applications left out").arg(report.skipped.size());
  SetStatus(status + ".");
}

void TForm1::CheckAssociations1Click() {
  if (!OpenedPrefix().empty()) return;  // disabled on a prefix (see ShowStore)
  CheckAssociationsDialog::Services services;
  services.programs = [] { return std::make_unique<DesktopProgramResolver>(); };
  services.files = [icons = AcquireIconSource()] {
    return std::make_unique<DesktopCheckFiles>(icons);
  };
  // The program's backups, named and placed as every other change's, written by the same
  // exporter the registry editor uses.
  services.backup = [](RegistryEngine& engine) {
    return std::make_unique<RegKeyBackup>(engine, [](const std::string& name) {
      const QString dir = BackupDir(QCoreApplication::applicationDirPath());
      return QFile::encodeName(BackupFileName(dir, QString::fromStdString(name), TheClock().Now()))
          .toStdString();
    });
  };
  services.desktop = [] { return std::make_unique<DesktopCheckView>(UserDesktopFolders()); };
  services.desktopMends = [] {
    return std::make_unique<DesktopCheckMends>(UserDesktopFolders(), DesktopBackupFile);
  };
  services.rebuild = [this](bool mime, bool applications) { RebuildDesktop(mime, applications); };
  services.mended = [this](const std::vector<Finding>& mended) {
    TheNotifier().AssocChanged();
    // The desktop follows the store's mends as it follows every other change of the store.
    QStringList extensions;
    QStringList fileTypes;
    for (const Finding& f : mended) {
      if (IsDesktopKind(f.kind)) continue;
      if (!f.extension.empty()) extensions << QString::fromStdString(f.extension);
      if (!f.progId.empty() && !fileTypes.contains(QString::fromStdString(f.progId))) {
        fileTypes << QString::fromStdString(f.progId);
      }
    }
    if (!extensions.isEmpty()) AssociationsChanged(extensions, QString());
    for (const QString& fileType : fileTypes) AssociationsChanged({}, fileType);
    bool shown = false;
    for (const Finding& f : mended) {
      const auto same = [](const std::string& a, const QString& b) {
        return !a.empty() && QString::fromStdString(a).compare(b, Qt::CaseInsensitive) == 0;
      };
      shown = shown || same(f.extension, Ext->text()) || same(f.progId, ExtDesc->text());
    }
    if (!shown) return;
    Lookup.SetExtension("");
    ReloadExtension();
  };
  CheckAssociationsDialog dialog(this, std::move(services));
  dialog.CheckAgain();
  dialog.exec();
}

void TForm1::WineAssociations1Click() {
  WineAssociationsDialog::Services services;
  services.folders = UserDesktopFolders();
  services.namer = DesktopBackupFile;
  services.rebuild = [this](bool mime, bool applications) { RebuildDesktop(mime, applications); };
  WineAssociationsDialog dialog(this, std::move(services));
  dialog.exec();
}

}  // namespace kestrova
