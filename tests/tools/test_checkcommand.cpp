// kestrova-regedit --check: its lines and exit statuses, the mends of --fix with their backup
// files, and the program's own seeded store, which must check clean.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/DefaultStore.h"
#include "platform/CheckProbesDesktop.h"
#include "platform/IconSourceFactory.h"
#include "platform/SqliteStore.h"
#include "platform/WindowsCommandLine.h"
#include "regfile/RegImporter.h"
#include "regfile/RegKeyBackup.h"
#include "store/AssocLayout.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"
#include "tools/CheckCommand.h"
#include "tools/RegeditCommand.h"

namespace kestrova {
namespace {

using test::ReadFile;
using test::TempDir;
using test::TestStore;

// Programs by name, as a machine with them installed would answer.
class KnownPrograms final : public ProgramResolver {
 public:
  explicit KnownPrograms(std::set<std::string> known) : m_known(std::move(known)) {}
  ProgramState Resolve(const std::string& line, std::string* program) override {
    *program = SplitProgramName(line).program;
    if (program->starts_with("%")) return ProgramState::NotChecked;
    return m_known.contains(*program) ? ProgramState::Found : ProgramState::Missing;
  }

 private:
  std::set<std::string> m_known;
};

class KnownFiles final : public CheckFiles {
 public:
  bool Exists(const std::string& file) override { return file == "/icons/good.ico"; }
  int IconCount(const std::string&) override { return 2; }
};

struct Outcome {
  int rc;
  std::string out;
  std::string err;
};

std::function<std::string(const std::string&)> FilesIn(const std::string& dir) {
  return [dir](const std::string& name) { return CheckBackupFile(dir, name); };
}

std::string DataFile(const std::string& name) {
  return ReadFile(std::string(KESTROVA_SOURCE_DIR) + "/tests/store/data/" + name);
}

class CheckCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_engine = m_store.Engine();
    const std::string text = DataFile("one-problem-each.reg");
    ASSERT_FALSE(RegImporter(*m_engine).Import(std::string_view(text), "t.reg").Failed());
  }
  Outcome Run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    RegKeyBackup backup(*m_engine, FilesIn(m_backups.Path() + "/"), &out);
    const int rc = RunCheck(args, *m_engine, m_programs, m_files, backup, out, err);
    return {rc, out.str(), err.str()};
  }
  std::vector<std::string> BackupFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(m_backups.Path()))
      files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
  }

  TestStore m_store;
  std::shared_ptr<RegistryEngine> m_engine;
  TempDir m_backups;
  KnownPrograms m_programs{{"/usr/bin/good", "good"}};
  KnownFiles m_files;
};

const char kAllLines[] =
    "dangling-extension\t.dangling\tnames the file type \"nosuchfile\", which does not exist\n"
    "unused-file-type\tlonelyfile\tno extension names this file type\n"
    "missing-program\tbrokenfile\\Shell\\open\tthe program \"/opt/gone/app\" does not exist\n"
    "bad-default-action\tbrokenfile\tthe default action \"view\" is not one of its actions\n"
    "broken-icon\tbrokenfile\tthe icon file \"/icons/good.ico\" holds 2 icons, not one at "
    "index 2\n"
    "unknown-content-type\t.broken\tthe MIME database does not know the content type "
    "\"application/x-unknown\"\n";

TEST_F(CheckCommandTest, PrintsOneLinePerFindingAndFailsOnFaults) {
  const Outcome o = Run({"--check"});
  EXPECT_EQ(o.rc, 1);
  EXPECT_EQ(o.out, kAllLines);
  EXPECT_EQ(o.err, "");
  EXPECT_TRUE(BackupFiles().empty());  // a check alone writes nothing
}

TEST_F(CheckCommandTest, FixMendsOneKindWithABackupThatUndoesIt) {
  const Outcome o = Run({"--check", "--fix", "missing-program"});
  ASSERT_EQ(o.rc, 0) << o.err;
  const auto files = BackupFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::filesystem::path(files[0]).filename().string().starts_with("brokenfile-"));
  EXPECT_EQ(o.out, "backup\t" + files[0] +
                       "\nmissing-program\tbrokenfile\\Shell\\open\tremoved the action "
                       "brokenfile\\Shell\\open\n");
  EXPECT_FALSE(test::HasKey("\\brokenfile\\Shell\\open"));

  // Only that kind went.
  Outcome after = Run({"--check"});
  EXPECT_EQ(after.rc, 1);
  EXPECT_EQ(after.out.find("missing-program"), std::string::npos);
  EXPECT_NE(after.out.find("bad-default-action"), std::string::npos);

  std::ostringstream err;
  EXPECT_EQ(ImportRegFile(*m_engine, files[0], false, err), kExitOk) << err.str();
  EXPECT_EQ(Run({"--check"}).out, kAllLines);
}

TEST_F(CheckCommandTest, FixAllLeavesOnlyInformationAndItsBackupsUndoEverything) {
  const Outcome o = Run({"--check", "--fix", "all"});
  ASSERT_EQ(o.rc, 0) << o.err;
  // One backup per key: the extension, the file type (three mends), the new content type.
  const auto files = BackupFiles();
  ASSERT_EQ(files.size(), 3u) << o.out;
  const Outcome clean = Run({"--check"});
  EXPECT_EQ(clean.rc, 0);
  EXPECT_EQ(clean.out, "unused-file-type\tlonelyfile\tno extension names this file type\n");

  for (const std::string& file : files) {
    std::ostringstream err;
    EXPECT_EQ(ImportRegFile(*m_engine, file, false, err), kExitOk) << file << err.str();
  }
  EXPECT_EQ(Run({"--check"}).out, kAllLines);
}

TEST_F(CheckCommandTest, RefusesWhatItCannotDo) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--check", "--fix"},
                                             {"--check", "--fix", "nonsense"},
                                             {"--check", "--fix", "unused-file-type"},
                                             {"--check", "extra"}}) {
    const Outcome o = Run(args);
    EXPECT_EQ(o.rc, 2) << args.back();
    EXPECT_NE(o.err.find("Usage: kestrova-regedit --check"), std::string::npos);
    EXPECT_EQ(o.out, "");
  }
  EXPECT_EQ(Run({"--check"}).out, kAllLines);  // nothing changed
}

TEST_F(CheckCommandTest, AFailedBackupIsReportedAndChangesNothing) {
  std::ostringstream out, err;
  TempDir dir;
  test::WriteFile(dir.File("file"), "");
  RegKeyBackup backup(*m_engine, FilesIn(dir.File("file") + "/sub/"), &out);
  const int rc = RunCheck({"--check", "--fix", "dangling-extension"}, *m_engine, m_programs,
                          m_files, backup, out, err);
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.str().find("not mended: .dangling: the folder"), std::string::npos) << err.str();
  EXPECT_TRUE(test::HasKey("\\.dangling"));
}

// The same store beside a desktop of the test's own with one problem of each desktop kind,
// and sound lines and entries that must not be reported.
class DesktopCheckCommandTest : public CheckCommandTest {
 protected:
  void SetUp() override {
    CheckCommandTest::SetUp();
    m_gone = m_desk.File("prefixes/gone");
    const std::string apps = m_desk.File("data/applications/");
    std::filesystem::create_directories(apps);
    std::filesystem::create_directories(m_desk.File("data/mime/packages"));
    std::filesystem::create_directories(m_desk.File("prefixes/live"));
    std::filesystem::create_directories(m_desk.File("config"));
    std::filesystem::create_directories(m_desk.File("data/kestrova"));
    test::WriteFile(m_desk.File("config/mimeapps.list"),
                    "[Default Applications]\n"
                    "text/x-kbq=missing-app.desktop;kestrova-pngfile.desktop;\n"
                    "image/png=kestrova-pngfile.desktop\n"
                    "application/x-wine-extension-kbq=wine-extension-kbq.desktop\n");
    const std::string entry = "[Desktop Entry]\nType=Application\nName=x\nExec=/bin/true %f\n";
    test::WriteFile(apps + "kestrova-pngfile.desktop", entry + "MimeType=image/png;\n");
    test::WriteFile(apps + "kestrova-old.desktop", entry + "MimeType=text/x-old;\n");
    test::WriteFile(apps + "kestrova-applied.desktop", entry + "MimeType=text/x-applied;\n");
    test::WriteFile(m_desk.File("data/kestrova/desktop-ledger.json"),
                    R"({"extensions": {"applied": {"appId": "kestrova-applied.desktop"}}})");
    const std::string wine = "[Desktop Entry]\nType=Application\nName=Kbq\nNoDisplay=true\n";
    test::WriteFile(apps + "wine-extension-kbq.desktop",
                    wine + "MimeType=application/x-wine-extension-kbq;\nExec=env WINEPREFIX=\"" +
                        m_gone + "\" wine start /ProgIDOpen KbqFile %f\n");
    test::WriteFile(apps + "wine-extension-live.desktop",
                    wine + "MimeType=application/x-wine-extension-live;\nExec=env WINEPREFIX=\"" +
                        m_desk.File("prefixes/live") + "\" wine start /ProgIDOpen L %f\n");
    test::WriteFile(m_desk.File("data/mime/packages/x-wine-extension-kbq.xml"), "<mime-info/>");
  }
  Outcome RunDesktop(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    RegKeyBackup backup(*m_engine, FilesIn(m_backups.Path() + "/"), &out);
    DesktopCheckView desktop(m_folders);
    const std::string copies = m_desk.File("copies/" + std::to_string(++m_runs) + "/");
    DesktopCheckMends mends(m_folders, [copies](const QString& name, const QString& suffix) {
      return QString::fromStdString(copies) + name + '.' + suffix;
    });
    const int rc =
        RunCheck(args, *m_engine, m_programs, m_files, backup, out, err, &desktop, &mends);
    m_copies = mends.Backups();
    return {rc, out.str(), err.str()};
  }
  // Puts each copy back where it came from.
  void Restore(const QStringList& copies) {
    for (const QString& copy : copies) {
      const std::string name = QFileInfo(copy).fileName().toStdString();
      std::string to = m_desk.File("data/applications/" + name);
      if (name == "mimeapps.list") to = m_desk.File("config/" + name);
      if (name.ends_with(".xml")) to = m_desk.File("data/mime/packages/" + name);
      test::WriteFile(to, ReadFile(copy.toStdString()));
    }
  }

  TempDir m_desk;
  std::string m_gone;
  DesktopFolders m_folders{QString::fromStdString(m_desk.File("data")),
                           QString::fromStdString(m_desk.File("config"))};
  int m_runs = 0;
  QStringList m_copies;
};

const char kStale[] =
    "stale-desktop-default\ttext/x-kbq\tthe default \"missing-app.desktop\" in mimeapps.list "
    "names an application that is not installed\n";
const char kUnused[] =
    "unused-desktop-entry\tkestrova-old.desktop\tKestrova's desktop entry is not applied to "
    "any extension nor chosen in mimeapps.list\n";
std::string WineLine(const std::string& gone) {
  return "wine-leftover\twine-extension-kbq.desktop\topens files in the Wine prefix \"" + gone +
         "\", which no longer exists; 1 line of mimeapps.list choose it\n";
}

TEST_F(DesktopCheckCommandTest, EachDesktopMendFixesExactlyItsProblemAndItsCopiesUndoIt) {
  const std::string all = kAllLines + std::string(kStale) + kUnused + WineLine(m_gone);
  ASSERT_EQ(RunDesktop({"--check"}).out, all);
  const struct {
    const char* kind;
    std::string line;
    size_t copies;
  } cases[] = {{"stale-desktop-default", kStale, 1},
               {"unused-desktop-entry", kUnused, 1},
               {"wine-leftover", WineLine(m_gone), 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const Outcome fixed = RunDesktop({"--check", "--fix", c.kind});
    EXPECT_EQ(fixed.rc, 0) << fixed.err;
    const QStringList copies = m_copies;
    EXPECT_EQ(copies.size(), c.copies) << fixed.out;
    std::string without = all;
    without.erase(without.find(c.line), c.line.size());
    EXPECT_EQ(RunDesktop({"--check"}).out, without);
    Restore(copies);
    EXPECT_EQ(RunDesktop({"--check"}).out, all);
  }
  // The sound entries stayed through all of it.
  EXPECT_TRUE(std::filesystem::exists(m_desk.File("data/applications/kestrova-applied.desktop")));
  EXPECT_TRUE(
      std::filesystem::exists(m_desk.File("data/applications/wine-extension-live.desktop")));
}

TEST_F(DesktopCheckCommandTest, TheStaleIdGoesAndTheNextApplicationTakesOver) {
  ASSERT_EQ(RunDesktop({"--check", "--fix", "stale-desktop-default"}).rc, 0);
  EXPECT_EQ(ReadFile(m_desk.File("config/mimeapps.list")),
            "[Default Applications]\n"
            "text/x-kbq=kestrova-pngfile.desktop;\n"
            "image/png=kestrova-pngfile.desktop\n"
            "application/x-wine-extension-kbq=wine-extension-kbq.desktop\n");
  ASSERT_EQ(RunDesktop({"--check", "--fix", "wine-leftover"}).rc, 0);
  EXPECT_FALSE(std::filesystem::exists(m_desk.File("data/mime/packages/x-wine-extension-kbq.xml")));
  EXPECT_EQ(ReadFile(m_desk.File("config/mimeapps.list")),
            "[Default Applications]\n"
            "text/x-kbq=kestrova-pngfile.desktop;\n"
            "image/png=kestrova-pngfile.desktop\n");
}

// An entry the user hid (Hidden=true) is not installed for the desktop; one that only
// mentions Hidden in a comment or another group is.
TEST_F(DesktopCheckCommandTest, AHiddenEntryCountsAsNotInstalled) {
  const std::string apps = m_desk.File("data/applications/");
  test::WriteFile(apps + "hidden-app.desktop",
                  "[Desktop Entry]\nType=Application\nName=h\nExec=/bin/true\nHidden = true\n");
  test::WriteFile(apps + "shown-app.desktop",
                  "# Hidden=true\n[Desktop Entry]\nType=Application\nName=s\nExec=/bin/true\n"
                  "[Desktop Action x]\nHidden=true\n");
  test::WriteFile(m_desk.File("config/mimeapps.list"),
                  "[Default Applications]\ntext/x-a=hidden-app.desktop\n"
                  "text/x-b=shown-app.desktop\n");
  const std::string out = RunDesktop({"--check"}).out;
  EXPECT_NE(out.find("stale-desktop-default\ttext/x-a\t"), std::string::npos) << out;
  EXPECT_EQ(out.find("text/x-b"), std::string::npos) << out;
}

TEST(CheckCommandHelp, HelpNamesTheCheck) {
  std::ostringstream out, err;
  EXPECT_EQ(RunRegedit({"--help"}, out, err), kExitOk);
  EXPECT_NE(out.str().find("--check --fix KIND"), std::string::npos);
}

// The program's own default store, with the programs it names installed, checks clean:
// the seed names only programs of a desktop, icons that ship with the program, and content
// types its MIME database knows.
TEST(SeededStoreCheck, HasNoFaults) {
  TempDir dir;
  const std::string path = dir.File("seeded.db");
  CreateSeededStore(
      path, QString::fromStdString(std::string(KESTROVA_SOURCE_DIR) + "/data/default-classes.reg"));
  auto engine = OpenSqliteStore(path);
  KnownPrograms programs({"/usr/bin/gedit", "/usr/bin/lp", "/usr/bin/vlc", "/usr/bin/eog",
                          "/usr/bin/libreoffice", "/usr/bin/gimp", "/usr/bin/file-roller",
                          "/usr/bin/firefox", "Regedit.exe", "/usr/bin/xdg-open",
                          "/usr/bin/inkscape", "/usr/bin/gnome-font-viewer", "/usr/bin/evince",
                          "/usr/bin/audacity", "/usr/bin/aplay", "/bin/sh"});
  DesktopCheckFiles files(AcquireIconSource());
  std::ostringstream out, err;
  RegKeyBackup backup(*engine, FilesIn(dir.File("backups/")));
  const int rc = RunCheck({"--check"}, *engine, programs, files, backup, out, err);
  EXPECT_EQ(rc, 0) << out.str() << err.str();
  EXPECT_EQ(out.str(), "") << "information about the seed is unexpected too";
}

// The real program: its exit statuses on a store of its own.
TEST(CheckCommandProcess, ExitStatusesOfTheProgram) {
  TempDir dir;
  const std::string store = dir.File("r.db");
  const auto run = [&](const std::string& args) {
    const std::string command = "KESTROVA_STORE='" + store + "' KESTROVA_BACKUP_DIR='" +
                                dir.File("b") + "' '" KESTROVA_REGEDIT_PATH "' " + args +
                                " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("--check"), 0);
  test::WriteFile(dir.File("x.reg"), "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.x]\n@=\"nofile\"\n");
  EXPECT_EQ(run("/s '" + dir.File("x.reg") + "'"), 0);
  EXPECT_EQ(run("--check"), 1);
  EXPECT_EQ(run("--check --fix dangling-extension"), 0);
  EXPECT_EQ(run("--check"), 0);
  EXPECT_EQ(run("--check --fix bogus"), 2);
}

}  // namespace
}  // namespace kestrova
