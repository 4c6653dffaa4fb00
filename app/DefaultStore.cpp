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

void OpenDefaultStore(const std::string& path) {
  const bool fresh = !std::filesystem::exists(path);
  UseSqliteStore(path);
  auto engine = AcquireEngine();
  if (!fresh) return;
  QFile seed(":/kestrova/default-classes.reg");
  if (!seed.open(QIODevice::ReadOnly)) return;
  // The default classes name the icon files shipped with the program by their folder.
  QByteArray bytes = seed.readAll();
  bytes.replace("@DATADIR@", DataDir().toUtf8());
  // The importer reads files; the bundled data goes through a private temporary one.
  QTemporaryFile file;
  if (!file.open() || file.write(bytes) < 0 || !file.flush()) return;
  std::ostringstream err;
  ImportRegFile(*engine, file.fileName().toStdString(), ImportOptions{}, err);
}

}  // namespace kestrova
