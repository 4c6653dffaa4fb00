// The SQLite engine: files, processes, refusal and ordering.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/SqliteStore.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::ErrorKindOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Why the store at path did not open: its kind and message (Other and "" when it opened).
struct OpenFailure {
  StoreErrorKind kind = StoreErrorKind::Other;
  std::string message;
};

OpenFailure OpenError(const std::string& path) {
  try {
    OpenSqliteStore(path);
  } catch (const StoreOpenError& e) {
    return {e.Kind(), e.what()};
  }
  return {};
}

TEST(Engine, CreatesTheStoreAndItsDirectories) {
  TempDir dir;
  const std::string path = dir.File("a/b/registry.db");
  auto engine = OpenSqliteStore(path);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_TRUE(engine->Writable());
  std::vector<std::string> roots;
  engine->ListChildren(engine->Root(RootKey::LocalMachine), roots);
  EXPECT_EQ(roots, std::vector<std::string>{"SOFTWARE"});
  // Reopening finds the same store.
  auto again = OpenSqliteStore(path);
  EXPECT_EQ(again->Root(RootKey::ClassesRoot).id, engine->Root(RootKey::ClassesRoot).id);
}

TEST(Engine, ForeignOrDamagedFilesAreReportedAndLeftAsTheyAre) {
  TempDir dir;
  const std::string text = dir.File("notes.txt");
  WriteFile(text, "not a store at all, just some text that is long enough to look like a header");
  const OpenFailure foreign = OpenError(text);
  EXPECT_EQ(foreign.kind, StoreErrorKind::Damaged);
  EXPECT_NE(foreign.message.find(text), std::string::npos);  // the message names the file
  EXPECT_EQ(ReadFile(text),
            "not a store at all, just some text that is long enough to look like a header");

  // Another program's database.
  const std::string other = dir.File("other.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE songs(title TEXT); INSERT INTO songs VALUES('a')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = ReadFile(other);
  EXPECT_EQ(OpenError(other).kind, StoreErrorKind::Damaged);
  EXPECT_EQ(ReadFile(other), before);

  // A store whose header was overwritten.
  const std::string damaged = dir.File("damaged.db");
  {
    OpenSqliteStore(damaged)->CreateChild(OpenSqliteStore(damaged)->Root(RootKey::ClassesRoot),
                                          ".txt");
  }
  std::string bytes = ReadFile(damaged);
  ASSERT_GT(bytes.size(), 100u);
  for (int i = 0; i < 16; ++i) bytes[i] = 'X';
  WriteFile(damaged, bytes);
  const OpenFailure broken = OpenError(damaged);
  EXPECT_EQ(broken.kind, StoreErrorKind::Damaged);
  EXPECT_NE(broken.message.find(damaged), std::string::npos);
  EXPECT_EQ(ReadFile(damaged), bytes);

  // A directory in the file's place: no kind of its own, so the message tells.
  EXPECT_NE(OpenError(dir.Path()).message.find("is not a file"), std::string::npos);
}

TEST(Engine, ReadOnlyStoreReadsAndRefusesEveryWrite) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  {
    AssocStore s(OpenSqliteStore(path));
    s.SetRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(s.OpenPath("\\.txt", true));
    s.PutText("", "txtfile");
  }
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  auto engine = OpenSqliteStore(path);
  unsetenv("KESTROVA_STORE_READONLY");
  EXPECT_FALSE(engine->Writable());

  AssocStore full(engine);
  full.SetRoot(RootKey::ClassesRoot);
  EXPECT_TRUE(full.OpenPath("\\.txt", false));  // opened for reading only
  EXPECT_EQ(full.GetText(""), "txtfile");
  EXPECT_TRUE(full.OpenPath("\\", false));
  EXPECT_FALSE(full.OpenPath("\\.new", true));
  EXPECT_TRUE(full.HasPath("\\.txt"));
  EXPECT_FALSE(full.RemovePath("\\.txt"));
  EXPECT_THROW(full.CreatePath("\\.new"), ERegistryException);
  EXPECT_THROW(full.PutText("", "x"), ERegistryException);

  AssocStore reader(engine, AssocStore::Access::ReadOnly);
  reader.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(reader.OpenPath("\\.txt", false));
  EXPECT_EQ(reader.GetText(""), "txtfile");
  EXPECT_THROW(reader.PutText("", "x"), ERegistryException);

  const KeyRef classes = engine->Root(RootKey::ClassesRoot);
  EXPECT_EQ(ErrorKindOf([&] { engine->CreateChild(classes, ".new"); }), StoreErrorKind::ReadOnly);
  EXPECT_EQ(ErrorKindOf([&] { engine->DeleteChild(classes, ".txt"); }), StoreErrorKind::ReadOnly);
  EXPECT_FALSE(engine->FindChild(classes, ".new"));
  EXPECT_TRUE(engine->FindChild(classes, ".txt"));
}

// Each process writes its own values through its own connection while the other writes.
TEST(Engine, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  OpenSqliteStore(path);  // created before the race
  constexpr int kWrites = 300;
  auto writer = [&](const std::string& who) {
    AssocStore s(OpenSqliteStore(path));
    s.SetRoot(RootKey::ClassesRoot);
    for (int i = 0; i < kWrites; ++i) {
      if (!s.OpenPath("\\shared\\" + who + std::to_string(i % 7), true)) return false;
      s.PutText(who + std::to_string(i), std::to_string(i));
      if (i % 50 == 0) s.RemovePath("\\scratch" + who);
    }
    return true;
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool ok = false;
    try {
      ok = writer("child");
    } catch (...) {
    }
    _exit(ok ? 0 : 1);
  }
  const bool parentOk = writer("parent");
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(parentOk);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  AssocStore s(OpenSqliteStore(path));
  s.SetRoot(RootKey::ClassesRoot);
  for (const std::string who : {"child", "parent"}) {
    for (int i = 0; i < kWrites; ++i) {
      ASSERT_TRUE(s.OpenPath("\\shared\\" + who + std::to_string(i % 7), false));
      EXPECT_EQ(s.GetText(who + std::to_string(i)), std::to_string(i)) << who << i;
    }
  }
}

TEST(Engine, SubkeysAreListedInCaseFoldedOrderAndValuesInCreationOrder) {
  TempDir dir;
  auto engine = OpenSqliteStore(dir.File("registry.db"));
  const KeyRef root = engine->Root(RootKey::CurrentUser);
  for (const char* name : {"b", "_x", "Ä", "ax", "A", "ab"}) engine->CreateChild(root, name);
  std::vector<std::string> names;
  engine->ListChildren(root, names);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "ab", "ax", "b", "_x", "Ä"}));
  // Lower and upper case of a non-ASCII letter are one name.
  EXPECT_EQ(engine->CreateChild(root, "ä").id, engine->FindChild(root, "Ä")->id);

  const KeyRef key = engine->CreateChild(root, "vals");
  for (const char* name : {"zeta", "Alpha", "", "mid"})
    engine->SetValue(key, name, RegType::Sz, "x");
  engine->SetValue(key, "ALPHA", RegType::Dword, "1234");  // replaced in place, name kept
  std::vector<RegValue> values;
  engine->ListValues(key, values);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].name, "zeta");
  EXPECT_EQ(values[1].name, "Alpha");
  EXPECT_EQ(values[1].type, RegType::Dword);
  EXPECT_EQ(values[2].name, "");
  EXPECT_EQ(values[3].name, "mid");
}

TEST(Engine, NamesAreTextAndNulIsRefused) {
  TempDir dir;
  auto engine = OpenSqliteStore(dir.File("registry.db"));
  const KeyRef root = engine->Root(RootKey::CurrentUser);
  EXPECT_EQ(ErrorKindOf([&] { engine->CreateChild(root, "caf\xe9"); }),  // not UTF-8
            StoreErrorKind::InvalidText);
  const KeyRef k = engine->CreateChild(root, "caf\xc3\xa9");
  EXPECT_EQ(engine->FindChild(root, "CAF\xc3\x89")->id, k.id);
  EXPECT_FALSE(engine->FindChild(root, "CAF\xe9"));
  EXPECT_EQ(ErrorKindOf([&] { engine->CreateChild(root, std::string("a\0b", 3)); }),
            StoreErrorKind::Limit);
  EXPECT_EQ(ErrorKindOf([&] { engine->SetValue(k, std::string("a\0b", 3), RegType::Sz, ""); }),
            StoreErrorKind::Limit);
  engine->SetValue(k, "bin", RegType::Binary, std::string("\0\1\0", 3));
  EXPECT_EQ(engine->GetValue(k, "BIN")->data, std::string("\0\1\0", 3));
}

TEST(Engine, TransactionsRollBackAsAWhole) {
  TempDir dir;
  auto engine = OpenSqliteStore(dir.File("registry.db"));
  const KeyRef root = engine->Root(RootKey::CurrentUser);
  {
    EngineTransaction outer(*engine, true);
    engine->CreateChild(root, "kept");
    {
      EngineTransaction inner(*engine, true);
      engine->CreateChild(root, "inner");
    }  // rolled back alone
    outer.Commit();
  }
  EXPECT_TRUE(engine->FindChild(root, "kept"));
  EXPECT_FALSE(engine->FindChild(root, "inner"));
  {
    EngineTransaction outer(*engine, true);
    engine->CreateChild(root, "dropped");
  }
  EXPECT_FALSE(engine->FindChild(root, "dropped"));
}

}  // namespace
}  // namespace kestrova
