// The desktop's opener with real processes: argdump stands in for the programs it starts
// and for the desktop's document opener, so nothing real is ever opened.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/OpenerDesktop.h"
#include "shell/ProcessLauncher.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

const std::string kArgdump = KESTROVA_ARGDUMP;

Lines ReadLines(const std::string& path) {
  Lines lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 1000 && !Exists(path); ++i) std::this_thread::sleep_for(10ms);
  return Exists(path);
}

// Gone entirely: not running, and not left behind as a zombie either.
bool Reaped(long pid) {
  for (int i = 0; i < 1000; ++i) {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

void MakeFile(const std::string& path, const std::string& text, mode_t mode) {
  test::WriteFile(path, text);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

class DesktopOpenerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_desktopopener";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!QApplication::instance()) new QApplication(argc, argv);  // lives to the end
  }

  void SetUp() override {
    SetBoxes(m_boxes);
    m_out = m_dir.File("out.txt");
    setenv("ARGDUMP_OUT", m_out.c_str(), 1);
    std::filesystem::create_directory(m_prog);
    Install({});
  }

  void TearDown() override {
    for (const char* name : {"ARGDUMP_OUT", "ARGDUMP_CWD", "ARGDUMP_SLEEP_MS", "ARGDUMP_EXIT"}) {
      unsetenv(name);
    }
    SetOpener(nullptr);
    SetBoxes(nullptr);
  }

  // The opener under test: kestrova-regedit is looked for in m_prog, documents go to
  // `documentOpener` (argdump unless a test says otherwise).
  void Install(const std::string& documentOpener) {
    DesktopOpener::Options options;
    options.programDir = Q(m_prog);
    options.documentOpener = Q(documentOpener.empty() ? kArgdump : documentOpener);
    SetOpener(std::make_shared<DesktopOpener>(options));
  }

  // Starts `command` with `parameters` and expects `code` with one error box naming it.
  void ExpectFailure(const QString& command, int code, const QString& parameters = {},
                     const QString& dir = {}) {
    SCOPED_TRACE(command.toStdString());
    m_boxes->shown.clear();
    ProcessLauncher launcher(nullptr, true);
    launcher.SetText(0, command);
    launcher.SetText(1, parameters);
    launcher.SetText(2, dir);
    launcher.Start();
    EXPECT_EQ(launcher.LastError(), code);
    EXPECT_EQ(launcher.ProcessHandle(), nullptr);
    ASSERT_EQ(m_boxes->shown.size(), 1u);
    EXPECT_EQ(m_boxes->shown[0].caption, "Kestrova");
    EXPECT_EQ(m_boxes->shown[0].icon, Boxes::Icon::Error);
    QString named = command;
    named.replace(QChar(0), "\\0");
    EXPECT_TRUE(m_boxes->shown[0].text.contains(named)) << m_boxes->shown[0].text.toStdString();
  }

  std::shared_ptr<test::RecordingBoxes> m_boxes = std::make_shared<test::RecordingBoxes>();
  test::TempDir m_dir;
  std::string m_prog = m_dir.File("prog dir");
  std::string m_out;
};

TEST_F(DesktopOpenerTest, RegeditRunsTheEditorBesideTheProgramAndWaitsForIt) {
  EXPECT_EQ(DesktopOpener().RegeditPath(),
            QCoreApplication::applicationDirPath() + "/kestrova-regedit");
  std::filesystem::create_symlink(kArgdump, m_prog + "/kestrova-regedit");
  setenv("ARGDUMP_SLEEP_MS", "300", 1);
  const std::string backup = m_dir.File("My Backups") + "/txt-20261207-113905.reg";

  ProcessLauncher launcher(nullptr, true);
  launcher.SetText(0, "rEgEdIt.ExE");
  launcher.SetText(1, Q("/e \"" + backup + "\" HKEY_CLASSES_ROOT\\.txt"));
  QElapsedTimer timer;
  timer.start();
  launcher.Start();
  EXPECT_GE(timer.elapsed(), 300);
  // Start() came back after the editor had ended, and nothing of it is left.
  EXPECT_EQ(ReadLines(m_out), (Lines{"/e", backup, "HKEY_CLASSES_ROOT\\.txt"}));
  ASSERT_NE(launcher.ProcessHandle(), nullptr);
  EXPECT_TRUE(Reaped(launcher.ProcessHandle()->Id()));
  EXPECT_EQ(launcher.LastError(), 0);
  EXPECT_TRUE(m_boxes->shown.empty());

  // The Registry command after a backup: no arguments at all.
  unsetenv("ARGDUMP_SLEEP_MS");
  launcher.SetText(1, "");
  launcher.Start();
  EXPECT_TRUE(Exists(m_out));
  EXPECT_EQ(ReadLines(m_out), Lines{});
}

TEST_F(DesktopOpenerTest, ArgumentsReachTheProgramAsTheyAreInItsFolderNeverThroughAShell) {
  const std::string work = m_dir.File("work dir");
  std::filesystem::create_directory(work);
  setenv("ARGDUMP_CWD", m_dir.File("cwd.txt").c_str(), 1);

  ProcessLauncher launcher(nullptr, true);
  launcher.SetText(0, Q(kArgdump));
  launcher.SetText(1, R"($(touch pwned) ; "a|b" '&' `id` * ~ %PATH% \\server\share\ "" "x\"y")");
  launcher.SetText(2, Q(work));
  launcher.Start();
  EXPECT_EQ(ReadLines(m_out), (Lines{"$(touch", "pwned)", ";", "a|b", "'&'", "`id`", "*", "~",
                                     "%PATH%", R"(\\server\share\)", "", R"(x"y)"}));
  EXPECT_EQ(ReadLines(m_dir.File("cwd.txt")), Lines{work});
  EXPECT_FALSE(Exists(work + "/pwned"));
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(DesktopOpenerTest, NamesAreLookedUpOnPath) {
  const std::string bin = m_dir.File("bin");
  std::filesystem::create_directory(bin);
  std::filesystem::create_symlink(kArgdump, bin + "/kestrova-argdump");
  MakeFile(bin + "/kestrova-not-a-program", "text", 0644);
  // A relative entry of PATH would run what lies in the current folder: it is skipped.
  std::filesystem::create_directory(m_dir.File("relative"));
  std::filesystem::create_symlink(kArgdump, m_dir.File("relative/kestrova-only-here"));
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  const std::string path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", ("relative::" + bin + ":" + path).c_str(), 1);

  ProcessLauncher launcher(nullptr, true);
  launcher.SetText(0, "kestrova-argdump");
  launcher.SetText(1, "found");
  launcher.Start();
  EXPECT_EQ(ReadLines(m_out), Lines{"found"});
  ExpectFailure("kestrova-not-a-program", OpenCode::AccessDenied);
  ExpectFailure("kestrova-no-such-program", OpenCode::FileNotFound);
  ExpectFailure("kestrova-only-here", OpenCode::FileNotFound);
  setenv("PATH", path.c_str(), 1);
  std::filesystem::current_path(cwd);
}

TEST_F(DesktopOpenerTest, WithoutWaitStartReturnsAtOnceAndAClosedHandleLeavesTheProcessRunning) {
  setenv("ARGDUMP_SLEEP_MS", "2000", 1);
  ProcessLauncher launcher(nullptr, false);
  launcher.SetText(0, Q(kArgdump));
  launcher.Start();
  EXPECT_FALSE(Exists(m_out));
  ASSERT_NE(launcher.ProcessHandle(), nullptr);
  const long first = launcher.ProcessHandle()->Id();

  // The next start closes the first handle: the process runs on, and is reaped at its end.
  launcher.SetText(0, Q(m_dir.File("none-such")));
  launcher.Start();
  EXPECT_EQ(launcher.ProcessHandle(), nullptr);
  EXPECT_EQ(kill(static_cast<pid_t>(first), 0), 0);
  EXPECT_TRUE(WaitForFile(m_out));
  EXPECT_TRUE(Reaped(first));

  // A handle that is kept can still be waited for.
  std::filesystem::remove(m_out);
  setenv("ARGDUMP_SLEEP_MS", "300", 1);
  launcher.SetText(0, Q(kArgdump));
  launcher.Start();
  EXPECT_FALSE(Exists(m_out));
  launcher.ProcessHandle()->Wait();
  EXPECT_TRUE(Exists(m_out));
  EXPECT_TRUE(Reaped(launcher.ProcessHandle()->Id()));
}

TEST_F(DesktopOpenerTest, MissingTargetsGiveTwoOrThreeWithTheOpenersOwnMessage) {
  ExpectFailure(Q(m_dir.File("none-such.txt")), OpenCode::FileNotFound);
  ExpectFailure(Q(m_dir.File("no folder/none-such.txt")), OpenCode::PathNotFound);
  ExpectFailure("Regedit.exe", OpenCode::FileNotFound, "/e x.reg");  // none beside the program
  // A NUL would cut the name short and start /bin/true instead.
  ExpectFailure(QString("/bin/true") + QChar(0) + "x", OpenCode::FileNotFound);
  ExpectFailure(Q(kArgdump), OpenCode::PathNotFound, {}, Q(m_dir.File("gone")));
  EXPECT_FALSE(Exists(m_out));

  m_boxes->shown.clear();
  ProcessLauncher launcher(nullptr, true);
  launcher.Start();  // nothing to open
  EXPECT_EQ(launcher.LastError(), OpenCode::FileNotFound);
  EXPECT_EQ(m_boxes->Messages().size(), 1u);
}

TEST_F(DesktopOpenerTest, RefusedStartsGiveFive) {
  // Executable by its mode, but no program: it must not be handed to a shell instead.
  const std::string script = m_dir.File("script");
  MakeFile(script, "touch '" + m_dir.File("ran-by-a-shell") + "'\n", 0755);
  ExpectFailure(Q(script), OpenCode::AccessDenied);
  EXPECT_FALSE(Exists(m_dir.File("ran-by-a-shell")));

  MakeFile(m_prog + "/kestrova-regedit", "not a program", 0644);
  ExpectFailure("REGEDIT.EXE", OpenCode::AccessDenied);
}

TEST_F(DesktopOpenerTest, DocumentsAndWebAddressesGoToTheDocumentOpenerUnwaited) {
  setenv("ARGDUMP_SLEEP_MS", "2000", 1);
  const std::string document = m_dir.File("read me.txt");
  MakeFile(document, "text", 0644);
  const QString address = "https://example.invalid/search?q=a b&x=$(y)";
  ProcessLauncher launcher(nullptr, true);

  struct Case {
    QString command;
    std::string expected;
  };
  const std::vector<Case> cases = {{Q(document), document},
                                   {address, address.toStdString()},
                                   {Q(m_prog), m_prog},
                                   {"./read me.txt", document}};  // relative to our folder
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  for (size_t i = 0; i < cases.size(); ++i) {
    setenv("ARGDUMP_OUT", m_dir.File("out" + std::to_string(i)).c_str(), 1);
    launcher.SetText(0, cases[i].command);
    launcher.SetText(1, "-not-for-documents");
    launcher.Start();
    EXPECT_EQ(launcher.ProcessHandle(), nullptr);
    EXPECT_FALSE(Exists(m_dir.File("out" + std::to_string(i)))) << "Start() waited";
  }
  std::filesystem::current_path(cwd);
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string out = m_dir.File("out" + std::to_string(i));
    ASSERT_TRUE(WaitForFile(out));
    EXPECT_EQ(ReadLines(out), Lines{cases[i].expected});
  }
  EXPECT_EQ(launcher.LastError(), 0);
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(DesktopOpenerTest, NoDocumentOpenerGivesThirtyOne) {
  const std::string document = m_dir.File("doc.txt");
  MakeFile(document, "text", 0644);
  Install(m_dir.File("no-xdg-open"));
  ExpectFailure(Q(document), OpenCode::NoAssociation);
  Install("kestrova-no-such-opener");
  ExpectFailure("https://example.invalid/", OpenCode::NoAssociation);
}

TEST_F(DesktopOpenerTest, ADocumentOpenerThatFailsLaterIsToldWhenItEnds) {
  const std::string document = m_dir.File("doc.txt");
  MakeFile(document, "text", 0644);
  ProcessLauncher launcher(nullptr, true);
  launcher.SetText(0, Q(document));
  for (const auto& [exit, text] :
       {std::pair{"3", "No application is available to open"}, {"4", "ended with status 4"}}) {
    m_boxes->shown.clear();
    setenv("ARGDUMP_EXIT", exit, 1);
    launcher.Start();
    EXPECT_EQ(launcher.LastError(), 0);
    for (int i = 0; i < 1000 && m_boxes->shown.empty(); ++i) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(m_boxes->Messages().size(), 1u);
    EXPECT_TRUE(m_boxes->Messages()[0].contains(text)) << m_boxes->Messages()[0].toStdString();
    EXPECT_TRUE(m_boxes->Messages()[0].contains(Q(document)));
  }
}

}  // namespace
}  // namespace kestrova
