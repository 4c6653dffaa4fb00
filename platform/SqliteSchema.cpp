#include "platform/SqliteSchema.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <QChar>
#include <cerrno>
#include <filesystem>
#include <iostream>

#include "platform/SqliteFailure.h"
#include "platform/SqliteFiles.h"
#include "platform/SqliteStatement.h"
#include "store/RegistryRules.h"

namespace kestrova::sqlite {
namespace {

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

void FoldFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* p = static_cast<const char*>(sqlite3_value_blob(argv[0]));
  const int n = sqlite3_value_bytes(argv[0]);
  const std::string fold = FoldName(std::string_view(p ? p : "", static_cast<std::size_t>(n)));
  sqlite3_result_blob(ctx, fold.data(), static_cast<int>(fold.size()), SQLITE_TRANSIENT);
}

void Exec(sqlite3* db, const std::string& path, const char* sql) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowStoreFailure(db, path, rc);
}

}  // namespace

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
    ThrowOpen("The store " + QuotedForMessage(path) + " could not be read: " + f.reason + ".",
              f.kind);
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
    ThrowOpen("The store " + QuotedForMessage(path) + " was made by a newer version of Kestrova.",
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
      ThrowOpen("The store " + QuotedForMessage(path) + " could not be opened: " + f.reason + ".",
                f.kind);
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

void CreateStore(const std::string& path, const struct stat* replacing) {
  const std::string folder = FolderOf(path);
  if (!replacing) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      ThrowOpen("The folder " + QuotedForMessage(folder) +
                    " of the store could not be created: " + ReasonOfErrno(ec.value()) + ".",
                KindOfErrno(ec.value()));
    }
  }
  // A short name of its own: the store's name may already be as long as a name can be.
  std::string temp = folder + "/.kestrova-new-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    const int e = errno;
    ThrowOpen("The store " + QuotedForMessage(path) +
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
    ThrowOpen(
        "The store " + QuotedForMessage(path) + " could not be created: " + failure.reason + ".",
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
    ThrowOpen(
        "The store " + QuotedForMessage(path) + " could not be created: " + ReasonOfErrno(e) + ".",
        KindOfErrno(e));
  }
  // EEXIST: another program created the store meanwhile, and that one is used.
  SyncPath(folder, O_RDONLY | O_DIRECTORY);
}

int64_t RefoldNames(sqlite3* db, const std::string& path) {
  int rc = sqlite3_create_function_v2(db, "kestrova_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                      nullptr, &FoldFunction, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowStoreFailure(db, path, rc);
  Exec(db, path, "BEGIN IMMEDIATE");
  try {
    // Another program may have upgraded it meanwhile.
    const auto now = ReadFormat(db, path);
    if (now && now->schema < kFoldByCodeUnit) {
      Exec(db, path, kRefold);
      Statement q(db, "SELECT value FROM kestrova_meta WHERE name='refold-collisions'", 0);
      Run r(q);
      if (r.Step() == SQLITE_ROW && r.ColInt(0) > 0) {
        std::cerr << "kestrova: " << r.ColInt(0) << " name(s) in " << QuotedForMessage(path)
                  << " matched another after the upgrade of name matching; both were kept.\n";
      }
    }
    Exec(db, path, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return kFoldByCodeUnit;
}

}  // namespace kestrova::sqlite
