#include "platform/SqliteStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "store/RegistryRules.h"

namespace kestrova {
namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 8000;
constexpr const char* kFormatTag = "kestrova-store";

// The four trees of the store, with fixed ids; HKEY_CLASSES_ROOT lies inside the first.
constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;
constexpr int64_t kUsersId = 3;
constexpr int64_t kCurrentConfigId = 4;
constexpr int64_t kClassesRootId = 6;
// The trees, SOFTWARE and SOFTWARE\Classes: the store's frame, never deleted.
constexpr int64_t kLastFrameId = 6;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS kestrova_meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS keys(
  parent INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  id INTEGER NOT NULL,
  PRIMARY KEY(parent, fold)) WITHOUT ROWID;
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_id ON keys(id);
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  fold BLOB NOT NULL,
  name BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_key ON vals(key, fold);
INSERT OR IGNORE INTO keys VALUES (0, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB), 1);
INSERT OR IGNORE INTO keys VALUES (0, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB), 2);
INSERT OR IGNORE INTO keys VALUES (0, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB), 3);
INSERT OR IGNORE INTO keys VALUES (0, CAST('HKEY_CURRENT_CONFIG' AS BLOB), CAST('HKEY_CURRENT_CONFIG' AS BLOB), 4);
INSERT OR IGNORE INTO keys VALUES (1, CAST('SOFTWARE' AS BLOB), CAST('SOFTWARE' AS BLOB), 5);
INSERT OR IGNORE INTO keys VALUES (5, CAST('CLASSES' AS BLOB), CAST('Classes' AS BLOB), 6);
)sql";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// A prepared statement, reset after every use so it can be run again.
class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK) {
      const std::string msg = sqlite3_errmsg(db);
      sqlite3_finalize(m_stmt);
      m_stmt = nullptr;
      throw StoreError("The store could not prepare a query: " + msg);
    }
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
  Statement& operator=(Statement&& other) noexcept {
    std::swap(m_stmt, other.m_stmt);
    return *this;
  }
  sqlite3_stmt* get() const { return m_stmt; }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

// Binds, runs and resets one statement; the reset happens on every way out.
class Run {
 public:
  explicit Run(const Statement& s) : m_stmt(s.get()) {}
  ~Run() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  Run& Int(int i, int64_t v) {
    sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Run& Blob(int i, std::string_view v) {
    // A null pointer would bind SQL NULL instead of an empty blob.
    sqlite3_bind_blob(m_stmt, i, v.data() ? v.data() : "", static_cast<int>(v.size()),
                      SQLITE_STATIC);
    return *this;
  }
  int Step() { return sqlite3_step(m_stmt); }
  int64_t ColInt(int c) const { return sqlite3_column_int64(m_stmt, c); }
  std::string ColBlob(int c) const {
    const void* p = sqlite3_column_blob(m_stmt, c);
    const int n = sqlite3_column_bytes(m_stmt, c);
    return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
  }

 private:
  sqlite3_stmt* m_stmt;
};

class SqliteEngine final : public RegistryEngine {
 public:
  SqliteEngine(const std::string& path) : m_path(path) { Open(); }
  ~SqliteEngine() override {
    m_stmts.clear();
    sqlite3_close_v2(m_db);
  }

  const std::string& Location() const override { return m_path; }
  bool Writable() const override { return m_writable; }

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
    const std::string fold = FoldName(name);
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
      throw StoreError("The key name \"" + std::string(name) +
                       "\" is not valid: a key name has 1 to 255 characters, no backslash and no line break.");
    }
    if (parent.depth + 1 > kMaxKeyDepth) {
      throw StoreError("The key \"" + std::string(name) + "\" would lie deeper than " +
                       std::to_string(kMaxKeyDepth) + " levels.");
    }
    const std::string fold = FoldName(name);
    if (m_depth > 0) {
      // Inside a transaction the write lock, once taken, stays until its end: the new id
      // is read after a plain insert. (An insert that selects from its own table, or
      // returns rows, makes SQLite build a temporary table each time.)
      if (parent.id != m_liveKey && !ExistsId(parent.id)) {
        throw StoreError("The key \"" + std::string(name) +
                         "\" could not be created: its parent key was deleted meanwhile.");
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
    throw StoreError("The key \"" + std::string(name) +
                     "\" could not be created: its parent key was deleted meanwhile.");
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
      throw StoreError("The key \"" + std::string(name) + "\" is a root of the store.");
    }
    m_liveKey = 0;
    Exec(S(kClearDoomed));
    {
      Run q(S(kCollectSubtree));
      q.Int(1, child->id);
      const int rc = q.Step();
      if (rc != SQLITE_DONE) ThrowError(rc);
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
    const std::string fold = FoldName(name);
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
    const std::string fold = FoldName(name);
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
      throw StoreError("The value name is not valid: it has more than 16,383 characters or a NUL.");
    }
    if (data.size() > kMaxValueData) {
      throw StoreError("The data of the value \"" + std::string(name) +
                       "\" is larger than 1 MiB.");
    }
    const std::string fold = FoldName(name);
    // Inside a write transaction a key seen alive stays alive unless this connection
    // deletes it, so its existence is checked once, not for every value.
    const bool known = m_depth > 0 && key.id == m_liveKey;
    Run q(S(known ? kSetValueKnownKey : kSetValue));
    q.Int(1, key.id).Blob(2, fold).Blob(3, name).Int(4, type).Blob(5, data);
    const int rc = q.Step();
    if (rc != SQLITE_DONE) ThrowError(rc);
    if (sqlite3_changes(m_db) == 0) {
      throw StoreError("The key of the value \"" + std::string(name) +
                       "\" was deleted meanwhile.");
    }
    if (m_depth > 0) m_liveKey = key.id;
  }

  bool DeleteValue(KeyRef key, std::string_view name) override {
    RequireWritable();
    if (!key || !IsValidValueName(name)) return false;
    const std::string fold = FoldName(name);
    Run q(S(kDeleteValue));
    q.Int(1, key.id).Blob(2, fold);
    const int rc = q.Step();
    if (rc != SQLITE_DONE) ThrowError(rc);
    return sqlite3_changes(m_db) > 0;
  }

  void Begin(bool write) override {
    EndImplicitRead();
    if (m_depth == 0) {
      const int rc = sqlite3_exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
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
        return "INSERT INTO temp.doomed(id) "
               "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
               "SELECT k.id FROM keys k JOIN sub ON k.parent=sub.id) SELECT id FROM sub";
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
    if (!s.get()) s = Statement(m_db, Sql(id));
    return s;
  }

  void Exec(const Statement& s) {
    Run q(s);
    const int rc = q.Step();
    if (rc != SQLITE_DONE) ThrowError(rc);
  }

  void ExecSql(const char* sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &err);
    if (err) sqlite3_free(err);
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
      throw StoreError("The store " + Quoted(m_path) + " is read-only; nothing was changed.");
    }
  }

  [[noreturn]] void ThrowError(int rc) const {
    const int primary = rc & 0xFF;
    const std::string detail = sqlite3_errmsg(m_db);
    switch (primary) {
      case SQLITE_FULL:
        throw StoreError("The disk is full: the store " + Quoted(m_path) + " could not be written.");
      case SQLITE_READONLY:
      case SQLITE_PERM:
        throw StoreError("The store " + Quoted(m_path) + " cannot be written.");
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        throw StoreError("The store " + Quoted(m_path) +
                         " is busy: another program kept it locked for too long.");
      case SQLITE_CORRUPT:
      case SQLITE_NOTADB:
        throw StoreError("The store file " + Quoted(m_path) + " is damaged.");
      case SQLITE_IOERR:
        if (rc == SQLITE_IOERR_WRITE || rc == SQLITE_IOERR_FSYNC || rc == SQLITE_IOERR_TRUNCATE) {
          // A file-size limit or a full disk shows up as a failed write.
          throw StoreError("The store " + Quoted(m_path) + " could not be written: " + detail + ".");
        }
        [[fallthrough]];
      default:
        throw StoreError("The store " + Quoted(m_path) + " failed: " + detail + ".");
    }
  }

  void Open() {
    std::error_code ec;
    const std::filesystem::path file(m_path);
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    struct stat st {};
    const bool exists = ::stat(m_path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
      throw StoreOpenError("The store " + Quoted(m_path) + " is not a file.");
    }
    const bool fresh = !exists || st.st_size == 0;
    m_writable = !StoreReadOnlyRequested() && (!exists || ::access(m_path.c_str(), W_OK) == 0);
    const int flags = (exists && ::access(m_path.c_str(), W_OK) != 0)
                          ? SQLITE_OPEN_READONLY
                          : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(m_path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string detail = m_db ? sqlite3_errmsg(m_db) : "out of memory";
      sqlite3_close_v2(m_db);
      m_db = nullptr;
      throw StoreOpenError("The store " + Quoted(m_path) + " could not be opened: " + detail + ".");
    }
    try {
      sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
      sqlite3_extended_result_codes(m_db, 1);
      if (fresh) {
        if (flags & SQLITE_OPEN_READONLY) {
          throw StoreOpenError("The store " + Quoted(m_path) + " is empty and cannot be written.");
        }
        ExecSql("PRAGMA journal_mode=WAL");
        ExecSql("BEGIN IMMEDIATE");
        ExecSql(kSchema);
        ExecSql(("INSERT OR IGNORE INTO kestrova_meta VALUES ('format', '" + std::string(kFormatTag) +
                 "'), ('schema', " + std::to_string(kSchemaVersion) + ")")
                    .c_str());
        ExecSql("COMMIT");
      }
      CheckFormat();
      if (!fresh && !(flags & SQLITE_OPEN_READONLY)) ExecSql("PRAGMA journal_mode=WAL");
      ExecSql("PRAGMA synchronous=NORMAL");
      ExecSql("PRAGMA temp_store=MEMORY");
      // Reads come straight from the mapped file instead of a system call per page.
      ExecSql("PRAGMA mmap_size=1073741824");
      ExecSql("PRAGMA cache_size=-16384");
      ExecSql("CREATE TEMP TABLE IF NOT EXISTS doomed(id INTEGER PRIMARY KEY)");
    } catch (const StoreOpenError&) {
      Close();
      throw;
    } catch (const StoreError& e) {
      Close();
      throw StoreOpenError("The store " + Quoted(m_path) + " could not be opened: " + e.what());
    }
    m_stmts.resize(kStmtCount);
  }

  // A file that is not ours is reported and left exactly as it is.
  void CheckFormat() {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "SELECT value FROM kestrova_meta WHERE name='format' OR name='schema' ORDER BY name",
                                -1, &stmt, nullptr);
    std::string format;
    int64_t schema = 0;
    if (rc == SQLITE_OK) {
      if ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(stmt, 0);
        format = t ? reinterpret_cast<const char*>(t) : "";
        if ((rc = sqlite3_step(stmt)) == SQLITE_ROW) schema = sqlite3_column_int64(stmt, 0);
      }
    }
    sqlite3_finalize(stmt);
    const int primary = rc & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) ThrowError(rc);
    if (format != kFormatTag) {
      throw StoreOpenError("The file " + Quoted(m_path) +
                           " is damaged or is not a Kestrova store; it was left as it is.");
    }
    if (schema > kSchemaVersion) {
      throw StoreOpenError("The store " + Quoted(m_path) +
                           " was made by a newer version of Kestrova.");
    }
  }

  void Close() {
    m_stmts.clear();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
  }

  std::string m_path;
  sqlite3* m_db = nullptr;
  bool m_writable = false;
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
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  } else {
    base = ".";
  }
  return base + "/kestrova/registry.db";
}

bool StoreReadOnlyRequested() {
  const char* env = std::getenv("KESTROVA_STORE_READONLY");
  return env && std::strcmp(env, "1") == 0;
}

std::shared_ptr<RegistryEngine> OpenSqliteStore(const std::string& path) {
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
