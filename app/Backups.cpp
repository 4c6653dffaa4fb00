#include "app/Backups.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

namespace kestrova {

QString BackupDir(const QString& programDir) {
  QString dir = qEnvironmentVariable("KESTROVA_BACKUP_DIR");
  if (dir.isEmpty()) {
    if (!programDir.isEmpty() && ::access(QFile::encodeName(programDir).constData(), W_OK) == 0) {
      dir = programDir;
    } else {
      QString data = qEnvironmentVariable("XDG_DATA_HOME");
      if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
      dir = data + "/kestrova/backups";
    }
  }
  QDir().mkpath(dir);
  return dir.endsWith('/') ? dir : dir + '/';
}

QString BackupFileName(const QString& dir, const QString& name, const QDateTime& now) {
  QString safe = name;
  safe.replace('/', '_');
  return dir + safe + '-' + now.toString("yyyyMMdd-HHmmss") + ".reg";
}

}  // namespace kestrova
