#include "app/DefaultStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <filesystem>
#include <functional>

#include "platform/DesktopDatabases.h"
#include "platform/SqliteStore.h"
#include "regfile/RegImporter.h"
#include "store/DesktopImport.h"
#include "store/RegistryEngine.h"

namespace kestrova {

QString DataDir() {
  if (const QString env = qEnvironmentVariable("KESTROVA_DATA_DIR"); !env.isEmpty()) return env;
  const QString installed = QCoreApplication::applicationDirPath() + "/../share/kestrova";
  if (QDir(installed).exists()) return QDir(installed).canonicalPath();
  return QStringLiteral(KESTROVA_SOURCE_DATA_DIR);
}

namespace {

// A database's journal files belong to it alone: ones left without it would be applied
// to the next database made under that name.
void RemoveWithJournals(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    std::filesystem::remove(path + suffix, ec);
}

// Builds the store beside path with `fill` (which returns why it failed, or nothing) and
// moves it into place only when whole. `what` names the store's source in the message.
void BuildStore(const std::string& path, const QString& what,
                const std::function<QString(RegistryEngine&)>& fill) {
  const std::string partial = path + ".new";
  RemoveWithJournals(partial);
  const auto fail = [&](const QString& reason) {
    RemoveWithJournals(partial);
    throw SeedError(("The new store \"" + QString::fromStdString(path) +
                     "\" could not be filled with " + what + ": " + reason +
                     ". No store was made; Kestrova tries again at its next start.")
                        .toStdString());
  };

  QString failure;
  try {
    auto engine = OpenSqliteStore(partial);
    failure = fill(*engine);
  } catch (const StoreError& e) {
    fail(QString::fromUtf8(e.what()));
  }  // closing the last connection folds the journal into the file
  if (!failure.isEmpty()) fail(failure);
  // Should the journal not have been folded in (a full disk), it moves with its database;
  // it goes first, so that a crash between the two leaves no store rather than half a one.
  std::error_code ec;
  std::filesystem::remove(path + "-shm", ec);
  std::filesystem::remove(partial + "-shm", ec);
  if (std::filesystem::exists(partial + "-wal", ec)) {
    std::filesystem::rename(partial + "-wal", path + "-wal", ec);
  } else {
    std::filesystem::remove(path + "-wal", ec);
  }
  if (!ec) std::filesystem::rename(partial, path, ec);
  if (ec) fail("it could not be moved into place (" + QString::fromStdString(ec.message()) + ")");
}

// The default classes as bytes, with the icons' folder filled in; or why they cannot be read.
QString ReadSeed(const QString& seedFile, QByteArray& bytes) {
  QFile seed(seedFile);
  if (!seed.open(QIODevice::ReadOnly)) return "they cannot be read (" + seed.errorString() + ")";
  bytes = seed.readAll();
  if (seed.error() != QFileDevice::NoError)
    return "they cannot be read (" + seed.errorString() + ")";
  // The default classes name the icon files shipped with the program by their folder.
  bytes.replace("@DATADIR@", DataDir().toUtf8());
  return {};
}

// Imports our own .reg bytes; a line the importer would skip means they are damaged.
QString ImportSeed(RegistryEngine& engine, const QByteArray& bytes) {
  RegImportOptions options;
  options.strict = true;
  const RegImportReport report = RegImporter(engine, options).Import(bytes, "default-classes.reg");
  if (!report.Failed()) return {};
  QString text = QString::fromStdString(report.Text()).trimmed();
  if (text.isEmpty()) text = "the import failed";
  while (text.endsWith('.')) text.chop(1);
  return text;
}

}  // namespace

void CreateSeededStore(const std::string& path, const QString& seedFile) {
  QByteArray bytes;
  const QString unreadable = ReadSeed(seedFile, bytes);
  BuildStore(path, "the default classes", [&](RegistryEngine& engine) {
    return unreadable.isEmpty() ? ImportSeed(engine, bytes) : unreadable;
  });
}

void CreateDesktopStore(const std::string& path, const DesktopSnapshot& desktop) {
  QByteArray bytes;
  const QString unreadable = ReadSeed(kDefaultClassesFile, bytes);
  // Of the default classes only the program's own settings (under HKEY_CURRENT_USER, at
  // the end of the file) go into a store made from the desktop.
  const qsizetype settings = bytes.indexOf("\n[HKEY_CURRENT_USER\\");
  BuildStore(path, "the desktop's file types", [&](RegistryEngine& engine) {
    ImportDesktop(engine, desktop);
    if (!unreadable.isEmpty()) return unreadable;
    if (settings < 0) return QString("the default classes hold no settings");
    return ImportSeed(engine, "REGEDIT4\r\n" + bytes.mid(settings));
  });
}

void OpenDefaultStore(const std::string& path) {
  if (!std::filesystem::exists(path) && !StoreReadOnlyRequested()) {
    const DesktopSnapshot desktop = ReadDesktopDatabases();
    if (desktop.HasAssociations()) {
      CreateDesktopStore(path, desktop);
    } else {
      CreateSeededStore(path);
    }
  }
  UseSqliteStore(path);
  AcquireEngine();  // reports a damaged or foreign file now, before any window
}

}  // namespace kestrova
