#include "platform/SqliteFailure.h"

#include <sys/resource.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "platform/SqliteFiles.h"

namespace kestrova::sqlite {
namespace {

// A full disk or a file-size limit, when one of them explains a failed write.
std::optional<std::string> WhyAWriteFailed(const std::string& file) {
  struct statvfs fs {};
  if (::statvfs(FolderOf(file).c_str(), &fs) == 0 &&
      static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < 256 * 1024) {
    return ReasonOfErrno(ENOSPC);
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return ReasonOfErrno(EFBIG);
  return std::nullopt;
}

}  // namespace

std::string QuotedForMessage(const std::string& text) { return "\"" + text + "\""; }

StoreErrorKind KindOfErrno(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
      return StoreErrorKind::Permission;
    case EROFS:
      return StoreErrorKind::ReadOnly;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return StoreErrorKind::Full;
    default:
      return StoreErrorKind::Other;
  }
}

std::string ReasonOfErrno(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
      return "no permission";
    case EROFS:
      return "the file system is read-only";
    case ENOSPC:
    case EDQUOT:
      return "the disk is full";
    case EFBIG:
      return "a file-size limit was reached";
    default:
      return std::strerror(e);
  }
}

Failure FailureOf(sqlite3* db, int rc) {
  const int sys = db ? sqlite3_system_errno(db) : 0;
  const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (rc & 0xFF) {
    case SQLITE_FULL:
      return {StoreErrorKind::Full, sys == EFBIG ? ReasonOfErrno(EFBIG) : ReasonOfErrno(ENOSPC)};
    case SQLITE_READONLY:
      return {StoreErrorKind::ReadOnly, "it is read-only"};
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return {StoreErrorKind::Permission, "no permission"};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {StoreErrorKind::Busy, "another program kept it locked for too long"};
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return {StoreErrorKind::Damaged, "it is damaged"};
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
      if (KindOfErrno(sys) != StoreErrorKind::Other) return {KindOfErrno(sys), ReasonOfErrno(sys)};
      if (rc == SQLITE_IOERR_WRITE || rc == SQLITE_IOERR_FSYNC || rc == SQLITE_IOERR_TRUNCATE ||
          rc == SQLITE_IOERR_SHMSIZE) {
        // SQLite does not keep the system's reason for a failed write; the usual ones are
        // checked directly.
        if (const char* file = db ? sqlite3_db_filename(db, "main") : nullptr; file && *file) {
          if (const auto why = WhyAWriteFailed(file)) return {StoreErrorKind::Full, *why};
        }
      }
      [[fallthrough]];
    default:
      return {StoreErrorKind::Other, detail};
  }
}

void ThrowOpen(const std::string& message, StoreErrorKind kind) {
  throw StoreOpenError(message, kind);
}

void NotAStore(const std::string& path) {
  ThrowOpen("The file " + QuotedForMessage(path) +
                " is damaged or is not a Kestrova store; it was left as it is.",
            StoreErrorKind::Damaged);
}

void ThrowStoreFailure(sqlite3* db, const std::string& path, int rc) {
  const Failure f = FailureOf(db, rc);
  const std::string store = QuotedForMessage(path);
  switch (f.kind) {
    case StoreErrorKind::Full:
      throw StoreError("The store " + store + " could not be written: " + f.reason + ".", f.kind);
    case StoreErrorKind::ReadOnly:
    case StoreErrorKind::Permission:
      throw StoreError("The store " + store + " cannot be written: " + f.reason + ".", f.kind);
    case StoreErrorKind::Busy:
      throw StoreError("The store " + store + " is busy: " + f.reason + ".", f.kind);
    case StoreErrorKind::Damaged:
      throw StoreError("The store file " + store + " is damaged.", f.kind);
    default:
      throw StoreError("The store " + store + " failed: " + f.reason + ".", f.kind);
  }
}

}  // namespace kestrova::sqlite
