// Opening the store: what each failure says, what a read-only open leaves alone, the
// Unicode the store holds, and how names match.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QChar>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/SqliteStore.h"
#include "store/AssocStore.h"
#include "store/RegistryRules.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::ErrorKindOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace fs = std::filesystem;

struct OpenOutcome {
  bool opened = false;
  StoreErrorKind kind = StoreErrorKind::Other;
  std::string message;
};

OpenOutcome TryOpen(const std::string& path) {
  try {
    OpenSqliteStore(path);
    return {true, StoreErrorKind::Other, ""};
  } catch (const StoreOpenError& e) {
    return {false, e.Kind(), e.what()};
  }
}

// Runs SQL on a file directly, as another program or a damaged disk would leave it.
void Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

void MakeStore(const std::string& path) {
  AssocStore s(OpenSqliteStore(path));
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.OpenPath("\\.txt", true));
  s.PutText("", "txtfile");
}

class ReadOnlyRequest {
 public:
  ReadOnlyRequest() { setenv("KESTROVA_STORE_READONLY", "1", 1); }
  ~ReadOnlyRequest() { unsetenv("KESTROVA_STORE_READONLY"); }
};

// Runs `body` in a child process prepared by `setUp`; the child's exit status is the body's.
int InChild(const std::function<void()>& setUp, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    setUp();
    int status = 91;
    try {
      status = body();
    } catch (...) {
    }
    _exit(status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// As an unprivileged user, where file modes hold even when the tests run as root.
int AsNobody(const std::function<int()>& body) {
  return InChild(
      [] {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
      },
      body);
}

// With files that may not grow: a file-size limit stands in for a full disk.
int WithFullDisk(const std::function<int()>& body) {
  return InChild(
      [] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
      },
      body);
}

// 0: opened read-only and read the data; 1 + kind when the open failed; 80s: other.
int ReadOnlyReadsAs(const std::string& path) {
  try {
    auto engine = OpenSqliteStore(path);
    if (engine->Writable()) return 80;
    if (engine->ReadOnlyReason().empty()) return 81;
    AssocStore s(engine);
    s.SetRoot(RootKey::ClassesRoot);
    if (!s.OpenPath("\\.txt", false) || s.GetText("") != "txtfile") return 82;
    try {
      s.PutText("", "x");
      return 83;
    } catch (const ERegistryException&) {
    }
    return 0;
  } catch (const StoreOpenError& e) {
    return 1 + static_cast<int>(e.Kind());
  }
}

TEST(StoreOpen, ReadOnlyStoresReadEverythingAndRefuseEveryWrite) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  MakeStore(path);
  ReadOnlyRequest readOnly;
  auto engine = OpenSqliteStore(path);
  EXPECT_FALSE(engine->Writable());
  EXPECT_NE(engine->ReadOnlyReason().find("KESTROVA_STORE_READONLY"), std::string::npos);

  // Opens for full access open existing keys for reading.
  AssocStore full(engine);
  full.SetRoot(RootKey::ClassesRoot);
  EXPECT_FALSE(full.Writable());
  ASSERT_TRUE(full.OpenPath("\\.txt", false));
  EXPECT_EQ(full.GetText(""), "txtfile");
  EXPECT_THROW(full.PutText("", "x"), ERegistryException);
  EXPECT_THROW(full.PutDword("n", 1), ERegistryException);
  EXPECT_FALSE(full.RemoveValue(""));
  EXPECT_TRUE(full.OpenPath("\\.txt", true));  // exists: opened for reading
  EXPECT_FALSE(full.OpenPath("\\.new", true));
  EXPECT_FALSE(full.HasPath("\\.new"));
  EXPECT_THROW(full.CreatePath("\\.new"), ERegistryException);
  EXPECT_FALSE(full.RemovePath("\\.txt"));
  EXPECT_TRUE(full.HasPath("\\.txt"));
  EXPECT_EQ(ErrorKindOf([&] { engine->CreateChild(engine->Root(RootKey::ClassesRoot), ".new"); }),
            StoreErrorKind::ReadOnly);

  // A missing store is not made, nor its folders.
  const OpenOutcome missing = TryOpen(dir.File("new/deeper/registry.db"));
  EXPECT_FALSE(missing.opened);
  EXPECT_EQ(missing.kind, StoreErrorKind::ReadOnly);
  EXPECT_FALSE(fs::exists(dir.File("new")));
}

TEST(StoreOpen, FailuresSayWhatHappenedAndReadWhereReadingIsPossible) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  const std::string folder = dir.File("store");
  const std::string path = folder + "/registry.db";
  fs::create_directories(folder);
  MakeStore(path);
  for (const char* f : {"", "-wal", "-shm"}) chmod((path + f).c_str(), 0666);
  chmod(folder.c_str(), 0777);

  // A store file that may not be written: read.
  chmod(path.c_str(), 0444);
  EXPECT_EQ(AsNobody([&] { return ReadOnlyReadsAs(path); }), 0);
  // A folder that may not be written and no log files the user may write: read.
  chmod(path.c_str(), 0666);
  chmod((path + "-wal").c_str(), 0644);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(AsNobody([&] { return ReadOnlyReadsAs(path); }), 0);
  // No permission to read the file, or to reach the folder: said so, never "damaged".
  chmod(path.c_str(), 0600);
  EXPECT_EQ(AsNobody([&] { return ReadOnlyReadsAs(path); }),
            1 + static_cast<int>(StoreErrorKind::Permission));
  chmod(path.c_str(), 0666);
  chmod(folder.c_str(), 0700);
  EXPECT_EQ(AsNobody([&] { return ReadOnlyReadsAs(path); }),
            1 + static_cast<int>(StoreErrorKind::Permission));
  // A missing store in a folder the user may not write.
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(AsNobody([&] { return ReadOnlyReadsAs(folder + "/other.db"); }),
            1 + static_cast<int>(StoreErrorKind::Permission));
  EXPECT_FALSE(fs::exists(folder + "/other.db"));
  chmod(folder.c_str(), 0777);
  // A full disk: the store cannot even take its shared-memory index, and still reads.
  EXPECT_EQ(WithFullDisk([&] { return ReadOnlyReadsAs(path); }), 0);

  // Really damaged: only then "damaged".
  std::string bytes = ReadFile(path);
  for (int i = 0; i < 16; ++i) bytes[i] = 'X';
  WriteFile(path, bytes);
  const OpenOutcome damaged = TryOpen(path);
  EXPECT_EQ(damaged.kind, StoreErrorKind::Damaged);
  EXPECT_NE(damaged.message.find("damaged or is not a Kestrova store"), std::string::npos);
  EXPECT_EQ(ReadFile(path), bytes);
}

// A full disk inside a transaction fails the transaction as Full, whether a write meets it
// (and SQLite rolls the whole transaction back by itself) or the commit does.
TEST(StoreOpen, AFullDiskFailsTheTransactionAsFull) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  MakeStore(path);
  const int status = InChild(
      [] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 600 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
      },
      [&] {
        auto engine = OpenSqliteStore(path);
        const KeyRef classes = engine->Root(RootKey::ClassesRoot);
        const std::string data(1000 * 1000, 'x');
        const auto kind = ErrorKindOf([&] {
          EngineTransaction tx(*engine, true);
          const KeyRef key = engine->CreateChild(classes, "big");
          std::optional<StoreErrorKind> failed;
          for (int i = 0; i < 40 && !failed; ++i) {
            failed = ErrorKindOf(
                [&] { engine->SetValue(key, "v" + std::to_string(i), RegType::Binary, data); });
          }
          if (failed && *failed != StoreErrorKind::Full) _exit(40 + static_cast<int>(*failed));
          tx.Commit();
        });
        return kind ? 1 + static_cast<int>(*kind) : 70;
      });
  EXPECT_EQ(status, 1 + static_cast<int>(StoreErrorKind::Full));
  auto engine = OpenSqliteStore(path);
  EXPECT_FALSE(engine->FindChild(engine->Root(RootKey::ClassesRoot), "big"));
}

TEST(StoreOpen, ACreationThatFailsLeavesNothingAndTheNextOneWorks) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 2048;  // the file-size limit stands in for a full disk
    setrlimit(RLIMIT_FSIZE, &limit);
    const OpenOutcome o = TryOpen(path);
    if (!o.opened && o.kind != StoreErrorKind::Full) fprintf(stderr, "%s\n", o.message.c_str());
    _exit(o.opened ? 10 : o.kind == StoreErrorKind::Full ? 0 : 11);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::is_empty(dir.Path())) << "a half-made store or temporary file was left";
  EXPECT_TRUE(TryOpen(path).opened);

  // What older versions left on a full disk: one page with no tables. Recreated.
  const std::string left = dir.File("left.db");
  Sql(left, "PRAGMA journal_mode=WAL; PRAGMA user_version=1");
  fs::remove(left + "-wal");
  fs::remove(left + "-shm");
  ASSERT_LE(fs::file_size(left), 4096u);
  EXPECT_TRUE(TryOpen(left).opened);
  AssocStore s(OpenSqliteStore(left));
  s.SetRoot(RootKey::ClassesRoot);
  EXPECT_TRUE(s.OpenPath("\\.x", true));
  // An empty file, too; but not a small file of text.
  WriteFile(dir.File("empty.db"), "");
  EXPECT_TRUE(TryOpen(dir.File("empty.db")).opened);
  WriteFile(dir.File("note.db"), "hello");
  EXPECT_EQ(TryOpen(dir.File("note.db")).kind, StoreErrorKind::Damaged);
  EXPECT_EQ(ReadFile(dir.File("note.db")), "hello");
}

TEST(StoreOpen, AnotherProgramsDatabaseWithAPendingLogIsLeftByteForByte) {
  TempDir dir;
  const std::string other = dir.File("songs.db");
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(writer,
                   "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE songs(t); "
                   "INSERT INTO songs VALUES('a')",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  // The other program ends without a checkpoint: its log stays pending.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  int persist = 1;
  sqlite3_file_control(writer, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  const std::string db = ReadFile(other);
  const std::string wal = ReadFile(other + "-wal");
  ASSERT_GT(wal.size(), 0u);
  const OpenOutcome o = TryOpen(other);
  EXPECT_EQ(o.kind, StoreErrorKind::Damaged);
  EXPECT_NE(o.message.find("left as it is"), std::string::npos);
  EXPECT_EQ(ReadFile(other), db);
  EXPECT_EQ(ReadFile(other + "-wal"), wal);
  sqlite3_close(writer);
}

TEST(StoreOpen, TheStoreHoldsValidUnicodeAndShowsOldDamageWithoutRewritingIt) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  auto engine = OpenSqliteStore(path);
  const KeyRef root = engine->Root(RootKey::ClassesRoot);
  const std::string cafe = "Caf\xe9";
  EXPECT_EQ(ErrorKindOf([&] { engine->CreateChild(root, cafe); }), StoreErrorKind::InvalidText);
  const KeyRef k = engine->CreateChild(root, "Caf\xc3\xa9");
  for (uint32_t type : {RegType::Sz, RegType::ExpandSz, RegType::MultiSz}) {
    EXPECT_EQ(ErrorKindOf([&] { engine->SetValue(k, "v", type, cafe + '\0'); }),
              StoreErrorKind::InvalidText);
  }
  EXPECT_EQ(ErrorKindOf([&] { engine->SetValue(k, cafe, RegType::Dword, "1234"); }),
            StoreErrorKind::InvalidText);
  engine->SetValue(k, "bin", RegType::Binary, cafe);  // bytes, not text
  EXPECT_FALSE(engine->GetValue(k, "v"));

  AssocStore s(engine);
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.OpenPath("\\Caf\xc3\x89", false));  // É matches é
  EXPECT_THROW(s.PutText("v", cafe), ERegistryException);
  s.PutText("v", "Caf\xc3\xa9");

  // Bytes an older version let in: shown replaced, and left as they are.
  Sql(path, "UPDATE vals SET data = X'436166E900' WHERE name = CAST('v' AS BLOB)");
  const std::string before = ReadFile(path);
  EXPECT_EQ(s.GetText("v"), "Caf\xef\xbf\xbd");
  EXPECT_EQ(s.SizeOfValue("v"), 5);
  std::vector<RegValue> values;
  engine->ListValues(k, values);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[1].data, std::string("Caf\xe9\0", 5));
  EXPECT_EQ(ReadFile(path), before);

  // The registry's own count: UTF-16 bytes with the terminator.
  EXPECT_EQ(RegistryDataSize(RegType::Sz, std::string("ab\0", 3)), 6u);
  EXPECT_EQ(RegistryDataSize(RegType::Sz, "ab"), 6u);
  EXPECT_EQ(RegistryDataSize(RegType::MultiSz, std::string("\xf0\x90\x90\x80\0\0", 6)), 8u);
  EXPECT_EQ(RegistryDataSize(RegType::Binary, "ab"), 2u);
  std::string cjk;
  while (cjk.size() < 800 * 1024) cjk += "\xe4\xb8\xad";  // 800 KB of UTF-8, 546 KB of UTF-16
  EXPECT_NO_THROW(engine->SetValue(k, "cjk", RegType::Sz, cjk + '\0'));
  EXPECT_EQ(
      ErrorKindOf([&] { engine->SetValue(k, "ascii", RegType::Sz, std::string(512 * 1024, 'a')); }),
      StoreErrorKind::Limit);
}

TEST(StoreOpen, NamesMatchByCodeUnitAsTheRegistryDoes) {
  TempDir dir;
  auto engine = OpenSqliteStore(dir.File("registry.db"));
  const KeyRef root = engine->Root(RootKey::CurrentUser);
  // Pairs the registry keeps apart, and pairs it matches.
  const std::pair<const char*, const char*> apart[] = {
      {"\xc4\xb1", "I"},
      {"\xc4\xb1", "i"},
      {"\xc5\xbf", "s"},
      {"\xcf\x82", "\xcf\x83"},
      {"\xc2\xb5", "\xce\xbc"},
      {"\xf0\x90\x90\xa8", "\xf0\x90\x90\x80"},  // Deseret: outside the code units' mapping
  };
  for (const auto& [a, b] : apart) {
    const KeyRef ka = engine->CreateChild(root, a);
    EXPECT_NE(engine->CreateChild(root, b).id, ka.id) << a << " / " << b;
  }
  const std::pair<const char*, const char*> same[] = {
      {"\xc3\xa9", "\xc3\x89"}, {"\xcf\x83", "\xce\xa3"}, {"i", "I"}};
  for (const auto& [a, b] : same) {
    const KeyRef ka = engine->CreateChild(root, a);
    const auto kb = engine->FindChild(root, b);
    ASSERT_TRUE(kb) << a << " / " << b;
    EXPECT_EQ(kb->id, ka.id);
  }

  // Listed by UTF-16 code units: a supplementary character (surrogates D800..DFFF) before
  // U+FF21, where code point order would put it after.
  const KeyRef list = engine->CreateChild(root, "list");
  for (const char* name : {"\xef\xbd\x81", "\xf0\x9f\x98\x80", "b", "_x", "A"})
    engine->CreateChild(list, name);
  std::vector<std::string> names;
  engine->ListChildren(list, names);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "_x", "\xf0\x9f\x98\x80", "\xef\xbd\x81"}));

  // Every code unit that the new rule matches with another was matched by the old one
  // too, so upgrading a store can never make two siblings one name.
  for (char32_t c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const char16_t folded = FoldCodeUnit(static_cast<char16_t>(c));
    ASSERT_EQ(QChar::toUpper(folded), QChar::toUpper(c)) << std::hex << static_cast<uint32_t>(c);
  }
}

// A store of the first schema: names folded by code point into UTF-8.
void MakeFirstSchemaStore(const std::string& path) {
  MakeStore(path);
  Sql(path,
      "INSERT INTO keys VALUES (6, CAST('IX' AS BLOB), CAST(X'C4B178' AS BLOB), 100);"
      "INSERT INTO vals(key, fold, name, type, data) VALUES (100, CAST('\xc4\xb0' AS BLOB), "
      "CAST('\xc4\xb0' AS BLOB), 1, CAST('dotted' AS BLOB));"
      "UPDATE kestrova_meta SET value = 1 WHERE name = 'schema';"
      "UPDATE keys SET fold = name WHERE id <= 4;"
      "UPDATE keys SET fold = CAST('SOFTWARE' AS BLOB) WHERE id = 5;"
      "UPDATE keys SET fold = CAST('CLASSES' AS BLOB) WHERE id = 6;"
      "UPDATE keys SET fold = CAST('.TXT' AS BLOB) WHERE id > 6 AND id < 100;"
      "UPDATE vals SET fold = name WHERE key < 100;");
}

TEST(StoreOpen, OlderStoresAreRefoldedOnceAndStillReadWhenReadOnly) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  MakeFirstSchemaStore(path);
  {
    // Read-only: found by the old rule, nothing rewritten.
    ReadOnlyRequest readOnly;
    const std::string before = ReadFile(path);
    auto engine = OpenSqliteStore(path);
    const KeyRef classes = engine->Root(RootKey::ClassesRoot);
    EXPECT_TRUE(engine->FindChild(classes, "ix"));
    EXPECT_TRUE(engine->FindChild(classes, ".TXT"));
    engine.reset();
    EXPECT_EQ(ReadFile(path), before);
  }
  auto engine = OpenSqliteStore(path);
  const KeyRef classes = engine->Root(RootKey::ClassesRoot);
  const auto ix = engine->FindChild(classes, "\xc4\xb1X");  // ıX
  ASSERT_TRUE(ix);
  EXPECT_FALSE(engine->FindChild(classes, "ix"));  // no longer merged
  EXPECT_EQ(engine->GetValue(*ix, "\xc4\xb0")->data, "dotted");
  EXPECT_FALSE(engine->GetValue(*ix, "i"));
  AssocStore s(engine);
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.OpenPath("\\.Txt", false));
  EXPECT_EQ(s.GetText(""), "txtfile");
  engine.reset();
  s.ClosePath();
  // Once: the schema says so.
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT value FROM kestrova_meta WHERE name='schema'", -1, &stmt, nullptr);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 2);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST(StoreOpen, DeletingInAKeyTreeThatLoopsEndsAndReportsTheDamage) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  {
    auto engine = OpenSqliteStore(path);
    const KeyRef a = engine->CreateChild(engine->Root(RootKey::ClassesRoot), "a");
    engine->CreateChild(engine->CreateChild(a, "b"), "c");
  }
  // c's child is a again: the key tree loops.
  Sql(path,
      "DROP INDEX keys_by_id;"
      "INSERT INTO keys SELECT (SELECT id FROM keys WHERE name = CAST('c' AS BLOB)), X'0041', "
      "CAST('a' AS BLOB), id FROM keys WHERE name = CAST('a' AS BLOB)");
  auto engine = OpenSqliteStore(path);
  const KeyRef classes = engine->Root(RootKey::ClassesRoot);
  EXPECT_EQ(ErrorKindOf([&] { engine->DeleteChild(classes, "a"); }), StoreErrorKind::Damaged);
  EXPECT_TRUE(engine->FindChild(classes, "a"));
}

}  // namespace
}  // namespace kestrova
