// The build tree as the README's start runs it: the programs in one folder with their data
// and help laid out as an install lays them out, and a save backed up for real by the
// kestrova-regedit that the built kestrova finds beside itself.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cstdlib>

#include "app/Main.h"
#include "platform/Clock.h"
#include "platform/OpenerDesktop.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/TestDoubles.h"

namespace kestrova::test {
namespace {

// The folder of the built kestrova: what the running program's own folder is.
const QString kProgramDir = QStringLiteral(KESTROVA_PROGRAM_DIR);

QString Installed(const QString& relative) { return QDir(kProgramDir).filePath(relative); }

TEST(BuildTree, HoldsTheProgramsDataAndHelpAsAnInstallDoes) {
  for (const char* program : {"kestrova", "kestrova-regedit"}) {
    const QFileInfo file(Installed(program));
    EXPECT_TRUE(file.isFile() && file.isExecutable()) << program;
  }
  for (const char* data :
       {"../share/kestrova/default-classes.reg", "../share/kestrova/icons/kestrova-types.dll",
        "../share/kestrova/icons/kestrova-types.ico", "../share/applications/kestrova.desktop",
        "../share/doc/kestrova/html/style.css"}) {
    EXPECT_TRUE(QFileInfo(Installed(data)).isFile()) << data;
  }
  int pages = 0;
  QDirIterator it(qEnvironmentVariable("KESTROVA_SOURCE_DIR") + "/docs/help", {"*.html"});
  while (it.hasNext()) {
    const QString page = "../share/doc/kestrova/html/" + QFileInfo(it.next()).fileName();
    EXPECT_TRUE(QFileInfo(Installed(page)).isFile()) << page.toStdString();
    ++pages;
  }
  EXPECT_GT(pages, 5);
#ifdef KESTROVA_HELP_BUILT
  EXPECT_TRUE(QFileInfo(Installed("zor20.chm")).isFile());
#endif
}

// One version everywhere: the about box's (checked with the main window), the
// application's, and what the built program prints for --version.
TEST(BuildTree, TheProgramTellsItsVersion) {
  EXPECT_EQ(QCoreApplication::applicationVersion(), "2.0");
  QProcess kestrova;
  kestrova.start(Installed("kestrova"), {"--version"});
  ASSERT_TRUE(kestrova.waitForFinished(30000));
  EXPECT_EQ(kestrova.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(kestrova.exitCode(), 0);
  EXPECT_EQ(kestrova.readAllStandardOutput(), "kestrova 2.0\n");
}

// The built program's first start seeds a new store, whose icons name the data folder beside
// the program; the built kestrova-regedit reads it back.
TEST(BuildTree, TheBuiltProgramFindsItsDataBesideItself) {
  TempDir dir;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KESTROVA_STORE", QString::fromStdString(dir.File("registry.db")));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.remove("KESTROVA_DATA_DIR");

  QProcess kestrova;
  kestrova.setProcessEnvironment(env);
  kestrova.start(Installed("kestrova"), {});
  ASSERT_TRUE(kestrova.waitForStarted());
  // The store appears complete or not at all; the program then goes on to its window.
  QElapsedTimer clock;
  clock.start();
  while (!QFileInfo::exists(QString::fromStdString(dir.File("registry.db"))) &&
         kestrova.state() == QProcess::Running && clock.elapsed() < 60000) {
    QThread::msleep(50);
  }
  kestrova.kill();
  kestrova.waitForFinished();
  ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(dir.File("registry.db"))))
      << kestrova.readAllStandardError().toStdString();

  QProcess regedit;
  regedit.setProcessEnvironment(env);
  regedit.start(Installed("kestrova-regedit"),
                {"/e", QString::fromStdString(dir.File("all.reg")), "HKEY_CLASSES_ROOT"});
  ASSERT_TRUE(regedit.waitForFinished(60000));
  ASSERT_EQ(regedit.exitCode(), 0) << regedit.readAllStandardError().toStdString();
  const QString exported = QString::fromStdString(ReadFile(dir.File("all.reg")));
  const QString icons =
      QDir(Installed("../share/kestrova")).canonicalPath() + "/icons/kestrova-types.dll";
  EXPECT_TRUE(exported.contains(icons)) << icons.toStdString();
}

class BuiltBackupTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    SetClock(std::make_shared<FixedClock>());
    setenv("KESTROVA_BACKUP_DIR", m_backups.Path().c_str(), 1);
    // kestrova-regedit is started as a program of its own and finds the store this way.
    setenv("KESTROVA_STORE", m_store.Path().c_str(), 1);
    DesktopOpener::Options options;
    options.programDir = kProgramDir;
    SetOpener(std::make_shared<DesktopOpener>(options));
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetOpener(nullptr);
    SetClock(nullptr);
  }
  TempDir m_backups;
};

TEST_F(BuiltBackupTest, ASaveIsBackedUpByTheRegeditBesideTheProgram) {
  WriteText("\\.txt", "", "txtfile");
  WriteText("\\txtfile", "", "Text Document");
  WriteText("\\txtfile\\Shell\\open\\command", "", "viewer %1");
  Form().Ext->setText("txt");
  Form().SaveTypeBtn->click();
  EXPECT_TRUE(m_boxes->shown.empty()) << m_boxes->shown.front().text.toStdString();
  const std::string backup = m_backups.File("txtfile-20261207-113905.reg");
  ASSERT_TRUE(std::filesystem::exists(backup));
  const std::string content = ReadFile(backup);
  EXPECT_NE(content.find("[HKEY_CLASSES_ROOT\\txtfile]"), std::string::npos) << content;
  EXPECT_NE(content.find("@=\"Text Document\""), std::string::npos) << content;
  EXPECT_NE(content.find("@=\"viewer %1\""), std::string::npos) << content;
}

}  // namespace
}  // namespace kestrova::test
