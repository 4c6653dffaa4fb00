#include "app/DefaultStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <filesystem>
#include <sstream>

#include "platform/SqliteStore.h"
#include "store/RegistryEngine.h"
#include "tools/RegFiles.h"

namespace kestrova {

QString DataDir() {
  if (const QString env = qEnvironmentVariable("KESTROVA_DATA_DIR"); !env.isEmpty()) return env;
  const QString installed = QCoreApplication::applicationDirPath() + "/../share/kestrova";
  if (QDir(installed).exists()) return QDir(installed).canonicalPath();
  return QStringLiteral(KESTROVA_SOURCE_DATA_DIR);
}

namespace {

// Writes the default classes into a new store beside `path` and moves it into place once
// complete, so a first start that is cut short never leaves a half-filled store behind.
void CreateSeededStore(const std::string& path) {
  QFile seed(":/kestrova/default-classes.reg");
  if (!seed.open(QIODevice::ReadOnly)) return;
  // The default classes name the icon files shipped with the program by their folder.
  QByteArray bytes = seed.readAll();
  bytes.replace("@DATADIR@", DataDir().toUtf8());
  // The importer reads files; the bundled data goes through a private temporary one.
  QTemporaryFile file;
  if (!file.open() || file.write(bytes) < 0 || !file.flush()) return;
  const std::string partial = path + ".new";
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(partial + suffix, ec);
  {
    auto engine = OpenSqliteStore(partial);
    std::ostringstream err;
    ImportRegFile(*engine, file.fileName().toStdString(), ImportOptions{}, err);
  }  // closing the last connection folds the journal into the file
  std::filesystem::rename(partial, path, ec);
}

}  // namespace

void OpenDefaultStore(const std::string& path) {
  if (!std::filesystem::exists(path) && !StoreReadOnlyRequested()) CreateSeededStore(path);
  UseSqliteStore(path);
  AcquireEngine();  // reports a damaged or foreign file now, before any window
}

}  // namespace kestrova
