#pragma once
// Where backups go and what they are called.

#include <QDateTime>
#include <QString>

namespace kestrova {

// $KESTROVA_BACKUP_DIR when set; else the program's directory when it is writable; else
// $XDG_DATA_HOME/kestrova/backups (created when missing). With a trailing separator.
QString BackupDir(const QString& programDir);

// "<dir><name>-yyyymmdd-hhmmss.reg", local time on the 24-hour clock. A "/" in the name
// becomes "_", so a key name can never place the file outside the backup folder.
QString BackupFileName(const QString& dir, const QString& name, const QDateTime& now);

}  // namespace kestrova
