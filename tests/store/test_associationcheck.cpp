// The association check on a store with one problem of each kind: what it finds, and that
// each mend fixes its problem and nothing else, after backing up the key it changes.

#include <gtest/gtest.h>

#include <QBuffer>
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/WindowsCommandLine.h"
#include "regfile/RegExporter.h"
#include "regfile/RegImporter.h"
#include "store/AssocLayout.h"
#include "store/AssociationCheck.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::HasKey;
using test::ReadValue;

// Knows the programs by name: "/usr/bin/good" and "good" run, "%1" is the document.
class KnownPrograms final : public ProgramResolver {
 public:
  ProgramState Resolve(const std::string& line, std::string* program) override {
    *program = SplitProgramName(line).program;
    ++calls;
    if (*program == "%1") return ProgramState::NotChecked;
    if (*program == "/usr/bin/good" || *program == "good") return ProgramState::Found;
    if (*program == "/etc/passwd") return ProgramState::NotExecutable;
    return ProgramState::Missing;
  }
  int calls = 0;
};

class KnownFiles final : public CheckFiles {
 public:
  bool Exists(const std::string& file) override { return icons.contains(file); }
  int IconCount(const std::string& file) override { return icons.at(file); }
  std::map<std::string, int> icons{{"/icons/good.ico", 2}, {"/icons/empty.ico", 0}};
};

// Keeps each backup as the .reg text an export of the key gives, or the deletion of a key
// that did not exist; fails when told to.
class MemoryBackup final : public KeyBackup {
 public:
  explicit MemoryBackup(RegistryEngine& engine) : m_engine(engine) {}
  bool Save(const std::string& name, const std::string& key, bool exists,
            std::string* reason) override {
    if (refuse) {
      *reason = "the disk is full";
      return false;
    }
    names.push_back(name);
    if (!exists) {
      files.push_back("REGEDIT4\r\n\r\n[-" + key + "]\r\n");
      return true;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_FALSE(RegExporter(m_engine).Export(&buffer, key, name).Failed());
    files.push_back(bytes.toStdString());
    return true;
  }
  bool refuse = false;
  std::vector<std::string> names;
  std::vector<std::string> files;

 private:
  RegistryEngine& m_engine;
};

std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(KESTROVA_TEST_DATA) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

using Line = std::tuple<std::string, std::string, std::string>;

class AssociationCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_engine = m_store.Engine();
    Import(DataFile("one-problem-each.reg"));
  }
  void Import(const std::string& text) {
    ASSERT_FALSE(RegImporter(*m_engine).Import(std::string_view(text), "test.reg").Failed());
  }
  std::vector<Finding> Check() { return CheckAssociations(*m_engine, m_programs, m_files); }
  // Kind, subject and problem of each finding, in the order found.
  std::vector<Line> Lines() {
    std::vector<Line> lines;
    for (const Finding& f : Check())
      lines.emplace_back(CheckKindName(f.kind), f.subject, f.problem);
    return lines;
  }
  const std::vector<Line> kAll = {
      {"dangling-extension", ".dangling",
       "names the file type \"nosuchfile\", which does not exist"},
      {"unused-file-type", "lonelyfile", "no extension names this file type"},
      {"missing-program", "brokenfile\\Shell\\open",
       "the program \"/opt/gone/app\" does not exist"},
      {"bad-default-action", "brokenfile", "the default action \"view\" is not one of its actions"},
      {"broken-icon", "brokenfile",
       "the icon file \"/icons/good.ico\" holds 2 icons, not one at index 2"},
      {"unknown-content-type", ".broken",
       "the MIME database does not know the content type \"application/x-unknown\""},
  };

  test::TestStore m_store;
  std::shared_ptr<RegistryEngine> m_engine;
  KnownPrograms m_programs;
  KnownFiles m_files;
};

TEST_F(AssociationCheckTest, FindsOneProblemOfEachKindAndNothingElse) {
  EXPECT_EQ(Lines(), kAll);
  // Each distinct command line is resolved once, however many actions share it.
  EXPECT_EQ(m_programs.calls, 5);
}

// The store is read in the order its keys were made, but findings come in the order of
// names: here "zzfile" is made before "aafile", and each has two broken actions.
TEST_F(AssociationCheckTest, FindingsFollowNamesNotTheOrderKeysWereMade) {
  Import(
      "REGEDIT4\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\zzfile\\shell\\edit\\command]\r\n@=\"/opt/gone/zz\"\r\n"
      "[HKEY_CLASSES_ROOT\\zzfile\\shell\\open\\command]\r\n@=\"/opt/gone/zz\"\r\n"
      "[HKEY_CLASSES_ROOT\\aafile\\shell\\edit\\command]\r\n@=\"/opt/gone/aa\"\r\n"
      "[HKEY_CLASSES_ROOT\\aafile\\shell\\open\\command]\r\n@=\"/opt/gone/aa\"\r\n");
  std::vector<std::string> missing;
  std::vector<std::string> unused;
  for (const Finding& f : Check()) {
    if (f.kind == CheckKind::MissingProgram) missing.push_back(f.subject);
    if (f.kind == CheckKind::UnusedFileType) unused.push_back(f.subject);
  }
  EXPECT_EQ(missing, (std::vector<std::string>{"aafile\\Shell\\edit", "aafile\\Shell\\open",
                                               "brokenfile\\Shell\\open", "zzfile\\Shell\\edit",
                                               "zzfile\\Shell\\open"}));
  EXPECT_EQ(unused, (std::vector<std::string>{"aafile", "lonelyfile", "zzfile"}));
}

TEST_F(AssociationCheckTest, OnlyUnusedFileTypesAreInformation) {
  for (const Finding& f : Check()) {
    EXPECT_EQ(IsFault(f.kind), f.kind != CheckKind::UnusedFileType) << f.subject;
    EXPECT_EQ(f.mend.empty(), !IsFault(f.kind)) << f.subject;
  }
  for (CheckKind kind : kAllCheckKinds) {
    CheckKind back;
    ASSERT_TRUE(CheckKindFromName(CheckKindName(kind), &back));
    EXPECT_EQ(back, kind);
  }
  CheckKind unused;
  EXPECT_FALSE(CheckKindFromName("Missing-Program", &unused));
}

TEST_F(AssociationCheckTest, ReportsProgramsThatCannotRunAndIconsThatAreNotThere) {
  Import(
      "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\goodfile\\Shell\\open\\command]\n@=\"/etc/passwd %1\"\n\n"
      "[HKEY_CLASSES_ROOT\\goodfile\\DefaultIcon]\n@=\"/icons/gone.ico\"\n\n"
      "[HKEY_CLASSES_ROOT\\lonelyfile\\DefaultIcon]\n@=\"/icons/empty.ico,0\"\n");
  const auto lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{"missing-program", "goodfile\\Shell\\open",
                           "the program \"/etc/passwd\" cannot be run"}),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{"broken-icon", "goodfile",
                           "the icon file \"/icons/gone.ico\" does not exist"}),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{"broken-icon", "lonelyfile",
                           "the icon file \"/icons/empty.ico\" holds no icons"}),
            lines.end());
}

TEST_F(AssociationCheckTest, ReportsADatabaseEntryThatNamesAnotherExtension) {
  // .plain2 shares text/shared with .plain, which the database names: fine. Once .plain
  // has another type, the database's entry is stale for .plain2.
  Import(
      "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.plain]\n\"Content Type\"=\"text/other\"\n\n"
      "[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/other]\n");
  const auto findings = Check();
  ASSERT_EQ(findings.size(), kAll.size() + 1);
  const Finding& stale = findings.back();
  EXPECT_EQ(stale.subject, ".plain2");
  EXPECT_EQ(stale.problem,
            "the MIME database gives the content type \"text/shared\" to \".plain\", which does "
            "not have it");

  MemoryBackup backup(*m_engine);
  AssociationMender mender(*m_engine, backup);
  std::string done;
  ASSERT_TRUE(mender.Mend(stale, &done)) << done;
  EXPECT_EQ(ReadValue("\\MIME\\Database\\Content Type\\text/shared", "Extension"), ".plain2");
  EXPECT_EQ(backup.names, std::vector<std::string>{"text/shared"});
  EXPECT_EQ(Check().size(), kAll.size());
}

TEST_F(AssociationCheckTest, NamesMatchAsTheStoreMatchesThemBeyondAscii) {
  Import(
      "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.umlaut]\n@=\"\xC3\x84RGERFILE\"\n\n"
      "[HKEY_CLASSES_ROOT\\\xC3\xA4rgerfile\\Shell\\open\\command]\n@=\"good %1\"\n");
  EXPECT_EQ(Lines(), kAll);
}

TEST_F(AssociationCheckTest, ProgressRunsFromZeroToOne) {
  std::vector<double> seen;
  CheckAssociations(*m_engine, m_programs, m_files, [&seen](double f) { seen.push_back(f); });
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_DOUBLE_EQ(seen.back(), 1.0);
}

// Each mend, alone on a fresh store: its finding goes, every other stays, its backup was
// taken of the key as it was, and importing that backup brings the problem back.
TEST_F(AssociationCheckTest, EachMendFixesExactlyItsProblemAndItsBackupUndoesIt) {
  const auto before = Check();
  for (size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(CheckKindName(before[i].kind));
    test::TestStore store;
    auto engine = store.Engine();
    ASSERT_FALSE(RegImporter(*engine)
                     .Import(std::string_view(DataFile("one-problem-each.reg")), "t.reg")
                     .Failed());
    MemoryBackup backup(*engine);
    AssociationMender mender(*engine, backup);
    std::string done;
    const bool mended = mender.Mend(before[i], &done);
    EXPECT_EQ(mended, IsFault(before[i].kind)) << done;
    auto expected = kAll;
    if (mended) expected.erase(expected.begin() + static_cast<long>(i));
    std::vector<Line> after;
    for (const Finding& f : CheckAssociations(*engine, m_programs, m_files))
      after.emplace_back(CheckKindName(f.kind), f.subject, f.problem);
    EXPECT_EQ(after, expected);
    if (!mended) {
      EXPECT_TRUE(backup.files.empty());
      continue;
    }
    ASSERT_EQ(backup.files.size(), 1u);
    ASSERT_FALSE(
        RegImporter(*engine).Import(std::string_view(backup.files[0]), "backup.reg").Failed());
    after.clear();
    for (const Finding& f : CheckAssociations(*engine, m_programs, m_files))
      after.emplace_back(CheckKindName(f.kind), f.subject, f.problem);
    EXPECT_EQ(after, kAll);
  }
}

TEST_F(AssociationCheckTest, MendsChangeWhatTheySayAndBackUpEachKeyOnce) {
  MemoryBackup backup(*m_engine);
  AssociationMender mender(*m_engine, backup);
  for (const Finding& f : Check()) {
    std::string done;
    mender.Mend(f, &done);
  }
  EXPECT_FALSE(HasKey("\\.dangling"));
  EXPECT_FALSE(HasKey("\\brokenfile\\Shell\\open"));
  EXPECT_TRUE(HasKey("\\brokenfile\\Shell\\edit"));
  EXPECT_EQ(ReadValue("\\brokenfile\\Shell", ""), "(no value)");
  EXPECT_FALSE(HasKey("\\brokenfile\\DefaultIcon"));
  EXPECT_EQ(ReadValue("\\MIME\\Database\\Content Type\\application/x-unknown", "Extension"),
            ".broken");
  EXPECT_TRUE(HasKey("\\lonelyfile"));
  // brokenfile was changed three times and backed up once, before the first change.
  EXPECT_EQ(backup.names,
            (std::vector<std::string>{".dangling", "brokenfile", "application/x-unknown"}));
  EXPECT_NE(backup.files[1].find("/opt/gone/app"), std::string::npos);
  EXPECT_NE(backup.files[1].find("[HKEY_CLASSES_ROOT\\brokenfile\\DefaultIcon]"),
            std::string::npos);
  EXPECT_EQ(backup.files[2],
            "REGEDIT4\r\n\r\n[-HKEY_CLASSES_ROOT\\MIME\\Database\\Content "
            "Type\\application/x-unknown]\r\n");
  // Only the information is left.
  const auto left = Check();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].kind, CheckKind::UnusedFileType);
}

TEST_F(AssociationCheckTest, AFailedBackupChangesNothing) {
  MemoryBackup backup(*m_engine);
  backup.refuse = true;
  AssociationMender mender(*m_engine, backup);
  for (const Finding& f : Check()) {
    std::string done;
    EXPECT_FALSE(mender.Mend(f, &done));
    if (IsFault(f.kind)) {
      EXPECT_NE(done.find("the disk is full"), std::string::npos) << done;
    }
  }
  EXPECT_EQ(Lines(), kAll);
}

TEST_F(AssociationCheckTest, AProblemGoneMeanwhileIsLeftAlone) {
  const auto findings = Check();
  Import("REGEDIT4\n\n[-HKEY_CLASSES_ROOT\\.dangling]\n[-HKEY_CLASSES_ROOT\\brokenfile\\Shell]\n");
  MemoryBackup backup(*m_engine);
  AssociationMender mender(*m_engine, backup);
  std::string done;
  EXPECT_TRUE(mender.Mend(findings[0], &done));
  EXPECT_EQ(done, "already mended: .dangling");
  EXPECT_TRUE(mender.Mend(findings[2], &done));
  EXPECT_TRUE(backup.names.empty());
}

// The desktop as facts: one problem of each desktop kind beside lines and entries that are
// sound.
class FakeDesktopProbe final : public DesktopProbe {
 public:
  DesktopFacts Read() override {
    DesktopFacts facts;
    facts.userList = {
        {"Default Applications", true, "text/plain", {"gone.desktop", "editor.desktop"}},
        {"Added Associations",
         false,
         "text/plain",
         {"editor.desktop", "wine-extension-txt.desktop"}},
        {"Default Applications", true, "image/png", {"kestrova-pngfile.desktop"}},
    };
    facts.ownEntries = {"kestrova-pngfile.desktop", "kestrova-txtfile.desktop",
                        "kestrova-old.desktop"};
    facts.ledgerEntries = {"kestrova-txtfile.desktop"};
    facts.wineEntries = {{"wine-extension-kbq.desktop", "/pfx/live", true, {"a/b"}, 0},
                         {"wine-extension-txt.desktop", "/pfx/gone", false, {"text/plain"}, 1}};
    facts.wineOrphanTypes = {"application/x-wine-extension-old"};
    return facts;
  }
  bool EntryExists(const std::string& id) override {
    asked.push_back(id);
    return id != "gone.desktop";
  }
  std::vector<std::string> asked;
};

class RecordingMends final : public DesktopMends {
 public:
  bool Mend(const Finding& finding, std::string* done) override {
    mended.push_back(finding.subject);
    *done = "mended " + finding.subject;
    return true;
  }
  std::vector<std::string> mended;
};

TEST_F(AssociationCheckTest, TheDesktopsKindsFollowTheStoresWithOneFindingEach) {
  FakeDesktopProbe desktop;
  std::vector<Line> lines;
  std::vector<Finding> desktopFindings;
  for (const Finding& f : CheckAssociations(*m_engine, m_programs, m_files, {}, &desktop)) {
    lines.emplace_back(CheckKindName(f.kind), f.subject, f.problem);
    if (IsDesktopKind(f.kind)) desktopFindings.push_back(f);
  }
  std::vector<Line> expected = kAll;
  expected.insert(
      expected.end(),
      {{"stale-desktop-default", "text/plain",
        "the default \"gone.desktop\" in mimeapps.list names an application that is not "
        "installed"},
       {"unused-desktop-entry", "kestrova-old.desktop",
        "Kestrova's desktop entry is not applied to any extension nor chosen in mimeapps.list"},
       {"wine-leftover", "wine-extension-txt.desktop",
        "opens files in the Wine prefix \"/pfx/gone\", which no longer exists; 1 line of "
        "mimeapps.list choose it"},
       {"wine-leftover", "application/x-wine-extension-old",
        "a MIME type of Wine's that no Wine entry lists"}});
  EXPECT_EQ(lines, expected);
  // Each id is looked up once; Wine's entries are known to exist already.
  EXPECT_EQ(desktop.asked, (std::vector<std::string>{"gone.desktop", "editor.desktop",
                                                     "kestrova-pngfile.desktop"}));
  ASSERT_EQ(desktopFindings.size(), 4u);
  EXPECT_EQ(desktopFindings[0].listGroup, "Default Applications");
  EXPECT_EQ(desktopFindings[0].contentType, "text/plain");
  EXPECT_EQ(desktopFindings[0].desktopEntry, "gone.desktop");
  EXPECT_EQ(desktopFindings[2].desktopEntry, "wine-extension-txt.desktop");
  EXPECT_EQ(desktopFindings[3].contentType, "application/x-wine-extension-old");
  for (const Finding& f : desktopFindings) {
    EXPECT_TRUE(IsFault(f.kind));
    EXPECT_FALSE(f.mend.empty());
  }
  for (const char* name : {"stale-desktop-default", "unused-desktop-entry", "wine-leftover"}) {
    CheckKind kind;
    EXPECT_TRUE(CheckKindFromName(name, &kind)) << name;
    EXPECT_TRUE(IsDesktopKind(kind));
  }
}

TEST_F(AssociationCheckTest, DesktopMendsGoToTheDesktopAndNeverToTheStore) {
  FakeDesktopProbe desktop;
  const auto findings = CheckAssociations(*m_engine, m_programs, m_files, {}, &desktop);
  const Finding& stale = *std::find_if(findings.begin(), findings.end(), [](const Finding& f) {
    return f.kind == CheckKind::StaleDesktopDefault;
  });
  MemoryBackup backup(*m_engine);
  std::string done;
  // Without the desktop's mends nothing is done, and that is said.
  AssociationMender storeOnly(*m_engine, backup);
  EXPECT_FALSE(storeOnly.Mend(stale, &done));
  EXPECT_EQ(done, "not mended: text/plain: the desktop's files are not at hand");

  RecordingMends mends;
  AssociationMender mender(*m_engine, backup, &mends);
  EXPECT_TRUE(mender.Mend(stale, &done));
  EXPECT_EQ(done, "mended text/plain");
  EXPECT_TRUE(mender.Mend(findings[0], &done));  // a store finding stays the store's
  EXPECT_EQ(mends.mended, std::vector<std::string>{"text/plain"});
  EXPECT_EQ(backup.names, std::vector<std::string>{".dangling"});
}

}  // namespace
}  // namespace kestrova
