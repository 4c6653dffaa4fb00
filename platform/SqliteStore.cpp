#include "platform/SqliteStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QChar>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <unordered_map>

#include "platform/SqliteStatement.h"
#include "store/RegistryRules.h"
#include "store/StoreFiles.h"
#include "store/UserFolders.h"

namespace kestrova {
namespace {

using sqlite::Run;
using sqlite::Statement;

// 1: names folded by code point into UTF-8 (merged ı/I/i and the like). 2: names folded
// by UTF-16 code unit as the registry does; a writable open upgrades a store of 1.
constexpr int kSchemaVersion = 2;
constexpr int kFoldByCodeUnit = 2;
constexpr int kBusyTimeoutMs = 8000;
constexpr const char* kFormatTag = "kestrova-store";
// A file no larger than one page holds nothing but the (empty) schema page.
constexpr off_t kOnePage = 4096;

// The four trees of the store, with fixed ids; HKEY_CLASSES_ROOT lies inside the first.
constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;
constexpr int64_t kUsersId = 3;
constexpr int64_t kCurrentConfigId = 4;
constexpr int64_t kClassesRootId = 6;
// The trees, SOFTWARE and SOFTWARE\Classes: the store's frame, never deleted.
constexpr int64_t kLastFrameId = 6;

struct FrameKey {
  int64_t parent;
  const char* name;
  int64_t id;
};
constexpr FrameKey kFrame[] = {
    {0, "HKEY_LOCAL_MACHINE", kLocalMachineId},
    {0, "HKEY_CURRENT_USER", kCurrentUserId},
    {0, "HKEY_USERS", kUsersId},
    {0, "HKEY_CURRENT_CONFIG", kCurrentConfigId},
    {kLocalMachineId, "SOFTWARE", 5},
    {5, "Classes", kClassesRootId},
};

const char* const kTables = R"sql(
CREATE TABLE kestrova_meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE keys(
  parent INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  id INTEGER NOT NULL,
  PRIMARY KEY(parent, fold)) WITHOUT ROWID;
CREATE UNIQUE INDEX keys_by_id ON keys(id);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX vals_by_key ON vals(key, fold);
)sql";

// Rebuilds both tables with names folded by code unit. The old fold merged more names
// than the new one, so no two siblings can meet; should they all the same, the later one
// keeps its place under a fold no name produces and the count is kept in the meta table.
const char* const kRefold = R"sql(
CREATE TABLE keys_refolded(
  parent INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  id INTEGER NOT NULL,
  PRIMARY KEY(parent, fold)) WITHOUT ROWID;
INSERT INTO keys_refolded SELECT parent, kestrova_fold(name), name, id FROM keys WHERE true ORDER BY id
  ON CONFLICT DO NOTHING;
INSERT INTO kestrova_meta SELECT 'refold-collisions', count(*) FROM keys
  WHERE id NOT IN (SELECT id FROM keys_refolded);
INSERT INTO keys_refolded SELECT parent, kestrova_fold(name) || X'FFFF' || CAST(id AS BLOB), name, id
  FROM keys WHERE id NOT IN (SELECT id FROM keys_refolded);
DROP TABLE keys;
ALTER TABLE keys_refolded RENAME TO keys;
CREATE UNIQUE INDEX keys_by_id ON keys(id);
CREATE TABLE vals_refolded(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
INSERT INTO vals_refolded SELECT id, key, kestrova_fold(name), name, type, data FROM vals WHERE true ORDER BY id
  ON CONFLICT DO NOTHING;
UPDATE kestrova_meta SET value = value + (SELECT count(*) FROM vals
  WHERE id NOT IN (SELECT id FROM vals_refolded)) WHERE name = 'refold-collisions';
INSERT INTO vals_refolded SELECT id, key, kestrova_fold(name) || X'FFFF' || CAST(id AS BLOB), name, type, data
  FROM vals WHERE id NOT IN (SELECT id FROM vals_refolded);
DROP TABLE vals;
ALTER TABLE vals_refolded RENAME TO vals;
CREATE UNIQUE INDEX vals_by_key ON vals(key, fold);
UPDATE kestrova_meta SET value = 2 WHERE name = 'schema';
)sql";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Names as the first schema folded them: whole code points, into UTF-8.
std::string FoldByCodePoint(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  char32_t cp;
  for (std::size_t i = 0; i < name.size();) {
    const char c = name[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      ++i;
      continue;
    }
    const std::size_t len = DecodeUtf8(name, i, cp);
    if (len == 0) {
      out += c;
      ++i;
      continue;
    }
    AppendUtf8(QChar::toUpper(cp), out);
    i += len;
  }
  return out;
}

void FoldFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* p = static_cast<const char*>(sqlite3_value_blob(argv[0]));
  const int n = sqlite3_value_bytes(argv[0]);
  const std::string fold = FoldName(std::string_view(p ? p : "", static_cast<std::size_t>(n)));
  sqlite3_result_blob(ctx, fold.data(), static_cast<int>(fold.size()), SQLITE_TRANSIENT);
}

// What a failed system call means for the user, and its kind.
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

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// A file URI for path with the given query, so that SQLite can be told to open it without
// locks or journals.
std::string UriOf(const std::string& path, const char* query) {
  std::error_code ec;
  std::string abs = std::filesystem::absolute(path, ec).string();
  if (ec) abs = path;
  std::string uri = "file:";
  static const char* hex = "0123456789ABCDEF";
  for (const char ch : abs) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '~') {
      uri += ch;
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 0xF];
    }
  }
  return uri + "?" + query;
}

// The kind and wording of a failed SQLite call, with what the system said underneath.
struct Failure {
  StoreErrorKind kind;
  std::string reason;
};

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

// Holds one SQLite connection for a short task and closes it on every way out.
class Connection {
 public:
  Connection() = default;
  ~Connection() { sqlite3_close_v2(m_db); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  int Open(const std::string& name, int flags) {
    const int rc = sqlite3_open_v2(name.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (m_db) sqlite3_extended_result_codes(m_db, 1);
    return rc;
  }
  sqlite3* get() const { return m_db; }
  int Exec(const std::string& sql) {
    return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
  }

 private:
  sqlite3* m_db = nullptr;
};

// What the file at a store's path turned out to be, read without locks, journals or
// recovery, so that nothing is written to a file that may not be ours.
struct Probe {
  enum class Kind { Store, Empty } kind = Kind::Store;
  int64_t schema = 0;
};

[[noreturn]] void ThrowOpen(const std::string& message, StoreErrorKind kind) {
  throw StoreOpenError(message, kind);
}

[[noreturn]] void NotAStore(const std::string& path) {
  ThrowOpen(
      "The file " + Quoted(path) + " is damaged or is not a Kestrova store; it was left as it is.",
      StoreErrorKind::Damaged);
}

// Reads the format and schema from a connection that may be immutable or read-only;
// nullopt when the file holds no tables at all.
std::optional<Probe> ReadFormat(sqlite3* db, const std::string& path) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "SELECT count(*), count(*) FILTER (WHERE name='kestrova_meta') FROM sqlite_schema", -1,
      &stmt, nullptr);
  int64_t tables = 0, meta = 0;
  if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    tables = sqlite3_column_int64(stmt, 0);
    meta = sqlite3_column_int64(stmt, 1);
    rc = SQLITE_OK;
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_OK) {
    const Failure f = FailureOf(db, rc);
    if (f.kind == StoreErrorKind::Damaged) NotAStore(path);
    ThrowOpen("The store " + Quoted(path) + " could not be read: " + f.reason + ".", f.kind);
  }
  if (tables == 0) return std::nullopt;
  if (meta == 0) NotAStore(path);
  std::string format;
  Probe probe;
  rc = sqlite3_prepare_v2(db,
                          "SELECT (SELECT value FROM kestrova_meta WHERE name='format'), "
                          "(SELECT value FROM kestrova_meta WHERE name='schema')",
                          -1, &stmt, nullptr);
  if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(stmt, 0);
    format = t ? reinterpret_cast<const char*>(t) : "";
    probe.schema = sqlite3_column_int64(stmt, 1);
    rc = SQLITE_OK;
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_OK || format != kFormatTag) NotAStore(path);
  if (probe.schema > kSchemaVersion) {
    ThrowOpen("The store " + Quoted(path) + " was made by a newer version of Kestrova.",
              StoreErrorKind::Other);
  }
  return probe;
}

Probe ProbeStore(const std::string& path, off_t size) {
  {
    // Immutable: no locks, no -wal or -shm, no recovery, so another program's file with a
    // pending write-ahead log is read exactly as it lies and left byte for byte.
    Connection c;
    const int rc = c.Open(UriOf(path, "immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    if (rc != SQLITE_OK) {
      const Failure f = FailureOf(c.get(), rc);
      ThrowOpen("The store " + Quoted(path) + " could not be opened: " + f.reason + ".", f.kind);
    }
    if (auto probe = ReadFormat(c.get(), path)) return *probe;
  }
  const bool pending = SizeOf(path + "-wal") > 0 || SizeOf(path + "-journal") > 0;
  if (!pending) {
    // Nothing but the schema page, and no table in it: a creation that never finished.
    if (size <= kOnePage) return {Probe::Kind::Empty, 0};
    NotAStore(path);
  }
  // Tables may wait in the log. A read-only connection reads the log but can never
  // checkpoint, roll back or delete it.
  Connection c;
  const int rc = c.Open(path, SQLITE_OPEN_READONLY);
  if (rc != SQLITE_OK) NotAStore(path);
  sqlite3_busy_timeout(c.get(), kBusyTimeoutMs);
  if (auto probe = ReadFormat(c.get(), path)) return *probe;
  NotAStore(path);
}

void SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void RemoveTemp(const std::string& temp) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) ::unlink((temp + suffix).c_str());
}

// Builds a whole store in a temporary file beside path and moves it into place, so that
// a failure (a full disk, a file-size limit, a crash) never leaves half a store behind.
// `replacing` is the incomplete file found at path, or null when there is none.
void CreateStore(const std::string& path, const struct stat* replacing) {
  const std::string folder = FolderOf(path);
  if (!replacing) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      ThrowOpen("The folder " + Quoted(folder) +
                    " of the store could not be created: " + ReasonOfErrno(ec.value()) + ".",
                KindOfErrno(ec.value()));
    }
  }
  // A short name of its own: the store's name may already be as long as a name can be.
  std::string temp = folder + "/.kestrova-new-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    const int e = errno;
    ThrowOpen("The store " + Quoted(path) +
                  " could not be created in its folder: " + ReasonOfErrno(e) + ".",
              KindOfErrno(e));
  }
  ::close(fd);
  Failure failure{StoreErrorKind::Other, {}};
  {
    Connection c;
    int rc = c.Open(temp, SQLITE_OPEN_READWRITE);
    auto step = [&](const std::string& sql) {
      if (rc == SQLITE_OK) rc = c.Exec(sql);
    };
    step("PRAGMA journal_mode=OFF");
    step("PRAGMA synchronous=FULL");
    step("BEGIN");
    step(kTables);
    if (rc == SQLITE_OK) {
      try {
        Statement ins(c.get(), "INSERT INTO keys(parent, fold, name, id) VALUES (?1, ?2, ?3, ?4)",
                      0);
        for (const FrameKey& k : kFrame) {
          const std::string fold = FoldName(k.name);
          Run q(ins);
          q.Int(1, k.parent).Blob(2, fold).Blob(3, k.name).Int(4, k.id);
          if ((rc = q.Step()) != SQLITE_DONE) break;
          rc = SQLITE_OK;
        }
      } catch (const Statement::PrepareError& e) {
        rc = e.Code();
      }
    }
    step("INSERT INTO kestrova_meta VALUES ('format', '" + std::string(kFormatTag) +
         "'), ('schema', " + std::to_string(kSchemaVersion) + ")");
    step("COMMIT");
    // The header says WAL from the start; the tables stay in the main file, where a check
    // of the format reads them without touching any log.
    step("PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK) failure = FailureOf(c.get(), rc);
  }
  if (!failure.reason.empty()) {
    RemoveTemp(temp);
    ThrowOpen("The store " + Quoted(path) + " could not be created: " + failure.reason + ".",
              failure.kind);
  }
  ::unlink((temp + "-wal").c_str());
  ::unlink((temp + "-shm").c_str());
  SyncPath(temp, O_RDONLY);
  int moved;
  if (replacing) {
    // Only the very file found incomplete is replaced, never one made meanwhile.
    struct stat now {};
    moved = ::stat(path.c_str(), &now) == 0 && now.st_dev == replacing->st_dev &&
                    now.st_ino == replacing->st_ino && now.st_size == replacing->st_size
                ? ::rename(temp.c_str(), path.c_str())
                : (errno = EEXIST, -1);
  } else {
    moved = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
      moved = ::link(temp.c_str(), path.c_str());
    }
  }
  const int e = errno;
  ::unlink(temp.c_str());
  if (moved != 0 && e != EEXIST) {
    ThrowOpen("The store " + Quoted(path) + " could not be created: " + ReasonOfErrno(e) + ".",
              KindOfErrno(e));
  }
  // EEXIST: another program created the store meanwhile, and that one is used.
  SyncPath(folder, O_RDONLY | O_DIRECTORY);
}

// True when SQLite can keep its -wal and -shm beside the store: the folder is writable,
// or both files exist and are writable.
bool LogFilesWritable(const std::string& path, std::string& reason) {
  const std::string folder = FolderOf(path);
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
  const int e = errno;
  if (::access((path + "-wal").c_str(), W_OK) == 0 && ::access((path + "-shm").c_str(), W_OK) == 0)
    return true;
  reason = "its folder " + Quoted(folder) + " cannot be written (" + ReasonOfErrno(e) + ")";
  return false;
}

class SqliteEngine final : public RegistryEngine {
 public:
  explicit SqliteEngine(const std::string& path) : m_path(path) {
    Open();
    RegisterOpenStore(m_path);
  }
  ~SqliteEngine() override {
    Close();
    UnregisterOpenStore(m_path);
  }

  const std::string& Location() const override { return m_path; }
  bool Writable() const override { return m_writable; }
  std::string ReadOnlyReason() const override { return m_readOnlyReason; }

  KeyRef Root(RootKey root) override {
    switch (root) {
      case RootKey::ClassesRoot:
        return {kClassesRootId, 2};
      case RootKey::CurrentUser:
        return {kCurrentUserId, 0};
      case RootKey::LocalMachine:
        return {kLocalMachineId, 0};
      case RootKey::Users:
        return {kUsersId, 0};
      case RootKey::CurrentConfig:
        return {kCurrentConfigId, 0};
    }
    return {};
  }

  void HoldSnapshot() override { ++m_holders; }
  void ReleaseSnapshot() override {
    if (m_holders > 0 && --m_holders == 0) EndImplicitRead();
  }

  std::optional<KeyRef> FindChild(KeyRef parent, std::string_view name) override {
    EnsureRead();
    return Find(parent, name);
  }

  std::optional<KeyRef> Find(KeyRef parent, std::string_view name) {
    if (!parent || !IsValidKeyName(name)) return std::nullopt;
    const std::string fold = m_fold(name);
    Run q(S(kFindChild));
    q.Int(1, parent.id).Blob(2, fold);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) return KeyRef{q.ColInt(0), parent.depth + 1};
    if (rc != SQLITE_DONE) ThrowError(rc);
    return std::nullopt;
  }

  KeyRef CreateChild(KeyRef parent, std::string_view name) override {
    RequireWritable();
    if (!IsValidKeyName(name)) {
      throw StoreError("The key name \"" + Shown(name) +
                           "\" is not valid: a key name has 1 to 255 characters, no backslash and "
                           "no line break.",
                       StoreErrorKind::Limit);
    }
    RequireText(name, [&] { return "The key name \"" + Shown(name) + "\""; });
    if (parent.depth + 1 > kMaxKeyDepth) {
      throw StoreError("The key \"" + Shown(name) + "\" would lie deeper than " +
                           std::to_string(kMaxKeyDepth) + " levels.",
                       StoreErrorKind::Limit);
    }
    const std::string fold = m_fold(name);
    if (m_depth > 0) {
      // Inside a transaction the write lock, once taken, stays until its end: the new id
      // is read after a plain insert. (An insert that selects from its own table, or
      // returns rows, makes SQLite build a temporary table each time.)
      if (parent.id != m_liveKey && !ExistsId(parent.id)) {
        throw StoreError("The key \"" + Shown(name) +
                             "\" could not be created: its parent key was deleted meanwhile.",
                         StoreErrorKind::Gone);
      }
      Run ins(S(kInsertChildInTransaction));
      ins.Int(1, parent.id).Blob(2, fold).Blob(3, name);
      const int rc = ins.Step();
      if (rc != SQLITE_DONE) ThrowError(rc);
      if (sqlite3_changes(m_db) == 0) {
        if (auto found = Find(parent, name)) return *found;
        ThrowError(SQLITE_CORRUPT);
      }
      Run q(S(kLastId));
      if (q.Step() != SQLITE_ROW) ThrowError(SQLITE_CORRUPT);
      m_liveKey = q.ColInt(0);
      return KeyRef{m_liveKey, parent.depth + 1};
    }
    {
      // One statement: the new id is taken under the write lock, and nothing is added
      // under a parent that another program deleted meanwhile.
      Run ins(S(kInsertChild));
      ins.Int(1, parent.id).Blob(2, fold).Blob(3, name);
      const int rc = ins.Step();
      if (rc == SQLITE_ROW) {
        const KeyRef made{ins.ColInt(0), parent.depth + 1};
        if (m_depth > 0) m_liveKey = made.id;
        return made;
      }
      if (rc != SQLITE_DONE) ThrowError(rc);
    }
    // Nothing inserted: the key exists already, or its parent is gone.
    if (auto found = Find(parent, name)) return *found;
    throw StoreError("The key \"" + Shown(name) +
                         "\" could not be created: its parent key was deleted meanwhile.",
                     StoreErrorKind::Gone);
  }

  bool KeyExists(KeyRef key) override {
    if (!key) return false;
    EnsureRead();
    return ExistsId(key.id);
  }

  bool ExistsId(int64_t id) {
    Run q(S(kKeyExists));
    q.Int(1, id);
    const int rc = q.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowError(rc);
    return rc == SQLITE_ROW;
  }

  void ListChildren(KeyRef parent, std::vector<std::string>& names) override {
    names.clear();
    if (!parent) return;
    EnsureRead();
    Run q(S(kListChildren));
    q.Int(1, parent.id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) names.push_back(q.ColBlob(0));
    if (rc != SQLITE_DONE) ThrowError(rc);
  }

  void Children(KeyRef parent, std::vector<ChildKey>& children) override {
    children.clear();
    if (!parent) return;
    EnsureRead();
    Run q(S(kChildren));
    q.Int(1, parent.id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      children.push_back({q.ColBlob(0), KeyRef{q.ColInt(1), parent.depth + 1}});
    }
    if (rc != SQLITE_DONE) ThrowError(rc);
  }

  bool DeleteChild(KeyRef parent, std::string_view name) override {
    RequireWritable();
    EngineTransaction tx(*this, true);
    const auto child = Find(parent, name);
    if (!child) return false;
    if (child->id <= kLastFrameId) {
      // The trees and the classes root are the store's frame, not data.
      throw StoreError("The key \"" + Shown(name) + "\" is a root of the store.",
                       StoreErrorKind::Limit);
    }
    m_liveKey = 0;
    Exec(S(kClearDoomed));
    {
      Run q(S(kCollectSubtree));
      q.Int(1, child->id).Int(2, child->depth).Int(3, kMaxKeyDepth);
      const int rc = q.Step();
      if (rc != SQLITE_DONE) ThrowError(rc);
    }
    {
      // A key below the depth limit or the store's frame inside the subtree: the tree
      // loops back on itself, which only a damaged file can hold.
      Run q(S(kDoomedLoops));
      q.Int(1, kMaxKeyDepth).Int(2, kLastFrameId);
      const int rc = q.Step();
      if (rc != SQLITE_ROW) ThrowError(rc);
      if (q.ColInt(0) != 0) {
        throw StoreError("The store " + Quoted(m_path) + " is damaged: the key \"" + Shown(name) +
                             "\" contains itself. Nothing was deleted.",
                         StoreErrorKind::Damaged);
      }
    }
    Exec(S(kDeleteDoomedValues));
    Exec(S(kDeleteDoomedKeys));
    Exec(S(kClearDoomed));
    tx.Commit();
    return true;
  }

  std::optional<ValueInfo> QueryValue(KeyRef key, std::string_view name) override {
    if (!key || !IsValidValueName(name)) return std::nullopt;
    EnsureRead();
    const std::string fold = m_fold(name);
    Run q(S(kQueryValue));
    q.Int(1, key.id).Blob(2, fold);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) return ValueInfo{static_cast<uint32_t>(q.ColInt(0)), q.ColInt(1)};
    if (rc != SQLITE_DONE) ThrowError(rc);
    return std::nullopt;
  }

  std::optional<RegValue> GetValue(KeyRef key, std::string_view name) override {
    if (!key || !IsValidValueName(name)) return std::nullopt;
    EnsureRead();
    const std::string fold = m_fold(name);
    Run q(S(kGetValue));
    q.Int(1, key.id).Blob(2, fold);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) {
      return RegValue{q.ColBlob(0), static_cast<uint32_t>(q.ColInt(1)), q.ColBlob(2)};
    }
    if (rc != SQLITE_DONE) ThrowError(rc);
    return std::nullopt;
  }

  void ListValues(KeyRef key, std::vector<RegValue>& values) override {
    values.clear();
    if (!key) return;
    EnsureRead();
    Run q(S(kListValues));
    q.Int(1, key.id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      values.push_back({q.ColBlob(0), static_cast<uint32_t>(q.ColInt(1)), q.ColBlob(2)});
    }
    if (rc != SQLITE_DONE) ThrowError(rc);
  }

  void VisitValues(KeyRef key, const std::function<void(const RegValue&)>& each) override {
    if (!key) return;
    EnsureRead();
    Run q(S(kVisitValues));
    q.Int(1, key.id);
    RegValue value;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      value.name = q.ColBlob(0);
      value.type = static_cast<uint32_t>(q.ColInt(1));
      if (q.ColInt(4) != 0) {
        value.data = q.ColBlob(2);
      } else {
        Run d(S(kValueData));
        d.Int(1, q.ColInt(3));
        const int found = d.Step();
        if (found != SQLITE_ROW) ThrowError(found == SQLITE_DONE ? SQLITE_CORRUPT : found);
        value.data = d.ColBlob(0);
      }
      each(value);
    }
    if (rc != SQLITE_DONE) ThrowError(rc);
  }

  void SetValue(KeyRef key, std::string_view name, uint32_t type, std::string_view data) override {
    RequireWritable();
    if (!IsValidValueName(name)) {
      throw StoreError("The value name is not valid: it has more than 16,383 characters or a NUL.",
                       StoreErrorKind::Limit);
    }
    RequireText(name, [&] { return "The value name \"" + Shown(name) + "\""; });
    if (IsTextType(type)) {
      RequireText(data, [&] { return "The data of the value \"" + Shown(name) + "\""; });
    }
    // Text takes at most 2n + 2 bytes as UTF-16: only long data needs counting.
    if (data.size() + 1 > kMaxValueData / 2 && RegistryDataSize(type, data) > kMaxValueData) {
      throw StoreError("The data of the value \"" + Shown(name) + "\" is larger than 1 MiB.",
                       StoreErrorKind::Limit);
    }
    const std::string fold = m_fold(name);
    // Inside a write transaction a key seen alive stays alive unless this connection
    // deletes it, so its existence is checked once, not for every value.
    const bool known = m_depth > 0 && key.id == m_liveKey;
    Run q(S(known ? kSetValueKnownKey : kSetValue));
    q.Int(1, key.id).Blob(2, fold).Blob(3, name).Int(4, type).Blob(5, data);
    const int rc = q.Step();
    if (rc != SQLITE_DONE) ThrowError(rc);
    if (sqlite3_changes(m_db) == 0) {
      throw StoreError("The key of the value \"" + Shown(name) + "\" was deleted meanwhile.",
                       StoreErrorKind::Gone);
    }
    if (m_depth > 0) m_liveKey = key.id;
  }

  bool DeleteValue(KeyRef key, std::string_view name) override {
    RequireWritable();
    if (!key || !IsValidValueName(name)) return false;
    const std::string fold = m_fold(name);
    Run q(S(kDeleteValue));
    q.Int(1, key.id).Blob(2, fold);
    const int rc = q.Step();
    if (rc != SQLITE_DONE) ThrowError(rc);
    return sqlite3_changes(m_db) > 0;
  }

  void Begin(bool write) override {
    EndImplicitRead();
    if (m_depth == 0) {
      const int rc =
          sqlite3_exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) ThrowError(rc);
    } else {
      const std::string sql = "SAVEPOINT s" + std::to_string(m_depth);
      const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) ThrowError(rc);
    }
    ++m_depth;
  }

  void Commit() override {
    if (m_depth == 0) return;
    if (m_depth == 1) m_liveKey = 0;
    if (sqlite3_get_autocommit(m_db)) {
      // SQLite already rolled the whole transaction back after an error (a full disk).
      m_depth = 0;
      throw StoreError("The change to the store " + Quoted(m_path) +
                       " was rolled back; nothing was written.");
    }
    --m_depth;
    const std::string sql = m_depth == 0 ? "COMMIT" : "RELEASE s" + std::to_string(m_depth);
    const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      if (m_depth == 0 && !sqlite3_get_autocommit(m_db)) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      }
      ThrowError(rc);
    }
  }

  void Rollback() override {
    if (m_depth == 0) return;
    m_liveKey = 0;
    --m_depth;
    if (sqlite3_get_autocommit(m_db)) {
      m_depth = 0;
      return;
    }
    if (m_depth == 0) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    } else {
      const std::string n = "s" + std::to_string(m_depth);
      const std::string sql = "ROLLBACK TO " + n + "; RELEASE " + n;
      sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
    }
  }

 private:
  enum StmtId {
    kFindChild,
    kInsertChild,
    kInsertChildInTransaction,
    kLastId,
    kKeyExists,
    kListChildren,
    kChildren,
    kClearDoomed,
    kCollectSubtree,
    kDoomedLoops,
    kDeleteDoomedValues,
    kDeleteDoomedKeys,
    kQueryValue,
    kGetValue,
    kListValues,
    kVisitValues,
    kValueData,
    kSetValue,
    kSetValueKnownKey,
    kDeleteValue,
    kStmtCount
  };

  static const char* Sql(StmtId id) {
    switch (id) {
      case kFindChild:
        return "SELECT id FROM keys WHERE parent=?1 AND fold=?2";
      case kInsertChild:
        return "INSERT INTO keys(parent, fold, name, id) "
               "SELECT ?1, ?2, ?3, (SELECT coalesce(max(id), 0) + 1 FROM keys) "
               "WHERE EXISTS(SELECT 1 FROM keys WHERE id=?1) "
               "ON CONFLICT(parent, fold) DO NOTHING RETURNING id";
      case kInsertChildInTransaction:
        return "INSERT INTO keys(parent, fold, name, id) "
               "VALUES (?1, ?2, ?3, (SELECT coalesce(max(id), 0) + 1 FROM keys)) "
               "ON CONFLICT(parent, fold) DO NOTHING";
      case kLastId:
        return "SELECT max(id) FROM keys";
      case kKeyExists:
        return "SELECT 1 FROM keys WHERE id=?1";
      case kListChildren:
        return "SELECT name FROM keys WHERE parent=?1 ORDER BY fold";
      case kChildren:
        return "SELECT name, id FROM keys WHERE parent=?1 ORDER BY fold";
      case kClearDoomed:
        return "DELETE FROM temp.doomed";
      case kCollectSubtree:
        // UNION, not UNION ALL, and a depth bound: the walk ends on any file, even one
        // whose keys loop back on themselves.
        return "INSERT INTO temp.doomed(id, depth) "
               "WITH RECURSIVE sub(id, depth) AS (SELECT ?1, ?2 UNION "
               "SELECT k.id, sub.depth + 1 FROM keys k JOIN sub ON k.parent=sub.id WHERE sub.depth "
               "<= ?3) "
               "SELECT id, max(depth) FROM sub GROUP BY id";
      case kDoomedLoops:
        return "SELECT EXISTS(SELECT 1 FROM temp.doomed WHERE depth > ?1 OR id <= ?2)";
      case kDeleteDoomedValues:
        return "DELETE FROM vals WHERE key IN (SELECT id FROM temp.doomed)";
      case kDeleteDoomedKeys:
        return "DELETE FROM keys WHERE id IN (SELECT id FROM temp.doomed)";
      case kQueryValue:
        return "SELECT type, length(data) FROM vals WHERE key=?1 AND fold=?2";
      case kGetValue:
        return "SELECT name, type, data FROM vals WHERE key=?1 AND fold=?2";
      case kListValues:
        return "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id";
      case kVisitValues:
        // The sort holds what it returns: data above 2 KiB is read after it, one value
        // at a time, so that the key's data is never all in memory.
        return "SELECT name, type, iif(length(data) <= 2048, data, NULL), id, length(data) <= 2048 "
               "FROM vals WHERE key=?1 ORDER BY id";
      case kValueData:
        return "SELECT data FROM vals WHERE id=?1";
      case kSetValue:
        return "INSERT INTO vals(key, fold, name, type, data) "
               "SELECT ?1, ?2, ?3, ?4, ?5 WHERE EXISTS(SELECT 1 FROM keys WHERE id=?1) "
               "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data";
      case kSetValueKnownKey:
        return "INSERT INTO vals(key, fold, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
               "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data";
      case kDeleteValue:
        return "DELETE FROM vals WHERE key=?1 AND fold=?2";
      case kStmtCount:
        break;
    }
    return "";
  }

  // Statements are prepared at their first use, so an engine that only reads stays cheap.
  const Statement& S(StmtId id) {
    Statement& s = m_stmts[id];
    if (!s.get()) {
      try {
        s = Statement(m_db, Sql(id));
      } catch (const Statement::PrepareError& e) {
        ThrowError(e.Code());
      }
    }
    return s;
  }

  void Exec(const Statement& s) {
    Run q(s);
    const int rc = q.Step();
    if (rc != SQLITE_DONE) ThrowError(rc);
  }

  void ExecSql(const char* sql) {
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowError(rc);
  }

  // Reads of the AssocStore objects alive share one read transaction; a write or an
  // explicit transaction ends it first, so writes never wait on a stale snapshot.
  void EnsureRead() {
    if (m_holders > 0 && m_depth == 0 && !m_implicitRead) {
      ExecSql("BEGIN");
      m_implicitRead = true;
    }
  }

  void EndImplicitRead() {
    if (!m_implicitRead) return;
    m_implicitRead = false;
    if (!sqlite3_get_autocommit(m_db)) sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
  }

  void RequireWritable() {
    EndImplicitRead();
    if (!m_writable) {
      throw StoreError("The store " + Quoted(m_path) + " is read-only (" + m_readOnlyReason +
                           "); nothing was changed.",
                       StoreErrorKind::ReadOnly);
    }
  }

  // The store holds valid Unicode only, so that what one program writes every other
  // reads as the same characters.
  // `what` names the text for the message; it is built only when the text is refused,
  // since every write of an import passes here.
  template <typename What>
  static void RequireText(std::string_view text, What what) {
    if (!IsValidUtf8(text)) {
      throw StoreError(what() + " is not valid Unicode text (UTF-8); nothing was written.",
                       StoreErrorKind::InvalidText);
    }
  }

  // A name as a message may show it.
  static std::string Shown(std::string_view name) { return ReplaceInvalidUtf8(name); }

  [[noreturn]] void ThrowError(int rc) const {
    const Failure f = FailureOf(m_db, rc);
    switch (f.kind) {
      case StoreErrorKind::Full:
        throw StoreError("The store " + Quoted(m_path) + " could not be written: " + f.reason + ".",
                         f.kind);
      case StoreErrorKind::ReadOnly:
      case StoreErrorKind::Permission:
        throw StoreError("The store " + Quoted(m_path) + " cannot be written: " + f.reason + ".",
                         f.kind);
      case StoreErrorKind::Busy:
        throw StoreError("The store " + Quoted(m_path) + " is busy: " + f.reason + ".", f.kind);
      case StoreErrorKind::Damaged:
        throw StoreError("The store file " + Quoted(m_path) + " is damaged.", f.kind);
      default:
        throw StoreError("The store " + Quoted(m_path) + " failed: " + f.reason + ".", f.kind);
    }
  }

  void Open() {
    const bool requested = StoreReadOnlyRequested();
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
      const int e = errno;
      if (e != ENOENT) {
        ThrowOpen("The store " + Quoted(m_path) + " cannot be reached: " + ReasonOfErrno(e) + ".",
                  KindOfErrno(e));
      }
      if (requested) {
        // Read-only means nothing is made: no store and no folder.
        ThrowOpen("The store " + Quoted(m_path) +
                      " does not exist, and KESTROVA_STORE_READONLY=1 keeps it from being created.",
                  StoreErrorKind::ReadOnly);
      }
      CreateStore(m_path, nullptr);
      if (::stat(m_path.c_str(), &st) != 0) {
        const int e2 = errno;
        ThrowOpen("The store " + Quoted(m_path) + " cannot be reached: " + ReasonOfErrno(e2) + ".",
                  KindOfErrno(e2));
      }
    }
    if (!S_ISREG(st.st_mode))
      ThrowOpen("The store " + Quoted(m_path) + " is not a file.", StoreErrorKind::Other);

    Probe probe = ProbeStore(m_path, st.st_size);
    if (probe.kind == Probe::Kind::Empty) {
      std::string why;
      if (requested || ::access(m_path.c_str(), W_OK) != 0 || !LogFilesWritable(m_path, why)) {
        ThrowOpen("The store " + Quoted(m_path) +
                      " was never completely created and cannot be written here.",
                  StoreErrorKind::ReadOnly);
      }
      CreateStore(m_path, &st);
      if (::stat(m_path.c_str(), &st) != 0)
        ThrowOpen("The store " + Quoted(m_path) + " vanished.", StoreErrorKind::Other);
      probe = ProbeStore(m_path, st.st_size);
      if (probe.kind == Probe::Kind::Empty) NotAStore(m_path);
    }

    std::string reason;
    if (requested) {
      reason = "KESTROVA_STORE_READONLY=1 is set";
    } else if (::access(m_path.c_str(), W_OK) != 0) {
      reason = "the file cannot be written (" + ReasonOfErrno(errno) + ")";
    } else {
      LogFilesWritable(m_path, reason);
    }
    if (reason.empty()) {
      try {
        OpenConnection(false, probe.schema);
        m_writable = true;
      } catch (const StoreOpenError& e) {
        const StoreErrorKind k = e.Kind();
        if (k != StoreErrorKind::Full && k != StoreErrorKind::ReadOnly &&
            k != StoreErrorKind::Permission)
          throw;
        // What cannot be written may still be read.
        Close();
        reason = !m_failure.empty()              ? m_failure
                 : k == StoreErrorKind::Full     ? ReasonOfErrno(ENOSPC)
                 : k == StoreErrorKind::ReadOnly ? ReasonOfErrno(EROFS)
                                                 : ReasonOfErrno(EACCES);
      }
    }
    if (!m_writable) {
      m_readOnlyReason = reason;
      try {
        OpenConnection(true, probe.schema);
      } catch (const StoreOpenError& e) {
        // The first reader must grow the -shm, which a full disk refuses. With nothing
        // waiting in the log, the file alone holds the whole store and is read as it lies.
        if (e.Kind() != StoreErrorKind::Full || SizeOf(m_path + "-wal") != 0) throw;
        OpenConnection(true, probe.schema, true);
      }
    }
  }

  void OpenConnection(bool readOnly, int64_t schema, bool asItLies = false) {
    // A read-only folder cannot take the -shm a read-only connection needs; with no log
    // beside the store nobody can be writing it, and the file is read as it lies.
    const bool immutable = asItLies || (readOnly && ::access(FolderOf(m_path).c_str(), W_OK) != 0 &&
                                        !Exists(m_path + "-shm") && SizeOf(m_path + "-wal") == 0);
    const std::string name = immutable ? UriOf(m_path, "immutable=1") : m_path;
    const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOMUTEX | (immutable ? SQLITE_OPEN_URI : 0);
    int rc = sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) Fail(rc, "could not be opened");
    try {
      sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
      sqlite3_extended_result_codes(m_db, 1);
      // Every connection of every process keeps the -wal and -shm when it closes: a
      // process that believes itself the last one never deletes files another still uses.
      int persist = 1;
      sqlite3_file_control(m_db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
      if (!readOnly) {
        rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) Fail(rc, "could not be opened for writing");
      }
      // Read again on this connection: the file may have changed since it was probed.
      const auto found = ReadFormat(m_db, m_path);
      if (!found) NotAStore(m_path);
      schema = found->schema;
      if (!readOnly && schema < kFoldByCodeUnit) schema = Refold();
      m_fold = schema >= kFoldByCodeUnit ? &FoldName : &FoldByCodePoint;
      // The log kept by a closing last connection is emptied, so that no stale log can
      // meet a store file restored or replaced later.
      if (!readOnly) ExecSql("PRAGMA journal_size_limit=0");
      ExecSql("PRAGMA synchronous=NORMAL");
      ExecSql("PRAGMA temp_store=MEMORY");
      // Reads come straight from the mapped file instead of a system call per page.
      ExecSql("PRAGMA mmap_size=1073741824");
      ExecSql("PRAGMA cache_size=-16384");
      ExecSql(
          "CREATE TEMP TABLE IF NOT EXISTS doomed(id INTEGER PRIMARY KEY, depth INTEGER NOT NULL)");
    } catch (const StoreOpenError&) {
      Close();
      throw;
    } catch (const StoreError& e) {
      Close();
      throw StoreOpenError("The store " + Quoted(m_path) + " could not be opened: " + e.what(),
                           e.Kind());
    }
    m_stmts.resize(kStmtCount);
  }

  [[noreturn]] void Fail(int rc, const char* what) {
    const Failure f = FailureOf(m_db, rc);
    m_failure = f.reason;
    ThrowOpen("The store " + Quoted(m_path) + " " + what + ": " + f.reason + ".", f.kind);
  }

  // Folds every name of a store of the first schema anew, in one transaction; returns the
  // schema the store has afterwards.
  int64_t Refold() {
    int rc =
        sqlite3_create_function_v2(m_db, "kestrova_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, &FoldFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowError(rc);
    ExecSql("BEGIN IMMEDIATE");
    try {
      // Another program may have upgraded it meanwhile.
      const auto now = ReadFormat(m_db, m_path);
      if (now && now->schema < kFoldByCodeUnit) {
        ExecSql(kRefold);
        Statement q(m_db, "SELECT value FROM kestrova_meta WHERE name='refold-collisions'", 0);
        Run r(q);
        if (r.Step() == SQLITE_ROW && r.ColInt(0) > 0) {
          std::cerr << "kestrova: " << r.ColInt(0) << " name(s) in " << Quoted(m_path)
                    << " matched another after the upgrade of name matching; both were kept.\n";
        }
      }
      ExecSql("COMMIT");
    } catch (...) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    return kFoldByCodeUnit;
  }

  void Close() {
    m_stmts.clear();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
  }

  std::string m_path;
  sqlite3* m_db = nullptr;
  bool m_writable = false;
  std::string m_readOnlyReason;
  // Why the last attempt to open failed, in a few words.
  std::string m_failure;
  std::string (*m_fold)(std::string_view) = &FoldName;
  int m_depth = 0;
  // AssocStore objects alive on this connection; while there are any, their reads share
  // one read transaction instead of locking the file for every statement.
  int m_holders = 0;
  // A key this connection created or wrote to in the open write transaction.
  int64_t m_liveKey = 0;
  bool m_implicitRead = false;
  std::vector<Statement> m_stmts;
};

std::mutex g_pathMutex;
std::string g_storePath;

std::shared_ptr<RegistryEngine> InstalledStore() {
  std::string path;
  {
    std::lock_guard lock(g_pathMutex);
    path = g_storePath;
  }
  return SqliteStoreForThread(path);
}

thread_local std::unordered_map<std::string, std::shared_ptr<RegistryEngine>> t_stores;

}  // namespace

std::string DefaultStorePath() {
  if (const char* env = std::getenv("KESTROVA_STORE"); env && *env) return env;
  return KestrovaDataDir() + "/registry.db";
}

bool StoreReadOnlyRequested() {
  const char* env = std::getenv("KESTROVA_STORE_READONLY");
  return env && std::strcmp(env, "1") == 0;
}

std::shared_ptr<RegistryEngine> OpenSqliteStore(const std::string& path) {
  // SQLite's allocation statistics take a global mutex on every allocation; we read none.
  // This must precede SQLite's initialisation, so it is done before the first connection.
  static std::once_flag configured;
  std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  return std::make_shared<SqliteEngine>(path);
}

std::shared_ptr<RegistryEngine> SqliteStoreForThread(const std::string& path) {
  auto& slot = t_stores[path];
  if (!slot) slot = OpenSqliteStore(path);
  return slot;
}

void ReleaseSqliteStoreForThread(const std::string& path) { t_stores.erase(path); }

void UseSqliteStore(const std::string& path) {
  {
    std::lock_guard lock(g_pathMutex);
    g_storePath = path;
  }
  SetEngineFactory(&InstalledStore);
}

}  // namespace kestrova
