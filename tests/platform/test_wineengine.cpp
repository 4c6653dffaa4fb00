// The Wine prefix engine: the roots on the prefix's files, the store's rules, transactions,
// writing files atomically, files Wine changed meanwhile, threads, and (when Wine is
// installed) a real prefix both ways.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/WinePrefixStore.h"
#include "platform/WineRegistryFile.h"
#include "store/AssocStore.h"
#include "store/RegistryRules.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::ErrorKindOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string FixturePrefix() {
  return std::string(std::getenv("KESTROVA_SOURCE_DIR")) + "/tests/platform/data/wine/prefix";
}

// A copy of the fixture prefix in a temporary folder.
class Prefix {
 public:
  Prefix() {
    for (const char* f : {"system.reg", "user.reg", "userdef.reg"})
      std::filesystem::copy_file(FixturePrefix() + "/" + f, m_dir.File(f));
  }
  const std::string& Dir() const { return m_dir.Path(); }
  std::string File(const char* name) const { return m_dir.File(name); }

 private:
  TempDir m_dir;
};

KeyRef At(RegistryEngine& e, RootKey root, std::initializer_list<const char*> path) {
  KeyRef k = e.Root(root);
  for (const char* p : path) {
    const auto c = e.FindChild(k, p);
    if (!c) return {};
    k = *c;
  }
  return k;
}

std::string Text(RegistryEngine& e, KeyRef k, const char* name) {
  const auto v = e.GetValue(k, name);
  if (!v) return "(none)";
  std::string d = v->data;
  if (!d.empty() && d.back() == '\0') d.pop_back();
  return d;
}

TEST(WineEngine, RootsLieOnThePrefixsFiles) {
  Prefix p;
  auto e = OpenWinePrefix(p.Dir());
  EXPECT_EQ(e->Location(), p.Dir());
  EXPECT_TRUE(e->Writable());
  const KeyRef kbq = At(*e, RootKey::ClassesRoot, {".KBQ"});
  EXPECT_EQ(Text(*e, kbq, ""), "RefTest.Doc");
  EXPECT_EQ(kbq.depth, 3);
  // HKEY_CLASSES_ROOT is HKLM\Software\Classes; Wine does not merge the user's classes.
  EXPECT_EQ(At(*e, RootKey::LocalMachine, {"SOFTWARE", "classes", ".kbq"}).id, kbq.id);
  EXPECT_FALSE(At(*e, RootKey::ClassesRoot, {".kbx"}));
  EXPECT_EQ(Text(*e, At(*e, RootKey::CurrentUser, {"Software", "Classes", ".kbx"}), ""),
            "UserOnly.Doc");
  std::vector<std::string> users;
  e->ListChildren(e->Root(RootKey::Users), users);
  EXPECT_EQ(users, (std::vector<std::string>{".Default", "S-1-5-21-0-0-0-1000"}));
  EXPECT_EQ(At(*e, RootKey::Users, {"S-1-5-21-0-0-0-1000", "Software", "Wine"}).id,
            At(*e, RootKey::CurrentUser, {"Software", "Wine"}).id);
  EXPECT_EQ(Text(*e, At(*e, RootKey::Users, {".default", "Control Panel", "Desktop"}), "Wallpaper"),
            "");
  const KeyRef fonts = At(*e, RootKey::CurrentConfig, {"Software", "Fonts"});
  ASSERT_TRUE(fonts);
  EXPECT_EQ(e->GetValue(fonts, "LogPixels")->data, std::string("\x60\0\0\0", 4));
  // HKEY_USERS holds the two trees of the files only.
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(e->Root(RootKey::Users), "S-1-5-18"); }),
            StoreErrorKind::ReadOnly);
  EXPECT_EQ(ErrorKindOf([&] { e->DeleteChild(e->Root(RootKey::LocalMachine), "Software"); }),
            StoreErrorKind::Limit);
}

TEST(WineEngine, OpenedBrowsedAndClosedThePrefixIsUnchanged) {
  Prefix p;
  struct stat before {};
  ASSERT_EQ(::stat(p.File("system.reg").c_str(), &before), 0);
  {
    auto e = OpenWinePrefix(p.Dir());
    std::function<void(KeyRef)> walk = [&](KeyRef k) {
      std::vector<RegValue> values;
      e->ListValues(k, values);
      std::vector<ChildKey> kids;
      e->Children(k, kids);
      for (const ChildKey& c : kids) walk(c.ref);
    };
    for (RootKey r : {RootKey::LocalMachine, RootKey::Users, RootKey::ClassesRoot})
      walk(e->Root(r));
    // A transaction that only reads writes nothing either.
    EngineTransaction tx(*e, true);
    tx.Commit();
  }
  for (const char* f : {"system.reg", "user.reg", "userdef.reg"})
    EXPECT_EQ(ReadFile(p.File(f)), ReadFile(FixturePrefix() + "/" + f)) << f;
  struct stat after {};
  ASSERT_EQ(::stat(p.File("system.reg").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.Dir()),
                          std::filesystem::directory_iterator()),
            3);
}

TEST(WineEngine, NamesMatchWithoutCaseAndListInFoldedOrder) {
  Prefix p;
  auto e = OpenWinePrefix(p.Dir());
  const KeyRef root = e->CreateChild(e->Root(RootKey::CurrentUser), "Order");
  for (const char* name : {"b", "_x", "\xc3\x84", "ax", "A", "ab"}) e->CreateChild(root, name);
  std::vector<std::string> names;
  e->ListChildren(root, names);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "ab", "ax", "b", "_x", "\xc3\x84"}));
  EXPECT_EQ(e->CreateChild(root, "\xc3\xa4").id, e->FindChild(root, "\xc3\x84")->id);

  const KeyRef key = e->CreateChild(root, "vals");
  for (const char* name : {"zeta", "Alpha", "", "mid"}) e->SetValue(key, name, RegType::Sz, "x");
  e->SetValue(key, "ALPHA", RegType::Dword, "1234");  // replaced in place, name kept
  std::vector<RegValue> values;
  e->ListValues(key, values);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].name, "zeta");
  EXPECT_EQ(values[1].name, "Alpha");
  EXPECT_EQ(values[1].type, RegType::Dword);
  EXPECT_EQ(values[2].name, "");
  EXPECT_EQ(values[3].name, "mid");

  // The same keys and values when the prefix is opened again.
  auto again = OpenWinePrefix(p.Dir());
  const KeyRef back = At(*again, RootKey::CurrentUser, {"order"});
  names.clear();
  again->ListChildren(back, names);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "ab", "ax", "b", "vals", "_x", "\xc3\x84"}));
  EXPECT_EQ(again->GetValue(*again->FindChild(back, "VALS"), "alpha")->data, "1234");
}

TEST(WineEngine, TheStoresLimitsAndErrorsHold) {
  Prefix p;
  auto e = OpenWinePrefix(p.Dir());
  const KeyRef root = e->Root(RootKey::CurrentUser);
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(root, "caf\xe9"); }), StoreErrorKind::InvalidText);
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(root, std::string("a\0b", 3)); }),
            StoreErrorKind::Limit);
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(root, std::string(256, 'k')); }),
            StoreErrorKind::Limit);
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(root, "a\\b"); }), StoreErrorKind::Limit);
  const KeyRef k = e->CreateChild(root, std::string(255, 'k'));
  EXPECT_EQ(ErrorKindOf([&] { e->SetValue(k, std::string("a\0b", 3), RegType::Sz, ""); }),
            StoreErrorKind::Limit);
  EXPECT_EQ(ErrorKindOf([&] { e->SetValue(k, "t", RegType::Sz, "bad \xff"); }),
            StoreErrorKind::InvalidText);
  EXPECT_EQ(ErrorKindOf([&] {
              e->SetValue(k, "big", RegType::Binary, std::string(kMaxValueData + 1, 'x'));
            }),
            StoreErrorKind::Limit);
  e->SetValue(k, "bin", RegType::Binary, std::string("\0\1\0", 3));
  EXPECT_EQ(e->GetValue(k, "BIN")->data, std::string("\0\1\0", 3));
  EXPECT_EQ(e->QueryValue(k, "bin")->size, 3);
  KeyRef deep{k.id, kMaxKeyDepth};
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(deep, "x"); }), StoreErrorKind::Limit);
  // A deleted key reads as empty and refuses writes.
  EXPECT_TRUE(e->DeleteChild(root, std::string(255, 'K')));
  EXPECT_FALSE(e->KeyExists(k));
  EXPECT_FALSE(e->GetValue(k, "bin"));
  EXPECT_EQ(ErrorKindOf([&] { e->SetValue(k, "x", RegType::Sz, ""); }), StoreErrorKind::Gone);
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(k, "x"); }), StoreErrorKind::Gone);
  // Link keys are Wine's own.
  const KeyRef link = At(*e, RootKey::LocalMachine, {"Software", "Wow6432Node", "Classes"});
  EXPECT_EQ(ErrorKindOf([&] { e->SetValue(link, "x", RegType::Sz, ""); }),
            StoreErrorKind::ReadOnly);
  EXPECT_EQ(ErrorKindOf([&] { e->CreateChild(link, "x"); }), StoreErrorKind::ReadOnly);
}

TEST(WineEngine, OnlyTheOutermostTransactionReachesTheFiles) {
  Prefix p;
  auto e = OpenWinePrefix(p.Dir());
  const KeyRef root = e->Root(RootKey::CurrentUser);
  const std::string userBefore = ReadFile(p.File("user.reg"));
  {
    EngineTransaction outer(*e, true);
    e->CreateChild(root, "kept");
    {
      EngineTransaction inner(*e, true);
      e->CreateChild(root, "inner");
    }                                                     // rolled back alone
    EXPECT_EQ(ReadFile(p.File("user.reg")), userBefore);  // nothing written yet
    outer.Commit();
  }
  EXPECT_TRUE(e->FindChild(root, "kept"));
  EXPECT_FALSE(e->FindChild(root, "inner"));
  const std::string written = ReadFile(p.File("user.reg"));
  EXPECT_NE(written.find("\n[kept] "), std::string::npos);
  EXPECT_EQ(written.find("inner"), std::string::npos);
  {
    EngineTransaction outer(*e, true);
    e->CreateChild(root, "dropped");
    e->SetValue(At(*e, RootKey::CurrentUser, {"Software", "Wine"}), "Version", RegType::Sz,
                std::string("win7\0", 5));
  }
  EXPECT_FALSE(e->FindChild(root, "dropped"));
  EXPECT_EQ(Text(*e, At(*e, RootKey::CurrentUser, {"Software", "Wine"}), "Version"), "win10");
  EXPECT_EQ(ReadFile(p.File("user.reg")), written);
  // Only the file with changes was written.
  EXPECT_EQ(ReadFile(p.File("system.reg")), ReadFile(FixturePrefix() + "/system.reg"));
}

TEST(WineEngine, WritesReplaceTheFileAtomicallyAndKeepItsMode) {
  Prefix p;
  ASSERT_EQ(::chmod(p.File("system.reg").c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(::stat(p.File("system.reg").c_str(), &before), 0);
  auto e = OpenWinePrefix(p.Dir());
  e->SetValue(At(*e, RootKey::ClassesRoot, {".kbq"}), "", RegType::Sz,
              std::string("Other.Doc\0", 10));
  struct stat after {};
  ASSERT_EQ(::stat(p.File("system.reg").c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.Dir()),
                          std::filesystem::directory_iterator()),
            3);  // no temporary file left
  EXPECT_NE(ReadFile(p.File("system.reg")).find("@=\"Other.Doc\"\n"), std::string::npos);

  // A folder that refuses the temporary file: the write fails whole and nothing changes.
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(p.Dir().c_str(), 0500), 0);
    auto ro = OpenWinePrefix(p.Dir());
    EXPECT_FALSE(ro->Writable());
    EXPECT_NE(ro->ReadOnlyReason().find(p.Dir()), std::string::npos);
    EXPECT_EQ(ErrorKindOf([&] { ro->CreateChild(ro->Root(RootKey::ClassesRoot), ".x"); }),
              StoreErrorKind::ReadOnly);
    ::chmod(p.Dir().c_str(), 0700);
  }
}

TEST(WineEngine, FilesWineChangedMeanwhileAreReadAgainBeforeAWrite) {
  Prefix p;
  auto e = OpenWinePrefix(p.Dir());
  const KeyRef kbq = At(*e, RootKey::ClassesRoot, {".kbq"});
  const KeyRef star = At(*e, RootKey::ClassesRoot, {"*"});
  // Wine saves its own change: a new key, and the '*' key gone.
  std::string wine = ReadFile(p.File("system.reg"));
  const std::size_t starAt = wine.find("\n[Software\\\\Classes\\\\*]");
  wine.erase(starAt, wine.find("\n[Software\\\\Classes\\\\.kbq]") - starAt);
  wine.insert(wine.find("\n[Software\\\\Classes\\\\CLSID"),
              "\n[Software\\\\Classes\\\\.wine] "
              "1700000500\n#time=1da1747c7186d07\n@=\"FromWine\"\n\n[Software\\\\Classes\\\\."
              "wine\\\\sub\\\\deeper] 1700000500\n#time=1da1747c7186d07\n");
  const std::string tmp = p.File("wine.tmp");
  WriteFile(tmp, wine);
  ASSERT_EQ(::rename(tmp.c_str(), p.File("system.reg").c_str()), 0);

  e->SetValue(kbq, "Content Type", RegType::Sz, std::string("text/new\0", 9));
  const std::string now = ReadFile(p.File("system.reg"));
  EXPECT_NE(now.find("@=\"FromWine\""), std::string::npos);  // Wine's change kept
  EXPECT_NE(now.find("\"Content Type\"=\"text/new\""), std::string::npos);
  EXPECT_EQ(Text(*e, At(*e, RootKey::ClassesRoot, {".wine"}), ""), "FromWine");
  EXPECT_TRUE(At(*e, RootKey::ClassesRoot, {".wine", "sub", "deeper"}));
  // References taken before stay good, and the key Wine removed reads as gone.
  EXPECT_EQ(Text(*e, kbq, "content type"), "text/new");
  EXPECT_FALSE(e->KeyExists(star));
  EXPECT_TRUE(e->KeyExists(e->Root(RootKey::ClassesRoot)));
}

TEST(WineEngine, NotAPrefixIsSaidAndNothingIsMade) {
  TempDir dir;
  EXPECT_NE(WhyNotWinePrefix(dir.File("none")).find(dir.File("none")), std::string::npos);
  EXPECT_NE(WhyNotWinePrefix(dir.Path()).find("system.reg"), std::string::npos);
  try {
    OpenWinePrefix(dir.Path());
    FAIL() << "opened an empty folder as a prefix";
  } catch (const StoreOpenError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.Path()), std::string::npos);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  Prefix p;
  EXPECT_EQ(WhyNotWinePrefix(p.Dir()), "");
  WriteFile(p.File("user.reg"), "WINE REGISTRY Version 3\n");
  EXPECT_NE(WhyNotWinePrefix(p.Dir()).find(p.File("user.reg")), std::string::npos);
  EXPECT_THROW(OpenWinePrefix(p.Dir()), StoreOpenError);
}

// The program's two threads share one prefix: each sees what the other wrote.
TEST(WineEngine, ThreadsShareThePrefix) {
  Prefix p;
  UseWinePrefix(p.Dir());
  constexpr int kWrites = 40;
  std::thread worker([] {
    for (int i = 0; i < kWrites; ++i) test::WriteText("\\.worker", "v" + std::to_string(i), "w");
  });
  for (int i = 0; i < kWrites; ++i) test::WriteText("\\.window", "v" + std::to_string(i), "g");
  worker.join();
  EXPECT_EQ(test::ReadValue("\\.worker", "v39"), "w");
  auto fresh = OpenWinePrefix(p.Dir());
  std::vector<RegValue> values;
  fresh->ListValues(At(*fresh, RootKey::ClassesRoot, {".worker"}), values);
  EXPECT_EQ(values.size(), static_cast<std::size_t>(kWrites));
  fresh->ListValues(At(*fresh, RootKey::ClassesRoot, {".window"}), values);
  EXPECT_EQ(values.size(), static_cast<std::size_t>(kWrites));
}

// ---------------------------------------------------------------------------------------
// Against Wine itself: one prefix for the suite (making one takes Wine half a minute).

std::string Which(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = dirs.find(':', start);
    const std::string d =
        dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string full = d + "/" + program;
    if (!d.empty() && ::access(full.c_str(), X_OK) == 0) return full;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return {};
}

class RealWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Which("wine").empty() || Which("wineboot").empty() || Which("wineserver").empty()) {
      s_skip = "Wine is not installed (wine, wineboot, wineserver)";
      return;
    }
    s_home = new TempDir;
    s_prefix = s_home->File("prefix");
    if (Run("wineboot -i") != 0 || !WhyNotWinePrefix(s_prefix).empty()) {
      s_skip = "wineboot could not make a prefix";
    }
  }
  static void TearDownTestSuite() {
    if (s_home) Run("wineserver -k");
    delete s_home;
    s_home = nullptr;
  }
  void SetUp() override {
    if (!s_skip.empty()) GTEST_SKIP() << s_skip;
  }
  // Runs a Wine command on the suite's prefix and waits for its server to end, so that
  // the files hold what it did. Its output goes to `out` when given.
  static int Run(const std::string& command, std::string* out = nullptr) {
    const std::string env = "HOME=" + s_home->Path() + " WINEPREFIX=" + s_prefix +
                            " WINEDEBUG=-all WINEDLLOVERRIDES='winemenubuilder.exe=d' ";
    const std::string file = s_home->File("out.txt");
    const std::string line = "cd " + s_home->Path() + " && " + env + "timeout 240 " + command +
                             " >" + file + " 2>&1; rc=$?; " + env + "wineserver -w; exit $rc";
    const int status = std::system(line.c_str());
    if (out) *out = ReadFile(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static inline TempDir* s_home = nullptr;
  static inline std::string s_prefix;
  static inline std::string s_skip;
};

TEST_F(RealWine, WineReadsWhatTheEngineWrote) {
  {
    auto e = OpenWinePrefix(s_prefix);
    ASSERT_TRUE(e->Writable()) << e->ReadOnlyReason();
    AssocStore s(e);
    s.SetRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(s.OpenPath("\\.kbq", true));
    s.PutText("", "Kbq.Doc");
    ASSERT_TRUE(s.OpenPath("\\Kbq.Doc\\shell\\open\\command", true));
    s.PutText("", "\"C:\\windows\\notepad.exe\" \"%1\" caf\xc3\xa9");
  }
  std::string out;
  ASSERT_EQ(Run("wine reg query 'HKCR\\.kbq'", &out), 0) << out;
  EXPECT_NE(out.find("Kbq.Doc"), std::string::npos) << out;
  ASSERT_EQ(Run("wine reg query 'HKCR\\Kbq.Doc\\shell\\open\\command' /ve", &out), 0) << out;
  EXPECT_NE(out.find("\"C:\\windows\\notepad.exe\" \"%1\""), std::string::npos) << out;
}

TEST_F(RealWine, TheEngineReadsWhatWineWrote) {
  std::string out;
  ASSERT_EQ(Run("wine reg add 'HKCR\\.kby' /ve /d 'Kby Doc' /f", &out), 0) << out;
  ASSERT_EQ(Run("wine reg add 'HKCR\\.kby' /v Bytes /t REG_BINARY /d "
                "000102030405060708090a0b0c0d0e0f101112131415161718191a /f",
                &out),
            0)
      << out;
  ASSERT_EQ(Run("wine reg add 'HKCR\\.kby' /v Many /t REG_MULTI_SZ /d 'one\\0two' /f", &out), 0)
      << out;
  auto e = OpenWinePrefix(s_prefix);
  const KeyRef kby = At(*e, RootKey::ClassesRoot, {".KBY"});
  ASSERT_TRUE(kby);
  EXPECT_EQ(Text(*e, kby, ""), "Kby Doc");
  std::string bytes;
  for (int i = 0; i < 27; ++i) bytes += static_cast<char>(i);
  EXPECT_EQ(e->GetValue(kby, "bytes")->data, bytes);
  EXPECT_EQ(e->GetValue(kby, "many")->data, std::string("one\0two\0\0", 9));
  // The engine's own write keeps Wine's lines as they are.
  const std::string before = ReadFile(s_prefix + "/system.reg");
  e->SetValue(kby, "Extra", RegType::Dword, std::string(4, '\1'));
  const std::string after = ReadFile(s_prefix + "/system.reg");
  EXPECT_EQ(after.substr(0, before.find("[Software\\\\Classes\\\\.kby]")),
            before.substr(0, before.find("[Software\\\\Classes\\\\.kby]")));
  ASSERT_EQ(Run("wine reg query 'HKCR\\.kby' /v Extra", &out), 0) << out;
  EXPECT_NE(out.find("0x1010101"), std::string::npos) << out;
}

}  // namespace
}  // namespace kestrova
