#include "app/DefaultStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <filesystem>

#include "platform/SqliteStore.h"
#include "regfile/RegImporter.h"
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

}  // namespace

void CreateSeededStore(const std::string& path, const QString& seedFile) {
  const std::string partial = path + ".new";
  RemoveWithJournals(partial);
  const auto fail = [&](const QString& reason) {
    RemoveWithJournals(partial);
    throw SeedError(("The new store \"" + QString::fromStdString(path) +
                     "\" could not be filled with the default classes: " + reason +
                     ". No store was made; Kestrova tries again at its next start.")
                        .toStdString());
  };

  QFile seed(seedFile);
  if (!seed.open(QIODevice::ReadOnly)) fail("they cannot be read (" + seed.errorString() + ")");
  // The default classes name the icon files shipped with the program by their folder.
  QByteArray bytes = seed.readAll();
  if (seed.error() != QFileDevice::NoError)
    fail("they cannot be read (" + seed.errorString() + ")");
  bytes.replace("@DATADIR@", DataDir().toUtf8());

  RegImportReport report;
  try {
    auto engine = OpenSqliteStore(partial);
    // Our own file: a line the importer would skip means it is damaged.
    RegImportOptions options;
    options.strict = true;
    report = RegImporter(*engine, options).Import(bytes, "default-classes.reg");
  } catch (const StoreError& e) {
    fail(QString::fromUtf8(e.what()));
  }  // closing the last connection folds the journal into the file
  if (report.Failed()) {
    QString text = QString::fromStdString(report.Text()).trimmed();
    if (text.isEmpty()) text = "the import failed";
    while (text.endsWith('.')) text.chop(1);
    fail(text);
  }
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

void OpenDefaultStore(const std::string& path) {
  if (!std::filesystem::exists(path) && !StoreReadOnlyRequested()) CreateSeededStore(path);
  UseSqliteStore(path);
  AcquireEngine();  // reports a damaged or foreign file now, before any window
}

}  // namespace kestrova
