// Whether a prefix's wineserver runs, decided from its lock as wineserver holds it (a record
// lock on byte 0 of `lock`, simulated here by a child process), and what the engine does
// then: it reads, refuses every write with the reason, and holds the lock while it writes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/WinePrefixStore.h"
#include "platform/WineServerLock.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::ErrorKindOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A prefix whose server folder lies under this test's own TMPDIR, as Debian's Wine makes it.
class ServerPrefix : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    m_oldTmp = tmp ? tmp : "";
    m_hadTmp = tmp != nullptr;
    ::setenv("TMPDIR", m_tmp.Path().c_str(), 1);
    m_prefix = m_root.File("prefix");
    std::filesystem::create_directories(m_prefix);
    const std::string fixture =
        std::string(std::getenv("KESTROVA_SOURCE_DIR")) + "/tests/platform/data/wine/prefix";
    for (const char* f : {"system.reg", "user.reg", "userdef.reg"})
      std::filesystem::copy_file(fixture + "/" + f, m_prefix + "/" + f);
    WriteFile(m_prefix + "/wineserver", "wine-Test01");
    struct stat st {};
    ASSERT_EQ(::stat(m_prefix.c_str(), &st), 0);
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    m_serverDir = m_tmp.Path() + "/wine-Test01/" + leaf;
  }
  void TearDown() override {
    ReleaseServer();
    if (m_hadTmp) {
      ::setenv("TMPDIR", m_oldTmp.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

  // A child process takes the lock the way wineserver does and keeps it until released.
  void StartServer() {
    std::filesystem::create_directories(m_serverDir);
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const std::string lock = m_serverDir + "/lock";
    m_server = ::fork();
    ASSERT_GE(m_server, 0);
    if (m_server == 0) {
      ::close(ready[0]);
      ::close(done[1]);
      const int fd = ::open(lock.c_str(), O_CREAT | O_WRONLY, 0600);
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_len = 1;
      const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
      (void)!::write(ready[1], &ok, 1);
      char c;
      (void)!::read(done[0], &c, 1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    m_release = done[1];
    char ok = '0';
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, '1');
  }

  void ReleaseServer() {
    if (m_server <= 0) return;
    ::close(m_release);
    ::waitpid(m_server, nullptr, 0);
    m_server = 0;
  }

  // Whether another process could take the lock now (as a starting wineserver would).
  bool LockIsFree() {
    const pid_t child = ::fork();
    if (child == 0) {
      const int fd = ::open((m_serverDir + "/lock").c_str(), O_WRONLY);
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_len = 1;
      ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  TempDir m_tmp, m_root;
  std::string m_prefix, m_serverDir, m_oldTmp;
  bool m_hadTmp = false;
  pid_t m_server = 0;
  int m_release = -1;
};

TEST_F(ServerPrefix, TheServerFolderIsFoundAsWineMakesIt) {
  EXPECT_EQ(WineServerDir(m_prefix), m_serverDir);
  // Without Debian's name file, upstream Wine's folder.
  std::filesystem::remove(m_prefix + "/wineserver");
  EXPECT_EQ(WineServerDir(m_prefix), "/tmp/.wine-" + std::to_string(::getuid()) +
                                         m_serverDir.substr(m_serverDir.rfind('/')));
  EXPECT_EQ(WineServerDir(m_root.File("missing")), "");
}

TEST_F(ServerPrefix, OnlyAHeldLockMeansARunningServer) {
  EXPECT_FALSE(WineServerRunning(m_prefix));  // no folder at all
  // A lock nobody holds and a socket left behind: a server that ended.
  std::filesystem::create_directories(m_serverDir);
  WriteFile(m_serverDir + "/lock", "");
  WriteFile(m_serverDir + "/socket", "");
  EXPECT_FALSE(WineServerRunning(m_prefix));
  StartServer();
  EXPECT_TRUE(WineServerRunning(m_prefix));
  EXPECT_EQ(WineServerPid(m_prefix), m_server);
  ReleaseServer();
  EXPECT_FALSE(WineServerRunning(m_prefix));
  // Asking changed nothing in the server's folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_serverDir),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(ServerPrefix, WhileAServerRunsTheEngineReadsAndRefusesWrites) {
  StartServer();
  auto e = OpenWinePrefix(m_prefix);
  EXPECT_FALSE(e->Writable());
  const std::string reason = e->ReadOnlyReason();
  EXPECT_NE(reason.find("WINEPREFIX=" + m_prefix + " wineserver -k"), std::string::npos) << reason;
  AssocStore s(e);
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.OpenPath("\\.kbq", false));
  EXPECT_EQ(s.GetText(""), "RefTest.Doc");
  const KeyRef kbq = *e->FindChild(e->Root(RootKey::ClassesRoot), ".kbq");
  try {
    e->SetValue(kbq, "", RegType::Sz, std::string("x\0", 2));
    FAIL() << "wrote while a server runs";
  } catch (const StoreError& err) {
    EXPECT_EQ(err.Kind(), StoreErrorKind::ReadOnly);
    EXPECT_NE(std::string(err.what()).find("wineserver -k"), std::string::npos);
  }
  EXPECT_EQ(ErrorKindOf([&] { e->DeleteChild(e->Root(RootKey::ClassesRoot), ".kbq"); }),
            StoreErrorKind::ReadOnly);
  EXPECT_EQ(ErrorKindOf([&] { e->Begin(true); }), StoreErrorKind::ReadOnly);
  ReleaseServer();
  EXPECT_TRUE(e->Writable());
  e->SetValue(kbq, "", RegType::Sz, std::string("Now.Doc\0", 8));
  EXPECT_NE(ReadFile(m_prefix + "/system.reg").find("@=\"Now.Doc\""), std::string::npos);
}

TEST_F(ServerPrefix, AServerStartedAfterOpeningIsNoticedAtTheNextWrite) {
  auto e = OpenWinePrefix(m_prefix);
  const KeyRef classes = e->Root(RootKey::ClassesRoot);
  e->CreateChild(classes, ".before");
  StartServer();
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(classes, ".after"); }), StoreErrorKind::ReadOnly);
  EXPECT_FALSE(e->FindChild(classes, ".after"));
  EXPECT_EQ(ReadFile(m_prefix + "/system.reg").find(".after"), std::string::npos);
}

TEST_F(ServerPrefix, NoServerStartsWhileTheEngineWrites) {
  std::filesystem::create_directories(m_serverDir);
  WriteFile(m_serverDir + "/lock", "");
  auto e = OpenWinePrefix(m_prefix);
  EXPECT_TRUE(LockIsFree());
  {
    EngineTransaction tx(*e, true);
    e->CreateChild(e->Root(RootKey::ClassesRoot), ".during");
    EXPECT_FALSE(LockIsFree());
    // Asking whether a server runs does not drop the lock this process holds.
    EXPECT_FALSE(WineServerRunning(m_prefix));
    EXPECT_FALSE(LockIsFree());
    tx.Commit();
  }
  EXPECT_TRUE(LockIsFree());
}

}  // namespace
}  // namespace kestrova
