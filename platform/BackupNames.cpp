#include "platform/BackupNames.h"

#include <unistd.h>

#include <QFile>
#include <climits>

#include "store/UserFolders.h"

namespace kestrova {

QString BackupDir(const QString& programDir) {
  QString dir = qEnvironmentVariable("KESTROVA_BACKUP_DIR");
  if (dir.isEmpty()) {
    if (!programDir.isEmpty() && ::access(QFile::encodeName(programDir).constData(), W_OK) == 0) {
      dir = programDir;
    } else {
      dir = QString::fromStdString(KestrovaDataDir()) + "/backups";
    }
  }
  return dir.endsWith('/') ? dir : dir + '/';
}

namespace {

QString NameWithTail(const QString& dir, const QString& name, const QString& tail) {
  QString safe = name;
  safe.replace('/', '_');
  // A key name may hold 255 characters, which can be three times as many bytes.
  const qsizetype room = NAME_MAX - QFile::encodeName(tail).size();
  while (QFile::encodeName(safe).size() > room) {
    safe.chop(safe.size() >= 2 && safe.back().isLowSurrogate() ? 2 : 1);
  }
  return dir + safe + tail;
}

}  // namespace

QString BackupFileName(const QString& dir, const QString& name, const QDateTime& now) {
  return NameWithTail(dir, name, '-' + now.toString("yyyyMMdd-HHmmss") + ".reg");
}

QString DesktopBackupFileName(const QString& dir, const QString& name, const QString& suffix,
                              const QDateTime& now) {
  QString tail = '-' + now.toString("yyyyMMdd-HHmmss");
  if (!suffix.isEmpty()) tail += '.' + suffix;
  return NameWithTail(dir, name, tail);
}

}  // namespace kestrova
