#include "app/DefaultStore.h"

#include <QFile>
#include <QTemporaryFile>
#include <filesystem>
#include <sstream>

#include "platform/SqliteStore.h"
#include "store/RegistryEngine.h"
#include "tools/RegFiles.h"

namespace kestrova {

void OpenDefaultStore(const std::string& path) {
  const bool fresh = !std::filesystem::exists(path);
  UseSqliteStore(path);
  auto engine = AcquireEngine();
  if (!fresh) return;
  QFile seed(":/kestrova/default-classes.reg");
  if (!seed.open(QIODevice::ReadOnly)) return;
  // The importer reads files; the bundled data goes through a private temporary one.
  QTemporaryFile file;
  if (!file.open() || file.write(seed.readAll()) < 0 || !file.flush()) return;
  std::ostringstream err;
  ImportRegFile(*engine, file.fileName().toStdString(), ImportOptions{}, err);
}

}  // namespace kestrova
