#pragma once
// Whether a backup can be written, and whether one was (the names: platform/BackupNames).

#include <QString>
#include <cstdint>

#include "platform/BackupNames.h"

namespace kestrova {

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
