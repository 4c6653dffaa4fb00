// TForm1's store commands: a Wine prefix as the store, and back to Kestrova's own store.

#include <QDir>
#include <QFileInfo>

#include "app/Main.h"
#include "app/StoreChoice.h"
#include "dialogs/Settings.h"
#include "platform/Boxes.h"
#include "platform/WinePrefixStore.h"
#include "store/RegistryEngine.h"

namespace kestrova {
namespace {

constexpr char kReadOnlyStatus[] =
    "The store is read-only: everything can be looked at, nothing can be changed.";
constexpr char kNoDesktopOnPrefix[] =
    "Not on a Wine prefix: the desktop's file types go into Kestrova's own store only. Open "
    "Kestrova's own store (Tools menu) to import them.";

// Where the folder box starts: the prefix open now, else $WINEPREFIX, else ~/.wine, else the
// home folder.
QString FirstPrefixFolder() {
  if (!OpenedPrefix().empty()) return QString::fromStdString(OpenedPrefix());
  const QString env = qEnvironmentVariable("WINEPREFIX");
  if (!env.isEmpty() && QFileInfo(env).isDir()) return env;
  const QString wine = QDir::homePath() + "/.wine";
  return QFileInfo(wine).isDir() ? wine : QDir::homePath();
}

// The engine's reason as a sentence of its own.
QString Sentence(const std::string& text) {
  QString out = QString::fromStdString(text).trimmed();
  if (out.isEmpty()) return out;
  out[0] = out[0].toUpper();
  if (!out.endsWith('.')) out += '.';
  return out;
}

}  // namespace

void TForm1::ShowStore() {
  const bool onPrefix = !OpenedPrefix().empty();
  setWindowTitle(StoreTitle("Kestrova"));
  OpenDefaultStore1->setEnabled(onPrefix);
  ImportFromDesktop1->setEnabled(!onPrefix);
  // The check finds programs as Linux starts them: on a prefix every Windows program would
  // be missing, and its mend would remove the actions.
  CheckAssociations1->setEnabled(!onPrefix);
  ImportFromDesktop1->setToolTip(onPrefix ? kNoDesktopOnPrefix
                                          : "Refresh the file types from the desktop, keeping "
                                            "your changes");
  if (m_dialogs.settingsDialog) {
    // Changes on a prefix never reach the desktop, whatever the setting says.
    m_dialogs.settingsDialog->DesktopApplyChkBox->setEnabled(!onPrefix);
  }
  const auto engine = AcquireEngine();
  if (!onPrefix) {
    if (!engine->Writable()) SetStatus(kReadOnlyStatus);
    return;
  }
  if (engine->Writable()) {
    // A status about the prefix that no longer holds goes; any other stays.
    if (StatusText().startsWith("Wine is running")) SetStatus(QString());
    StatusBar1->setToolTip(QString());
    return;
  }
  SetStatus(
      "Wine is running in this prefix: what you see may be stale, and nothing can be "
      "changed.");
  StatusBar1->setToolTip(Sentence(engine->ReadOnlyReason()));
}

bool TForm1::PrefixWritable() {
  if (OpenedPrefix().empty()) return true;
  const auto engine = AcquireEngine();
  if (engine->Writable()) return true;
  TheBoxes().Message(this, "Kestrova",
                     Sentence(engine->ReadOnlyReason()) + "\n\nNothing was changed.",
                     Boxes::Icon::Warning);
  ShowStore();
  return false;
}

QString TForm1::StoreArguments() const {
  if (OpenedPrefix().empty()) return {};
  // The registry editor reads its command line the Windows way: a quote in the folder's
  // name is escaped, and so are the backslashes before a quote.
  QString quoted = "\"";
  int backslashes = 0;
  for (const QChar c : QString::fromStdString(OpenedPrefix())) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted += QString(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted += QString(backslashes * 2, '\\');
  return " --prefix " + quoted + '"';
}

void TForm1::OpenWinePrefix1Click() {
  const QString dir = TheBoxes().ChooseFolder(this, "Open Wine Prefix", FirstPrefixFolder());
  if (dir.isEmpty()) return;
  const std::string why = OpenPrefixStore(QFile::encodeName(dir).toStdString());
  if (!why.empty()) {
    TheBoxes().Message(this, "Kestrova", QString::fromStdString(why), Boxes::Icon::Error);
    return;
  }
  SetStatus(QString());
  Lookup.SetExtension("");
  FormCreate();
  ReloadExtension();
}

void TForm1::OpenDefaultStore1Click() {
  if (OpenedPrefix().empty()) return;
  try {
    OpenDefaultStoreAgain();
  } catch (const std::exception& e) {
    TheBoxes().Message(this, "Kestrova", QString::fromUtf8(e.what()), Boxes::Icon::Error);
    return;
  }
  SetStatus(QString());
  Lookup.SetExtension("");
  FormCreate();
  ReloadExtension();
}

}  // namespace kestrova
