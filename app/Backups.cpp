#include "app/Backups.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

namespace kestrova {
namespace {

QString Reason(int error) { return QString::fromStdString(std::generic_category().message(error)); }

// Text named in a message, between double quotes.
QString InQuotes(const QString& text) { return '"' + text + '"'; }

}  // namespace

QString BackupObstacle(const QString& file) {
  const QByteArray path = QFile::encodeName(file);
  const QString folder = QFileInfo(file).absolutePath();
  if (path.size() >= PATH_MAX) return Reason(ENAMETOOLONG);
  std::error_code error;
  std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
  if (error) {
    return "the folder " + InQuotes(folder) + " cannot be made (" +
           QString::fromStdString(error.message()) + ")";
  }
  const QByteArray folderBytes = QFile::encodeName(folder);
  struct stat st {};
  if (::stat(folderBytes.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return "the folder " + InQuotes(folder) + " is not a folder";
  }
  if (::access(folderBytes.constData(), W_OK | X_OK) != 0) {
    return "the folder " + InQuotes(folder) + " cannot be written (" + Reason(errno) + ")";
  }
  if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return "something other than a file has that name (" +
           Reason(S_ISDIR(st.st_mode) ? EISDIR : EEXIST) + ")";
  }
  return {};
}

FileMark MarkOf(const QString& file) {
  struct stat st {};
  FileMark mark;
  if (::stat(QFile::encodeName(file).constData(), &st) != 0) return mark;
  mark.exists = true;
  mark.regular = S_ISREG(st.st_mode);
  mark.device = st.st_dev;
  mark.inode = st.st_ino;
  mark.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  mark.size = st.st_size;
  return mark;
}

}  // namespace kestrova
