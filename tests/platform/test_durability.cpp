// The store under crashes, a full disk and a second process: nothing acknowledged is lost.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "platform/SqliteStore.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"
#include "tools/RegeditCommand.h"

namespace kestrova {
namespace {

using test::TempDir;

std::string IntegrityOf(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::string result = "(no answer)";
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

// Reads the numbers a child acknowledged, one int each, until the pipe closes.
std::vector<int> Acknowledged(int fd) {
  std::vector<int> acks;
  int n;
  while (read(fd, &n, sizeof n) == static_cast<ssize_t>(sizeof n)) acks.push_back(n);
  close(fd);
  return acks;
}

// A child writes values and whole paths without end; it is killed at a random moment. Every
// write it acknowledged must be there, and every path must be whole or absent.
TEST(Durability, KilledWritersLoseNothingAcknowledged) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  OpenSqliteStore(path);
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      AssocStore s(OpenSqliteStore(path));
      s.SetRoot(RootKey::ClassesRoot);
      const std::string base = "\\round" + std::to_string(round);
      for (int i = 0;; ++i) {
        s.OpenPath(base, true);
        s.PutText("v" + std::to_string(i), std::to_string(i));
        s.CreatePath(base + "\\p" + std::to_string(i) + "\\x\\y\\z");
        if (i % 5 == 4) s.RemovePath(base + "\\p" + std::to_string(i - 2));
        if (write(fds[1], &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(1);
      }
    }
    close(fds[1]);
    usleep(std::uniform_int_distribution<int>(0, 15000)(random));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::vector<int> acks = Acknowledged(fds[0]);

    AssocStore s(OpenSqliteStore(path));
    s.SetRoot(RootKey::ClassesRoot);
    const std::string base = "\\round" + std::to_string(round);
    for (int i : acks) {
      ASSERT_TRUE(s.OpenPath(base, false)) << round;
      ASSERT_EQ(s.GetText("v" + std::to_string(i)), std::to_string(i)) << round;
      // p<i> is removed during round i + 2, before that round is acknowledged; when the
      // child died inside that round either outcome is right.
      const bool removable = i % 5 == 2;
      if (removable && acks.back() == i + 1) continue;
      const bool removed = removable && acks.back() >= i + 2;
      ASSERT_EQ(s.HasPath(base + "\\p" + std::to_string(i) + "\\x\\y\\z"), !removed)
          << round << ' ' << i;
    }
    if (s.OpenPath(base, false)) {
      std::vector<std::string> made;
      s.ListSubkeys(made);
      for (const auto& p : made)
        EXPECT_TRUE(s.HasPath(base + "\\" + p + "\\x\\y\\z")) << "half-made " << p;
    }
  }
  EXPECT_EQ(IntegrityOf(path), "ok");
}

// The backup's export reads a consistent snapshot while another process writes; neither
// waits long enough to fail, and nothing the writer acknowledged goes missing.
TEST(Durability, ExportsRunBesideAWriter) {
  test::TestStore store;
  setenv("KESTROVA_STORE", store.Path().c_str(), 1);
  {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(s.OpenPath("\\txtfile\\Shell\\open\\command", true));
    s.PutText("", "viewer %1");
  }
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    AssocStore s(OpenSqliteStore(store.Path()));
    s.SetRoot(RootKey::ClassesRoot);
    for (int i = 0; i < 400; ++i) {
      if (!s.OpenPath("\\txtfile\\Shell\\verb" + std::to_string(i), true)) _exit(2);
      s.PutText("", "caption " + std::to_string(i));
      if (write(fds[1], &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(1);
    }
    _exit(0);
  }
  close(fds[1]);
  int exports = 0;
  for (int status = 0; waitpid(child, &status, WNOHANG) == 0; ++exports) {
    std::ostringstream out, err;
    const std::string file = store.Dir() + "/backup" + std::to_string(exports) + ".reg";
    ASSERT_EQ(RunRegedit({"/e", file, "HKEY_CLASSES_ROOT\\txtfile"}, out, err), 0) << err.str();
    EXPECT_TRUE(err.str().empty()) << err.str();
  }
  const std::vector<int> acks = Acknowledged(fds[0]);
  EXPECT_EQ(acks.size(), 400u);
  EXPECT_GT(exports, 0);
  AssocStore s;
  s.SetRoot(RootKey::ClassesRoot);
  for (int i : acks) EXPECT_TRUE(s.HasPath("\\txtfile\\Shell\\verb" + std::to_string(i))) << i;
  // The last export restores into an empty store as a whole, readable file.
  test::TempDir other;
  setenv("KESTROVA_STORE", other.File("r.db").c_str(), 1);
  UseSqliteStore(other.File("r.db"));
  std::ostringstream out, err;
  EXPECT_EQ(
      RunRegedit({"/s", store.Dir() + "/backup" + std::to_string(exports - 1) + ".reg"}, out, err),
      0)
      << err.str();
}

// A write that meets a full disk fails with the contract's error; the store stays whole and
// keeps everything written before, and works again once there is room.
TEST(Durability, AFullDiskFailsTheWriteAndKeepsTheStore) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  {
    AssocStore s(OpenSqliteStore(path));
    s.SetRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(s.OpenPath("\\kept", true));
    s.PutText("before", "still here");
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 600 * 1024;  // the file-size limit stands in for the disk
    setrlimit(RLIMIT_FSIZE, &limit);
    AssocStore s(OpenSqliteStore(path));
    s.SetRoot(RootKey::ClassesRoot);
    if (!s.OpenPath("\\big", true)) _exit(3);
    try {
      for (int i = 0; i < 100; ++i)
        s.PutText("chunk" + std::to_string(i), std::string(200 * 1024, 'x'));
    } catch (const ERegistryException& e) {
      _exit(std::string(e.what()).rfind("Failed to set data for 'chunk", 0) == 0 ? 0 : 4);
    }
    _exit(5);  // the limit was never met
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_EQ(IntegrityOf(path), "ok");
  AssocStore s(OpenSqliteStore(path));
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.OpenPath("\\kept", false));
  EXPECT_EQ(s.GetText("before"), "still here");
  ASSERT_TRUE(s.OpenPath("\\big", true));
  s.PutText("after", "room again");
  EXPECT_EQ(s.GetText("after"), "room again");
}

}  // namespace
}  // namespace kestrova
