#pragma once
// Where backups go, what they are called, and whether one was written.

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace kestrova {

// $KESTROVA_BACKUP_DIR when set; else the program's directory when it is writable; else
// $XDG_DATA_HOME/kestrova/backups. With a trailing separator; not created here.
QString BackupDir(const QString& programDir);

// "<dir><name>-yyyymmdd-hhmmss.reg", local time on the 24-hour clock. A "/" in the name
// becomes "_", so a key name can never place the file outside the backup folder, and a
// name too long for a file name is cut (at a character) so the whole name fits.
QString BackupFileName(const QString& dir, const QString& name, const QDateTime& now);

// Why the backup file cannot be written, or the empty text when nothing stands in its
// way. Makes the folder when it is missing.
QString BackupObstacle(const QString& file);

// Enough of a file's identity to tell whether an export replaced it: the export writes a
// new file and renames it into place.
struct FileMark {
  bool exists = false;
  bool regular = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modified = 0;  // nanoseconds
  std::int64_t size = 0;
  bool operator==(const FileMark&) const = default;
};
FileMark MarkOf(const QString& file);

}  // namespace kestrova
