// kestrova-regedit run in-process against a fresh store: export, import, round trips, the
// corpus of real .reg files, golden folders, refusals and store failures.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/SqliteStore.h"
#include "tests/support/TestStore.h"
#include "tools/RegeditCommand.h"

namespace kestrova {
namespace {

using namespace std::string_literals;
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
  KeyRef key = engine.Root(root);
  while (!path.empty()) {
    const std::size_t slash = path.find('\\');
    auto child = engine.FindChild(key, path.substr(0, slash));
    if (!child) return std::nullopt;
    key = *child;
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  return key;
}

std::optional<RegValue> Get(RegistryEngine& engine, RootKey root, std::string_view path,
                            std::string_view name) {
  auto key = Find(engine, root, path);
  return key ? engine.GetValue(*key, name) : std::nullopt;
}

// Everything a store holds, read through the engine alone: names as stored, types, bytes.
void Dump(RegistryEngine& engine, KeyRef key, const std::string& path, std::string& out) {
  out += "[" + path + "]\n";
  std::vector<RegValue> values;
  engine.ListValues(key, values);
  for (const RegValue& v : values) {
    out += "  <" + v.name + "> " + std::to_string(v.type) + " <" + v.data + ">\n";
  }
  std::vector<ChildKey> children;
  engine.Children(key, children);
  for (const ChildKey& c : children) Dump(engine, c.ref, path + "\\" + c.name, out);
}

std::string Dump(RegistryEngine& engine) {
  std::string out;
  for (RootKey root :
       {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::Users, RootKey::CurrentConfig}) {
    Dump(engine, engine.Root(root), std::to_string(static_cast<int>(root)), out);
  }
  return out;
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

  // Data over 1 MiB.
  std::string big = "REGEDIT4\n[HKEY_CURRENT_USER\\First]\n\"big\"=hex:00";
  for (int i = 0; i < 1024 * 1024; ++i) big += ",01";
  WriteFile(file, big + "\n");
  run = Regedit({"/s", file});
  EXPECT_EQ(run.rc, 2);
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

TEST(Regedit, GoldenFolders) {
  const std::filesystem::path root =
      std::filesystem::path(Env("KESTROVA_SOURCE_DIR")) / "tests/tools/data/golden";
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    SCOPED_TRACE(entry.path().filename().string());
    TestStore store;
    TempDir dir;
    Outcome run = Regedit({"/s", (entry.path() / "input.reg").string()});
    ASSERT_EQ(run.rc, 0) << run.err;
    std::string key = ReadFile((entry.path() / "key").string());
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
    ASSERT_EQ(Regedit({"/e", dir.File("out.reg"), key}).rc, 0);
    EXPECT_EQ(ReadFile(dir.File("out.reg")), ReadFile((entry.path() / "expected.reg").string()));
    ExpectRoundTrip(store, dir.Path());
    ++cases;
  }
  EXPECT_GE(cases, 2);
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

TEST(Regedit, CorpusDeletionsTakeEffect) {
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

}  // namespace
}  // namespace kestrova
