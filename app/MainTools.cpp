// TForm1's icon, tools and help commands.

#include <QCoreApplication>
#include <QPixmap>

#include "app/Main.h"
#include "platform/IconPicker.h"
#include "platform/Notifier.h"
#include "shell/ProcessLauncher.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"

namespace kestrova {
namespace {

// The help file, looked for beside the executable, and its latest version on the web.
constexpr char kHelpFileName[] = "zor20.chm";
constexpr char kOnlineHelpAddress[] = "https://quorbel.example/docs/zor20.chm";

// The window's one icon picker, made at its first use and living as long as the window.
PickIconDialog& IconDlg(TForm1& form) {
  if (auto* dialog = form.findChild<PickIconDialog*>("IconDlg", Qt::FindDirectChildrenOnly)) {
    return *dialog;
  }
  return *new PickIconDialog(&form);
}

}  // namespace

void TForm1::Image1Click() {
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

  State.CurrentIconFile = dialog.FileName;
  State.CurrentIconIndex = dialog.IconIndex;
  const QImage& icon = dialog.IconOf();
  Image1->setPixmap(icon.isNull() ? QPixmap() : QPixmap::fromImage(icon));
  // The lookup keeps what it read at the load; without this, loading the same extension
  // again would show the old icon while the store holds the new one.
  Lookup.SetExtension("");
}

void TForm1::WebHelpBExecute() {
  std::string prefix;
  {
    AssocStore store;
    store.SetRoot(RootKey::CurrentUser);
    store.OpenPath(layout::SettingsKey, true);
    prefix = store.GetText(layout::HelpUrlName);
  }
  // The store is released before the start: a start may wait for the program it started,
  // and a store held across that wait keeps its read snapshot open.
  Starter->SetText(ProcessLauncher::kCommand, QString::fromStdString(prefix) + Ext->text());
  Starter->Start();
}

void TForm1::RegEditBExecute() {
  Starter->SetText(ProcessLauncher::kCommand, "Regedit.exe");
  Starter->Start();
}

void TForm1::Help2Click() {
  Starter->SetText(ProcessLauncher::kCommand,
                   QCoreApplication::applicationDirPath() + '/' + kHelpFileName);
  Starter->Start();
}

void TForm1::HelpontheWeb1Click() {
  Starter->SetText(ProcessLauncher::kCommand, kOnlineHelpAddress);
  Starter->Start();
}

}  // namespace kestrova
