#pragma once
// Where the program's backups go and what they are called: one rule for the .reg backups
// of keys and for the copies of desktop files, used by the program and kestrova-regedit.

#include <QDateTime>
#include <QString>

namespace kestrova {

// $KESTROVA_BACKUP_DIR when set; else the program's directory when it is writable; else
// $XDG_DATA_HOME/kestrova/backups. With a trailing separator; not created here.
QString BackupDir(const QString& programDir);

// "<dir><name>-yyyymmdd-hhmmss.reg", local time on the 24-hour clock. A "/" in the name
// becomes "_", so a key name can never place the file outside the backup folder, and a
// name too long for a file name is cut (at a character) so the whole name fits.
QString BackupFileName(const QString& dir, const QString& name, const QDateTime& now);

// The same name for a copy of a desktop file, with the file's own suffix instead of
// ".reg": "mimeapps-20261209-011500.list"; no suffix gives no dot.
QString DesktopBackupFileName(const QString& dir, const QString& name, const QString& suffix,
                              const QDateTime& now);

}  // namespace kestrova
