#include "platform/SqliteEngine.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/SqliteFailure.h"
#include "platform/SqliteFiles.h"
#include "platform/SqliteSchema.h"
#include "platform/SqliteStatement.h"
#include "platform/SqliteStore.h"
#include "store/RegistryRules.h"
#include "store/StoreFiles.h"

namespace kestrova::sqlite {
namespace {

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
        throw StoreError("The store " + QuotedForMessage(m_path) + " is damaged: the key \"" +
                             Shown(name) + "\" contains itself. Nothing was deleted.",
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
      throw StoreError("The change to the store " + QuotedForMessage(m_path) +
                           " was rolled back; nothing was written.",
                       m_lastFailureKind);
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
      throw StoreError("The store " + QuotedForMessage(m_path) + " is read-only (" +
                           m_readOnlyReason + "); nothing was changed.",
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

  [[noreturn]] void ThrowError(int rc) {
    // Kept for the rolled-back transaction, which fails for the same reason.
    m_lastFailureKind = FailureOf(m_db, rc).kind;
    ThrowStoreFailure(m_db, m_path, rc);
  }

  void Open() {
    const bool requested = StoreReadOnlyRequested();
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) {
      const int e = errno;
      if (e != ENOENT) {
        ThrowOpen("The store " + QuotedForMessage(m_path) +
                      " cannot be reached: " + ReasonOfErrno(e) + ".",
                  KindOfErrno(e));
      }
      if (requested) {
        // Read-only means nothing is made: no store and no folder.
        ThrowOpen("The store " + QuotedForMessage(m_path) +
                      " does not exist, and KESTROVA_STORE_READONLY=1 keeps it from being created.",
                  StoreErrorKind::ReadOnly);
      }
      CreateStore(m_path, nullptr);
      if (::stat(m_path.c_str(), &st) != 0) {
        const int e2 = errno;
        ThrowOpen("The store " + QuotedForMessage(m_path) +
                      " cannot be reached: " + ReasonOfErrno(e2) + ".",
                  KindOfErrno(e2));
      }
    }
    if (!S_ISREG(st.st_mode))
      ThrowOpen("The store " + QuotedForMessage(m_path) + " is not a file.", StoreErrorKind::Other);

    Probe probe = ProbeStore(m_path, st.st_size);
    if (probe.kind == Probe::Kind::Empty) {
      std::string why;
      if (requested || ::access(m_path.c_str(), W_OK) != 0 || !LogFilesWritable(m_path, why)) {
        ThrowOpen("The store " + QuotedForMessage(m_path) +
                      " was never completely created and cannot be written here.",
                  StoreErrorKind::ReadOnly);
      }
      CreateStore(m_path, &st);
      if (::stat(m_path.c_str(), &st) != 0)
        ThrowOpen("The store " + QuotedForMessage(m_path) + " vanished.", StoreErrorKind::Other);
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
      if (!readOnly && schema < kFoldByCodeUnit) schema = RefoldNames(m_db, m_path);
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
      throw StoreOpenError(
          "The store " + QuotedForMessage(m_path) + " could not be opened: " + e.what(), e.Kind());
    }
    m_stmts.resize(kStmtCount);
  }

  [[noreturn]] void Fail(int rc, const char* what) {
    const Failure f = FailureOf(m_db, rc);
    m_failure = f.reason;
    ThrowOpen("The store " + QuotedForMessage(m_path) + " " + what + ": " + f.reason + ".", f.kind);
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
  // The kind of the last failed call on the open connection.
  StoreErrorKind m_lastFailureKind = StoreErrorKind::Other;
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

}  // namespace

std::shared_ptr<RegistryEngine> MakeEngine(const std::string& path) {
  return std::make_shared<SqliteEngine>(path);
}

}  // namespace kestrova::sqlite
