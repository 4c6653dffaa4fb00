// kestrova-regedit run in-process against a fresh store: export, import, round trips, the
// corpus of real .reg files, golden folders, refusals and store failures.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "platform/SqliteStore.h"
#include "store/RegistryRules.h"
#include "tests/regfile/StoreDump.h"
#include "tests/support/TestStore.h"
#include "tools/RegeditCommand.h"

namespace kestrova {
namespace {

using namespace std::string_literals;
using test::Dump;
using test::ReadFile;
using test::TempDir;
using test::TestStore;
using test::WriteFile;

struct Outcome {
  int rc;
  std::string out;
  std::string err;
};

Outcome Regedit(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int rc = RunRegedit(args, out, err);
  return {rc, out.str(), err.str()};
}

std::optional<KeyRef> Find(RegistryEngine& engine, RootKey root, std::string_view path) {
  std::vector<std::string_view> names;
  if (!SplitKeyPath(path, names)) return std::nullopt;
  KeyRef key = engine.Root(root);
  for (std::string_view name : names) {
    auto child = engine.FindChild(key, name);
    if (!child) return std::nullopt;
    key = *child;
  }
  return key;
}

std::optional<RegValue> Get(RegistryEngine& engine, RootKey root, std::string_view path,
                            std::string_view name) {
  auto key = Find(engine, root, path);
  return key ? engine.GetValue(*key, name) : std::nullopt;
}

// Exports the whole store, imports the file into an empty store, and expects both stores to
// hold the same; a second export must then give the same bytes.
void ExpectRoundTrip(TestStore& original, const std::string& dir) {
  const std::string first = dir + "/first.reg";
  ASSERT_EQ(Regedit({"/e", first}).rc, 0);
  TestStore copy;
  Outcome imported = Regedit({"/s", first});
  ASSERT_EQ(imported.rc, 0) << imported.err;
  EXPECT_EQ(Dump(*copy.Engine()), Dump(*original.Engine()));
  const std::string second = dir + "/second.reg";
  ASSERT_EQ(Regedit({"/e", second}).rc, 0);
  EXPECT_EQ(ReadFile(second), ReadFile(first));
}

// Set by the test macro; empty when the test is run by hand without it.
std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string CorpusFile(const std::string& name) { return Env("KESTROVA_CORPUS_DIR") + "/" + name; }

// The corpus of real .reg files lies beside the CI checkout, not in the repository.
#define REQUIRE_CORPUS()                                                 \
  if (!std::filesystem::is_directory(CorpusFile("")))                    \
  GTEST_SKIP() << "no corpus of real .reg files at \"" << CorpusFile("") \
               << "\"; set the CMake cache variable KESTROVA_CORPUS_DIR to run these tests"

std::string Fixture(const std::string& name) {
  return Env("KESTROVA_SOURCE_DIR") + "/tests/regfile/data/files/" + name;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A store damaged the way no engine writes one: sql run on its file directly.
void DamageStore(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

TEST(Regedit, RoundTripKeepsEveryTypeNameAndByte) {
  TestStore store;
  TempDir dir;
  auto engine = store.Engine();
  KeyRef top = engine->CreateChild(engine->Root(RootKey::CurrentUser), "Round Trip");
  for (std::string name :
       {"blank name ", " leading", "quote\"key", "semi;colon=eq", "br]ack[et", "-dash",
        "\xC3\xBCml\xC3\xA4ut \xE6\x97\xA5\xE6\x9C\xAC", "MiXeD", "@", "#hash"}) {
    engine->CreateChild(top, name);
  }
  KeyRef deep = top;
  for (int i = 0; i < 40; ++i) deep = engine->CreateChild(deep, "L" + std::to_string(i));
  engine->SetValue(deep, "", RegType::Sz, "deep\0"s);

  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  const std::vector<RegValue> values = {
      {"", RegType::Sz, "default\0"s},
      {"@", RegType::Sz, "named at\0"s},
      {"text", RegType::Sz, "\"q\" \\b\\ \r\n ;# \xE2\x82\xAC\0"s},
      {"empty text", RegType::Sz, "\0"s},
      {"zero bytes", RegType::Sz, ""},
      {"no terminator", RegType::Sz, "abc"},
      {"embedded nul", RegType::Sz, "a\0b\0"s},
      {"expand", RegType::ExpandSz, "%SystemRoot%\\x.dll\0"s},
      {"expand empty", RegType::ExpandSz, ""},
      {"multi", RegType::MultiSz, "one\0two\0\0"s},
      {"expand \xC3\xA9", RegType::ExpandSz, "%APPDATA%\\Caf\xC3\xA9 \xE2\x82\xAC\0"s},
      {"multi \xE6\x97\xA5", RegType::MultiSz, "\xC3\xA9\0\xF0\x9F\x98\x80\0\0"s},
      {"binary", RegType::Binary, binary},
      {"binary empty", RegType::Binary, ""},
      {"dword", RegType::Dword, "\x78\x56\x34\x12"},
      {"dword short", RegType::Dword, "\x01"},
      {"qword", RegType::Qword, "\1\2\3\4\5\6\7\x08"},
      {"none", RegType::None, "\0\xFF"s},
      {"odd type", 0xABCDEF01u, "x"},
      {"name \"with\" \\ = and\r\nbreak", RegType::Sz, "v\0"s},
      {"Case", RegType::Sz, "upper first\0"s},
      {"\xC3\xA9t\xC3\xA9", RegType::Sz, "\xC3\xA9\0"s},
  };
  for (const RegValue& v : values) engine->SetValue(top, v.name, v.type, v.data);
  KeyRef classes = engine->CreateChild(engine->Root(RootKey::ClassesRoot), ".Txt");
  engine->SetValue(classes, "", RegType::Sz, "txtfile\0"s);

  ExpectRoundTrip(store, dir.Path());
}

TEST(Regedit, ExportsAKeyWithItsStoredNameAndWritesNoFileForAMissingOne) {
  TestStore store;
  TempDir dir;
  auto engine = store.Engine();
  KeyRef txt = engine->CreateChild(engine->Root(RootKey::ClassesRoot), ".Txt");
  engine->SetValue(txt, "", RegType::Sz, "txtfile\0"s);
  engine->CreateChild(txt, "ShellNew");

  const std::string file = dir.File("txt.reg");
  Outcome run = Regedit({"-E", file, "hkcr\\.TXT\\"});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(ReadFile(file),
            "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.Txt]\r\n@=\"txtfile\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\.Txt\\ShellNew]\r\n\r\n");
  // HKEY_CLASSES_ROOT lies inside HKEY_LOCAL_MACHINE.
  ASSERT_EQ(Regedit({"/e", file, "HKEY_LOCAL_MACHINE\\Software\\CLASSES\\.txt"}).rc, 0);
  EXPECT_NE(ReadFile(file).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.Txt]"),
            std::string::npos);

  // A missing key, an unknown root, an empty name: no file, and an existing file untouched.
  WriteFile(file, "keep me");
  for (std::string key :
       {"HKCR\\.nothere", "HKEY_CLASSES_ROOTS\\.txt", "HKCR\\\\.txt", "HKLM\\x"}) {
    run = Regedit({"/e", file, key});
    EXPECT_EQ(run.rc, 2) << key;
    EXPECT_FALSE(run.err.empty()) << key;
    EXPECT_EQ(ReadFile(file), "keep me") << key;
  }
  run = Regedit({"/e", dir.File("new.reg"), "HKCU\\missing"});
  EXPECT_EQ(run.rc, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.reg")));
  // No temporary file is left behind either.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  run = Regedit({"/e", dir.Path() + "/no/such/dir/x.reg", "HKCR\\.txt"});
  EXPECT_EQ(run.rc, 2);
}

TEST(Regedit, SkippedLinesAreReportedAndStrictRefusesTheFile) {
  TestStore store;
  TempDir dir;
  const std::string file = dir.File("bad.reg");
  WriteFile(file,
            "REGEDIT4\r\n"
            "[HKEY_CURRENT_USER\\Imported]\r\n"
            "\"good\"=\"yes\"\r\n"
            "\"bad\"=dword:0x10\r\n"
            "[HKEY_NO_SUCH_ROOT\\x]\r\n"
            "\"lost\"=\"1\"\r\n"
            "[HKEY_CURRENT_USER\\Imported\\Sub]\r\n"
            "\"also good\"=dword:1\r\n");

  Outcome strict = Regedit({"/s", "--strict", file});
  EXPECT_EQ(strict.rc, 2);
  EXPECT_NE(strict.err.find(file + ":4: "), std::string::npos) << strict.err;
  EXPECT_FALSE(Find(*store.Engine(), RootKey::CurrentUser, "Imported"));

  Outcome run = Regedit({"/S", file});
  EXPECT_EQ(run.rc, 1);
  for (int line : {4, 5, 6}) {
    EXPECT_NE(run.err.find(file + ":" + std::to_string(line) + ": "), std::string::npos) << run.err;
  }
  auto engine = store.Engine();
  EXPECT_EQ(Get(*engine, RootKey::CurrentUser, "Imported", "good")->data, "yes\0"s);
  EXPECT_FALSE(Get(*engine, RootKey::CurrentUser, "Imported", "bad"));
  EXPECT_FALSE(Get(*engine, RootKey::CurrentUser, "Imported", "lost"));
  EXPECT_EQ(Get(*engine, RootKey::CurrentUser, "Imported\\Sub", "also good")->data, "\1\0\0\0"s);

  // A clean file exits 0 and says nothing.
  WriteFile(file, "REGEDIT4\n[HKEY_CURRENT_USER\\Clean]\n@=\"x\"\n");
  run = Regedit({"/s", "--strict", file});
  EXPECT_EQ(run.rc, 0);
  EXPECT_EQ(run.err, "");
}

TEST(Regedit, AStoreFailureLeavesTheStoreAsItWas) {
  TestStore store;
  TempDir dir;
  const std::string file = dir.File("limit.reg");
  const std::string before = Dump(*store.Engine());

  // A key name over 255 characters, after writes that must be undone.
  WriteFile(file,
            "REGEDIT4\n[HKEY_CURRENT_USER\\First]\n\"v\"=\"1\"\n[-HKEY_CLASSES_ROOT\\x]\n[HKEY_"
            "CURRENT_USER\\" +
                std::string(256, 'k') + "]\n");
  Outcome run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 2);
  EXPECT_NE(run.err.find(file + ":5: "), std::string::npos) << run.err;
  EXPECT_EQ(Dump(*store.Engine()), before);

  // A store that may not be written.
  WriteFile(file, "REGEDIT4\n[HKEY_CURRENT_USER\\First]\n\"v\"=\"1\"\n");
  ReleaseSqliteStoreForThread(store.Path());
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 2);
  EXPECT_FALSE(run.err.empty());
  // Reading still works: the export of a read-only store succeeds.
  EXPECT_EQ(Regedit({"/e", dir.File("ro.reg")}).rc, 0);
  unsetenv("KESTROVA_STORE_READONLY");
  ReleaseSqliteStoreForThread(store.Path());
  EXPECT_EQ(Dump(*store.Engine()), before);
}

TEST(Regedit, AValueOverTheDataLimitIsSkippedAndTheRestImported) {
  TestStore store;
  TempDir dir;
  const std::string file = dir.File("big.reg");
  std::string big = "REGEDIT4\n[HKEY_CURRENT_USER\\First]\n\"big\"=hex:00";
  for (int i = 0; i < 1024 * 1024; ++i) big += ",01";
  WriteFile(file, big + "\n\"small\"=\"kept\"\n");
  Outcome run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find(file + ":3: "), std::string::npos) << run.err;
  auto engine = store.Engine();
  EXPECT_FALSE(Get(*engine, RootKey::CurrentUser, "First", "big"));
  EXPECT_EQ(Get(*engine, RootKey::CurrentUser, "First", "small")->data, "kept\0"s);
  EXPECT_EQ(Regedit({"/s", "--strict", file}).rc, 2);

  // 800 KB of Chinese text is 540 KB as UTF-16: the registry takes it, and so does the store.
  std::string cjk;
  for (int i = 0; i < 270000; ++i) cjk += "\xE6\x97\xA5";
  WriteFile(file, "REGEDIT4\n[HKEY_CURRENT_USER\\Second]\n\"cjk\"=\"" + cjk + "\"\n");
  run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(Get(*engine, RootKey::CurrentUser, "Second", "cjk")->data, cjk + '\0');
}

TEST(Regedit, EightBitFilesAreReadAsUtf8OrWindows1252AndExportedAsUtf8) {
  TestStore store;
  TempDir dir;
  Outcome run = Regedit({"/s", Fixture("ansi-1252.reg")});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_NE(run.err.find("ansi-1252.reg: read as Windows-1252 (not valid UTF-8 at line 4)"),
            std::string::npos)
      << run.err;
  auto engine = store.Engine();
  EXPECT_EQ(Get(*engine, RootKey::ClassesRoot, ".caf\xC3\xA9", "")->data,
            "Caf\xC3\xA9.Document\0"s);
  EXPECT_EQ(Get(*engine, RootKey::ClassesRoot, "Caf\xC3\xA9.Document", "")->data,
            "Caf\xC3\xA9 \xE2\x80\x93 R\xC3\xA9sum\xC3\xA9\0"s);
  EXPECT_EQ(Get(*engine, RootKey::ClassesRoot, "Caf\xC3\xA9.Document", "FriendlyTypeName")->data,
            "Caf\xC3\xA9\0"s);
  run = Regedit({"/e", dir.File("out.reg"), "HKCR\\.caf\xC3\xA9"});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_NE(ReadFile(dir.File("out.reg")).find("@=\"Caf\xC3\xA9.Document\""), std::string::npos);
  run = Regedit({"/s", dir.File("out.reg")});
  EXPECT_EQ(run.err, dir.File("out.reg") + ": read as UTF-8\n");

  run = Regedit({"/s", Fixture("utf8.reg")});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(run.err, Fixture("utf8.reg") + ": read as UTF-8\n");
  EXPECT_EQ(Get(*engine, RootKey::ClassesRoot, ".\xE6\x97\xA5\xE6\x9C\xAC", "Multi")->data,
            "\xC3\xA9\0\xE2\x82\xAC\0\0"s);
  // The export is UTF-8, read back as UTF-8, byte for byte.
  ExpectRoundTrip(store, dir.Path());
}

TEST(Regedit, AStrayByteInAUtf16FileCostsOneReportedLine) {
  TestStore store;
  TempDir dir;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < 1000; ++i) text += "[HKEY_CURRENT_USER\\k" + std::to_string(i) + "]\r\n";
  std::string file = "\xFF\xFE";
  for (char c : text) file += {c, '\0'};
  file.erase(file.find("k\0001\0000\0000\0"s) + 3, 1);
  WriteFile(dir.File("v5.reg"), file);
  Outcome run = Regedit({"/s", dir.File("v5.reg")});
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find("v5.reg:103: a stray byte"), std::string::npos) << run.err.substr(0, 2000);
  std::vector<std::string> keys;
  store.Engine()->ListChildren(store.Engine()->Root(RootKey::CurrentUser), keys);
  EXPECT_EQ(keys.size(), 999u);
}

TEST(Regedit, AFileCutInsideHexDataIsReportedAndRefusedUnderStrict) {
  TestStore store;
  TempDir dir;
  const std::string file = dir.File("cut.reg");
  WriteFile(file, "REGEDIT4\r\n[HKEY_CURRENT_USER\\Cut]\r\n\"h\"=hex:01,02,\\");
  Outcome run = Regedit({"/s", "--strict", file});
  EXPECT_EQ(run.rc, 2);
  EXPECT_NE(run.err.find(file + ":3: "), std::string::npos) << run.err;
  EXPECT_FALSE(Find(*store.Engine(), RootKey::CurrentUser, "Cut"));
  run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 1);
  EXPECT_EQ(Get(*store.Engine(), RootKey::CurrentUser, "Cut", "h")->data, "\1\2");
}

TEST(Regedit, RefusesWhatIsNoRegularFileOrNoTextWithoutReadingItAll) {
  TestStore store;
  TempDir dir;
  const std::string before = Dump(*store.Engine());
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (std::string path : {dir.File("fifo"), std::string("/dev/zero"), dir.Path()}) {
    Outcome run = Regedit({"/s", path});
    EXPECT_EQ(run.rc, 2) << path;
    EXPECT_NE(run.err.find("it is a"), std::string::npos) << run.err;
  }
  // A good header, then binary: refused at the first NUL, nothing imported.
  WriteFile(dir.File("nul.reg"),
            "REGEDIT4\r\n[HKEY_CURRENT_USER\\Bin]\r\n\"a\"=\"1\"\r\n" + std::string(3 << 20, '\0'));
  Outcome run = Regedit({"/s", dir.File("nul.reg")});
  EXPECT_EQ(run.rc, 2);
  EXPECT_NE(run.err.find("nul.reg:4: "), std::string::npos) << run.err;
  EXPECT_EQ(Dump(*store.Engine()), before);
}

TEST(Regedit, RefusesFilesItCannotRead) {
  TestStore store;
  TempDir dir;
  Outcome run = Regedit({"/s", dir.File("missing.reg")});
  EXPECT_EQ(run.rc, 2);
  run = Regedit({"/s", dir.Path()});
  EXPECT_EQ(run.rc, 2);
  WriteFile(dir.File("wine.reg"), "WINE REGISTRY Version 2\n[Software\\\\x]\n\"a\"=\"b\"\n");
  run = Regedit({"/s", dir.File("wine.reg")});
  EXPECT_EQ(run.rc, 2);
  EXPECT_NE(run.err.find("not a registry file"), std::string::npos);
}

TEST(Regedit, CommandLine) {
  TestStore store;
  Outcome run = Regedit({});
  EXPECT_EQ(run.rc, 2);
  EXPECT_NE(run.err.find("Usage"), std::string::npos);
  EXPECT_EQ(Regedit({"--version"}).out, "kestrova-regedit 2.0\n");
  EXPECT_EQ(Regedit({"--help"}).rc, 0);
  for (std::vector<std::string> bad : {std::vector<std::string>{"/x", "f"},
                                       {"/s"},
                                       {"/s", "a", "b"},
                                       {"/e"},
                                       {"/e", "a", "b", "c"},
                                       {"/e", "--strict", "f"},
                                       {"/s", "/e", "f"},
                                       {"--bogus"},
                                       {"file.reg"}}) {
    EXPECT_EQ(Regedit(bad).rc, 2) << bad[0];
  }
}

// The broken inputs kept beside the codec's tests: the exit status and every word said, as
// NAME.expected has them with the file named FILE.
TEST(Regedit, BrokenInputsExitAndSayAsAlways) {
  TestStore store;
  const std::filesystem::path dir =
      std::filesystem::path(Env("KESTROVA_SOURCE_DIR")) / "tests/regfile/data/broken";
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".reg") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string file = entry.path().string();
    std::string expected =
        ReadFile(std::filesystem::path(entry.path()).replace_extension(".expected").string());
    const std::string status = expected.substr(0, expected.find('\n'));
    expected.erase(0, status.size() + 1);
    for (std::size_t at = 0; (at = expected.find("FILE", at)) != std::string::npos;) {
      expected.replace(at, 4, file);
      at += file.size();
    }
    const Outcome run = Regedit({"/s", file});
    EXPECT_EQ("exit " + std::to_string(run.rc), status);
    EXPECT_EQ(run.err, expected);
    ++cases;
  }
  EXPECT_GE(cases, 8);
}

struct CorpusCheck {
  const char* file;
  int rc;
  RootKey root;
  const char* path;
  const char* name;
  uint32_t type;
  std::string data;
};

TEST(Regedit, EveryCorpusFileImportsAndExportsAgain) {
  REQUIRE_CORPUS();
  const std::string photo = "@%ProgramFiles%\\Windows Photo Viewer\\PhotoViewer.dll,-3056\0"s;
  const std::string shell32 = "@%SystemRoot%\\System32\\shell32.dll,-10156\0"s;
  const std::vector<CorpusCheck> checks = {
      {"anyi11_anyi11_fix_exe.reg", 0, RootKey::ClassesRoot, "exefile", "EditFlags",
       RegType::Binary, "\x38\x07\0\0"s},
      // hex(2) holding 8-bit bytes in a version 5 file is kept as the 8-bit text it is.
      {"anyi11_anyi11_fix_exe.reg", 0, RootKey::ClassesRoot, "exefile", "FriendlyTypeName",
       RegType::ExpandSz, shell32},
      {"pawarroshan723-maker_windows10_fix_exe.reg", 0, RootKey::ClassesRoot, "exefile",
       "FriendlyTypeName", RegType::ExpandSz, shell32},
      {"pawarroshan723-maker_windows10_fix_exe.reg", 0, RootKey::LocalMachine,
       "SOFTWARE\\Classes\\exefile\\shell\\open\\command", "", RegType::Sz, "\"%1\" %*\0"s},
      {"bol-van_win10_antishit_PhotoViewer.reg", 0, RootKey::ClassesRoot,
       "PhotoViewer.FileAssoc.Bitmap", "FriendlyTypeName", RegType::ExpandSz, photo},
      {"bol-van_win10_antishit_PhotoViewer.reg", 0, RootKey::ClassesRoot,
       "PhotoViewer.FileAssoc.JFIF", "EditFlags", RegType::Dword, "\0\0\1\0"s},
      {"vim_vim_GvimExt.reg", 0, RootKey::ClassesRoot,
       "CLSID\\{51EEE242-AD87-11d3-9C1E-0090278BBD99}\\InProcServer32", "ThreadingModel",
       RegType::Sz, "Apartment\0"s},
      {"vim_vim_GvimExt.reg", 0, RootKey::LocalMachine, "Software\\Vim\\Gvim", "path", RegType::Sz,
       "gvim.exe\0"s},
      {"Dn-Programming-Core-Management_Dn-FamiTracker_Dn-FamiTracker.reg", 0, RootKey::ClassesRoot,
       "DnFamiTracker.Document\\shell\\open\\ddeexec", "", RegType::Sz, "[open(\"%1\")]\0"s},
      // The old form takes everything after "= " as the text, quotes included.
      {"Dn-Programming-Core-Management_Dn-FamiTracker_Dn-FamiTracker.reg", 0, RootKey::ClassesRoot,
       ".dnm", "", RegType::Sz, "\"DnFamiTracker.Document\"\0"s},
      {"josephworks_Registry-Edits_Add_Take_Ownership_to_context_menu.reg", 0, RootKey::ClassesRoot,
       "*\\shell\\runas\\command", "IsolatedCommand", RegType::Sz,
       "cmd.exe /c takeown /f \"%1\" && icacls \"%1\" /grant *S-1-3-4:F /c /l\0"s},
      {"rehan5039_Win-Right-Click_Add_Open_command_window_here_as_administrator.reg", 0,
       RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
       "EnableLinkedConnections", RegType::Dword, "\1\0\0\0"s},
      {"wine-mirror_wine_orig.reg", 0, RootKey::CurrentUser, "Test Regedit\\New Key #1", "v1",
       RegType::Sz, "\" \\,=[]\0"s},
      {"wine-mirror_wine_orig.reg", 0, RootKey::CurrentUser, "Test Regedit\\New Key #1",
       "New Binary Value #2", RegType::Binary, ""},
      {"wine-mirror_wine_orig.reg", 0, RootKey::CurrentUser, "Test Regedit\\New Key #1\\New Key #2",
       "Empty Value1", RegType::MultiSz, "\0"s},
      {"fadrian06_fileicons-win_associations.reg", 0, RootKey::ClassesRoot, ".css\\DefaultIcon", "",
       RegType::Sz, "C:\\fileicons\\CSS3_logo.ico,0\0"s},
      {"bird00101011_mvplayer_install.reg", 0, RootKey::ClassesRoot,
       "SystemFileAssociations\\.mkv\\shell\\OpenWithMVPlayer\\command", "", RegType::Sz,
       "\"E:\\projects\\1cg\\gui\\mvplayer\\out\\mvplayer-win32-x64\\mvplayer.exe\"  \"%1\"\0"s},
      // A key given twice keeps the value written last.
      {"AdamRobertHall_devdocs_word.reg", 0, RootKey::ClassesRoot,
       ".docx\\Word.Document.12\\ShellNew", "FileName", RegType::Sz, "winword10.docx\0"s},
      // Its first line is blank: not a header a registry editor accepts.
      {"kangezhang_JsonEditorTools_file_association.reg", 2, RootKey::ClassesRoot, ".json", "", 0,
       ""},
  };
  std::set<std::string> covered;
  for (const CorpusCheck& check : checks) {
    SCOPED_TRACE(check.file);
    TestStore store;
    TempDir dir;
    Outcome run = Regedit({"/s", CorpusFile(check.file)});
    ASSERT_EQ(run.rc, check.rc) << run.err;
    auto engine = store.Engine();
    auto value = Get(*engine, check.root, check.path, check.name);
    if (check.rc == 2) {
      EXPECT_FALSE(value);
    } else {
      ASSERT_TRUE(value) << check.path << " " << check.name;
      EXPECT_EQ(value->type, check.type);
      EXPECT_EQ(value->data, check.data);
    }
    ExpectRoundTrip(store, dir.Path());
    covered.insert(check.file);
  }
  // Every file of the corpus is checked.
  for (const auto& entry : std::filesystem::directory_iterator(CorpusFile(""))) {
    if (entry.path().extension() == ".reg") {
      EXPECT_TRUE(covered.count(entry.path().filename().string())) << entry.path();
    }
  }
}

TEST(Regedit, CorpusFilesWith8BitTextAreReadAsTheirBytesAre) {
  REQUIRE_CORPUS();
  TestStore store;
  // A UTF-8 comment: the file is UTF-8.
  const std::string utf8 = CorpusFile("bird00101011_mvplayer_install.reg");
  Outcome run = Regedit({"/s", utf8});
  EXPECT_EQ(run.rc, 0);
  EXPECT_EQ(run.err, utf8 + ": read as UTF-8\n");
  // 8-bit bytes given as hex(2) in a version 5 file: text in the file's 8-bit encoding.
  run = Regedit({"/s", CorpusFile("anyi11_anyi11_fix_exe.reg")});
  EXPECT_EQ(run.rc, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Get(*store.Engine(), RootKey::ClassesRoot, "exefile", "FriendlyTypeName")->data,
            "@%SystemRoot%\\System32\\shell32.dll,-10156\0"s);
}

TEST(Regedit, CorpusDeletionsTakeEffect) {
  REQUIRE_CORPUS();
  TestStore store;
  auto engine = store.Engine();
  KeyRef shell = engine->CreateChild(*Find(*engine, RootKey::ClassesRoot, ""), "Directory");
  shell = engine->CreateChild(engine->CreateChild(shell, "shell"), "OpenCmdHereAsAdmin");
  engine->SetValue(shell, "Extended", RegType::Sz, "\0"s);
  KeyRef runas = engine->CreateChild(
      engine->CreateChild(engine->CreateChild(*Find(*engine, RootKey::ClassesRoot, ""), "*"),
                          "shell"),
      "runas");
  engine->CreateChild(runas, "stale");

  ASSERT_EQ(
      Regedit({"/s",
               CorpusFile(
                   "rehan5039_Win-Right-Click_Add_Open_command_window_here_as_administrator.reg")})
          .rc,
      0);
  EXPECT_FALSE(
      Get(*engine, RootKey::ClassesRoot, "Directory\\shell\\OpenCmdHereAsAdmin", "Extended"));
  EXPECT_EQ(
      Get(*engine, RootKey::ClassesRoot, "Directory\\shell\\OpenCmdHereAsAdmin", "Icon")->data,
      "imageres.dll,-5324\0"s);
  ASSERT_EQ(
      Regedit(
          {"/s", CorpusFile("josephworks_Registry-Edits_Add_Take_Ownership_to_context_menu.reg")})
          .rc,
      0);
  EXPECT_FALSE(Find(*engine, RootKey::ClassesRoot, "*\\shell\\runas\\stale"));
  EXPECT_TRUE(Find(*engine, RootKey::ClassesRoot, "*\\shell\\runas\\command"));
}

TEST(Regedit, ImportReusesKeysAcrossCaseAndRefusesToDeleteTheClassesRoot) {
  TestStore store;
  TempDir dir;
  const std::string file = dir.File("x.reg");
  WriteFile(file,
            "REGEDIT4\n[HKEY_CLASSES_ROOT\\.Abc]\n@=\"one\"\n[hkey_local_machine\\software\\"
            "classes\\.ABC\\Sub]\n[HKEY_CLASSES_ROOT\\.abc]\n\"x\"=\"two\"\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n[-HKEY_LOCAL_MACHINE\\Software]\n");
  Outcome run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find(":7: "), std::string::npos);
  EXPECT_NE(run.err.find(":8: "), std::string::npos);
  auto engine = store.Engine();
  std::vector<std::string> names;
  engine->ListChildren(engine->Root(RootKey::ClassesRoot), names);
  EXPECT_EQ(names, std::vector<std::string>{".Abc"});
  EXPECT_EQ(Get(*engine, RootKey::ClassesRoot, ".abc", "x")->data, "two\0"s);
  EXPECT_TRUE(Find(*engine, RootKey::ClassesRoot, ".abc\\sub"));
}

TEST(Regedit, AnExportNeverWritesOverTheOpenStore) {
  TestStore store;
  auto engine = store.Engine();
  engine->SetValue(engine->CreateChild(engine->Root(RootKey::ClassesRoot), ".txt"), "", RegType::Sz,
                   "txtfile\0"s);
  const std::string before = Dump(*engine);
  ::symlink(store.Path().c_str(), (store.Dir() + "/link.db").c_str());
  for (std::string target : {store.Path(), store.Path() + "-wal", store.Path() + "-shm",
                             store.Path() + "-journal", store.Dir() + "/link.db"}) {
    Outcome run = Regedit({"/e", target, "HKCR\\.txt"});
    EXPECT_EQ(run.rc, 2) << target;
    EXPECT_NE(run.err.find("never writes over it"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Dump(*store.Engine()), before);
  EXPECT_EQ(Regedit({"/e", store.Dir() + "/backup.reg", "HKCR\\.txt"}).rc, 0);
}

TEST(Regedit, AnExportReplacesAFileKeepingItsModeAndFitsEveryNameThatFits) {
  TestStore store;
  TempDir dir;
  const std::string file = dir.File("keep.reg");
  WriteFile(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(Regedit({"/e", file, "HKCR"}).rc, 0);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  ASSERT_EQ(Regedit({"/e", dir.File("new.reg"), "HKCR"}).rc, 0);
  ASSERT_EQ(::stat(dir.File("new.reg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);

  // The temporary file's name is short: a name of 255 bytes, the most a folder takes, works.
  const std::string longest = dir.File(std::string(251, 'n') + ".reg");
  Outcome run = Regedit({"/e", longest, "HKCR"});
  EXPECT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(FilesIn(dir.Path()),
            (std::vector<std::string>{"keep.reg", "new.reg", std::string(251, 'n') + ".reg"}));
  // A folder in the file's place stays a folder.
  std::filesystem::create_directory(dir.File("folder.reg"));
  run = Regedit({"/e", dir.File("folder.reg"), "HKCR"});
  EXPECT_EQ(run.rc, 2);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.reg")));
}

TEST(Regedit, ADamagedTreeStopsTheExportWithNoFileLeft) {
  TempDir dir;
  for (bool cycle : {true, false}) {
    SCOPED_TRACE(cycle ? "a cycle" : "too deep");
    TestStore store;
    auto engine = store.Engine();
    const KeyRef a = engine->CreateChild(engine->Root(RootKey::CurrentUser), "A");
    const KeyRef b = engine->CreateChild(a, "B");
    engine->SetValue(b, "v", RegType::Sz, std::string(1000, 'x') + '\0');
    ReleaseSqliteStoreForThread(store.Path());
    if (cycle) {
      // B holds A again: a walk that trusted the tree would never end.
      DamageStore(store.Path(), "DROP INDEX keys_by_id; INSERT INTO keys VALUES (" +
                                    std::to_string(b.id) +
                                    ", CAST('BACK' AS BLOB), CAST('Back' AS BLOB), " +
                                    std::to_string(a.id) + ")");
    } else {
      std::string sql = "BEGIN;";
      for (int i = 0; i < 520; ++i) {
        sql += "INSERT INTO keys VALUES (" + std::to_string(i == 0 ? b.id : 1000 + i - 1) +
               ", CAST('D' AS BLOB), CAST('d' AS BLOB), " + std::to_string(1000 + i) + ");";
      }
      DamageStore(store.Path(), sql + "COMMIT;");
    }
    for (std::vector<std::string> args : {std::vector<std::string>{"/e", dir.File("x.reg")},
                                          {"/e", dir.File("x.reg"), "HKCU\\A"}}) {
      Outcome run = Regedit(args);
      EXPECT_EQ(run.rc, 2);
      EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
      EXPECT_TRUE(FilesIn(dir.Path()).empty());
    }
  }
}

// Runs the export in a child process, so that a signal or a limit hits it alone.
int ExportInChild(const std::string& file, const std::function<void(pid_t)>& meanwhile,
                  const std::function<void()>& before = {}) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (before) before();
    std::ostringstream out, err;
    ::_exit(RunRegedit({"/e", file}, out, err));
  }
  meanwhile(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(Regedit, AnExportStoppedBySignalOrFileSizeLimitLeavesNoFile) {
  TestStore store;
  TempDir dir;
  {
    auto engine = store.Engine();
    EngineTransaction tx(*engine, true);
    const KeyRef key = engine->CreateChild(engine->Root(RootKey::CurrentUser), "Big");
    for (int i = 0; i < 48; ++i)
      engine->SetValue(key, "v" + std::to_string(i), RegType::Binary, std::string(1 << 20, 'b'));
    tx.Commit();
  }
  // The child opens a connection of its own.
  ReleaseSqliteStoreForThread(store.Path());
  const std::string file = dir.File("out.reg");
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const int status = ExportInChild(file, [&](pid_t pid) {
      for (int i = 0; i < 20000 && FilesIn(dir.Path()).empty(); ++i) ::usleep(100);
      ::kill(pid, signal);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
  }
  const int status = ExportInChild(
      file, [](pid_t) {},
      [] {
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

}  // namespace
}  // namespace kestrova
