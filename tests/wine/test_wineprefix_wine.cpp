// Kestrova on a real Wine prefix, checked against Wine itself: what Kestrova writes is what
// Wine's reg, cmd and start use, what Wine writes is what Kestrova shows, a prefix Kestrova
// edited still starts, and while Wine runs Kestrova says so and changes nothing.

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <filesystem>
#include <fstream>

#include "app/Main.h"
#include "app/StoreChoice.h"
#include "platform/OpenerDesktop.h"
#include "platform/WinePrefixStore.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/WinePrefixFixture.h"

namespace kestrova::test {
namespace {

const QString kProgramDir = QStringLiteral(KESTROVA_PROGRAM_DIR);

void MakeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Ran {
  int status = -1;
  QString out;
  QString err;
};

// The built kestrova-regedit, with the test's environment.
Ran Regedit(const QStringList& args) {
  QProcess p;
  p.start(kProgramDir + "/kestrova-regedit", args);
  Ran ran;
  if (!p.waitForFinished(120000)) return ran;
  ran.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  ran.out = QString::fromUtf8(p.readAllStandardOutput());
  ran.err = QString::fromUtf8(p.readAllStandardError());
  return ran;
}

class WinePrefixTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // Backups are written by the kestrova-regedit built beside kestrova, as the program does.
    DesktopOpener::Options options;
    options.programDir = kProgramDir;
    SetOpener(std::make_shared<DesktopOpener>(options));
    // Each test counts the backups it made.
    std::error_code ignored;
    std::filesystem::remove_all(qEnvironmentVariable("KESTROVA_BACKUP_DIR").toStdString(), ignored);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    OpenDefaultStoreAgain(m_store.Path());
    SetOpener(nullptr);
  }
};

// An association made in Kestrova (imported with kestrova-regedit --prefix, then its
// command changed in the window) is the one Wine's reg, assoc, ftype and start use, and
// the prefix still starts.
TEST_F(WinePrefixTest, WhatKestrovaWritesIsWhatWineUses) {
  KESTROVA_NEEDS_WINE(wine);
  wine->StopServer();
  const std::string drive = wine->DriveC();
  // A document, and a program that records the arguments it was started with.
  MakeFile(drive + "/kt/rec.bat", "@echo %1 %2> C:\\kt\\out.txt\r\n");
  MakeFile(drive + "/kt/doc.kbq", "document\r\n");
  const std::string reg = drive + "/kt/kbq.reg";
  MakeFile(reg,
           "REGEDIT4\r\n\r\n"
           "[HKEY_CLASSES_ROOT\\.kbq]\r\n@=\"Kestrova.Kbq\"\r\n"
           "\"Content Type\"=\"application/x-kbq\"\r\n\r\n"
           "[HKEY_CLASSES_ROOT\\Kestrova.Kbq]\r\n@=\"Kbq Document\"\r\n\r\n"
           "[HKEY_CLASSES_ROOT\\Kestrova.Kbq\\shell\\open\\command]\r\n"
           "@=\"C:\\\\kt\\\\rec.bat \\\"%1\\\"\"\r\n");
  const Ran imported =
      Regedit({"--prefix", QString::fromStdString(wine->Dir()), "/s", QString::fromStdString(reg)});
  ASSERT_EQ(imported.status, 0) << imported.err.toStdString();

  ASSERT_EQ(OpenPrefixStore(wine->Dir()), "");
  TForm1& f = Form();
  EXPECT_EQ(f.windowTitle(), QString::fromStdString("Kestrova - Wine prefix " + wine->Dir()));
  f.Ext->setText("kbq");
  ASSERT_EQ(f.ExtDesc->text(), "Kestrova.Kbq");
  EXPECT_EQ(f.ExtType->text(), "Kbq Document");
  f.ListBox1->setCurrentItem(f.ListBox1->topLevelItem(0));
  f.ListBox1Click();
  EXPECT_EQ(f.Command->text(), "C:\\kt\\rec.bat \"%1\"");
  f.Command->setText("C:\\kt\\rec.bat \"%1\" edited");
  f.SaveActionBtnClick();
  EXPECT_TRUE(m_boxes->Messages().empty()) << m_boxes->Messages().front().toStdString();
  EXPECT_EQ(f.StatusText(), "Action Properties Saved.");

  // The backup was taken by kestrova-regedit --prefix, of the prefix's file type.
  const QStringList backups =
      QDir(qEnvironmentVariable("KESTROVA_BACKUP_DIR")).entryList({"Kestrova.Kbq-*.reg"});
  ASSERT_EQ(backups.size(), 1);
  const std::string backup = FileText(qEnvironmentVariable("KESTROVA_BACKUP_DIR").toStdString() +
                                      "/" + backups.front().toStdString());
  EXPECT_NE(backup.find("@=\"C:\\\\kt\\\\rec.bat \\\"%1\\\"\""), std::string::npos) << backup;

  const WineRun query = wine->Wine({"reg", "query", "HKCR\\.kbq"});
  EXPECT_EQ(query.status, 0) << query.output;
  EXPECT_NE(query.output.find("Kestrova.Kbq"), std::string::npos) << query.output;
  EXPECT_NE(query.output.find("application/x-kbq"), std::string::npos) << query.output;
  const WineRun assoc = wine->Wine({"cmd", "/c", "assoc", ".kbq"});
  EXPECT_NE(assoc.output.find(".kbq=Kestrova.Kbq"), std::string::npos) << assoc.output;
  const WineRun ftype = wine->Wine({"cmd", "/c", "ftype", "Kestrova.Kbq"});
  EXPECT_NE(ftype.output.find("Kestrova.Kbq=C:\\kt\\rec.bat \"%1\" edited"), std::string::npos)
      << ftype.output;
  const WineRun start = wine->Wine({"start", "/wait", "C:\\kt\\doc.kbq"});
  EXPECT_EQ(start.status, 0) << start.output;
  const std::string recorded = FileText(drive + "/kt/out.txt");
  EXPECT_NE(recorded.find("\"C:\\kt\\doc.kbq\" edited"), std::string::npos) << recorded;
  const WineRun ver = wine->Wine({"cmd", "/c", "ver"});
  EXPECT_EQ(ver.status, 0) << ver.output;
  EXPECT_NE(ver.output.find("Windows"), std::string::npos) << ver.output;
  wine->StopServer();
}

// What Wine's reg add and regedit write reaches Kestrova's window and kestrova-regedit's
// export, text beyond ASCII included (a REGEDIT4 file is in the Windows code page).
TEST_F(WinePrefixTest, WhatWineWritesIsWhatKestrovaShows) {
  KESTROVA_NEEDS_WINE(wine);
  EXPECT_EQ(wine->Wine({"reg", "add", "HKCR\\.kbr", "/ve", "/d", "Wine.Kbr", "/f"}).status, 0);
  EXPECT_EQ(wine->Wine({"reg", "add", "HKCR\\.kbr", "/v", "Content Type", "/d", "text/x-kbr", "/f"})
                .status,
            0);
  MakeFile(wine->DriveC() + "/kt/kbr.reg",
           "REGEDIT4\r\n\r\n"
           "[HKEY_CLASSES_ROOT\\Wine.Kbr]\r\n@=\"Caf\xe9 Kbr\"\r\n"
           "\"EditFlags\"=dword:00010000\r\n\r\n"
           "[HKEY_CLASSES_ROOT\\Wine.Kbr\\shell\\print\\command]\r\n"
           "@=\"notepad.exe /p \\\"%1\\\"\"\r\n");
  EXPECT_EQ(wine->Wine({"regedit", "/s", "C:\\kt\\kbr.reg"}).status, 0);
  wine->StopServer();

  ASSERT_EQ(OpenPrefixStore(wine->Dir()), "");
  TForm1& f = Form();
  f.Ext->setText("kbr");
  EXPECT_EQ(f.ExtDesc->text(), "Wine.Kbr");
  EXPECT_EQ(f.ExtType->text(), QString::fromUtf8("Caf\xc3\xa9 Kbr"));
  EXPECT_EQ(f.ContentType->currentText(), "text/x-kbr");
  EXPECT_FALSE(f.ConfirmCB->isChecked());
  ASSERT_EQ(f.ListBox1->topLevelItemCount(), 1);
  f.ListBox1->setCurrentItem(f.ListBox1->topLevelItem(0));
  f.ListBox1Click();
  EXPECT_EQ(f.Command->text(), "notepad.exe /p \"%1\"");

  const std::string out = wine->DriveC() + "/kbr-export.reg";
  const Ran exported = Regedit({"--prefix", QString::fromStdString(wine->Dir()), "/e",
                                QString::fromStdString(out), "HKEY_CLASSES_ROOT\\Wine.Kbr"});
  ASSERT_EQ(exported.status, 0) << exported.err.toStdString();
  const std::string text = FileText(out);
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Wine.Kbr\\shell\\print\\command]"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\"EditFlags\"=dword:00010000"), std::string::npos) << text;
}

// While Wine runs in the prefix the window says that what it shows may be stale, and a
// save says why it cannot be made and changes nothing, the backup included; once Wine has
// ended the same save goes through and Wine reads it.
TEST_F(WinePrefixTest, WhileWineRunsNothingIsWritten) {
  KESTROVA_NEEDS_WINE(wine);
  EXPECT_EQ(wine->Wine({"reg", "add", "HKCR\\.kbs", "/ve", "/d", "Wine.Kbs", "/f"}).status, 0);
  EXPECT_EQ(wine->Wine({"reg", "add", "HKCR\\Wine.Kbs", "/ve", "/d", "Before", "/f"}).status, 0);
  wine->StopServer();
  ASSERT_EQ(OpenPrefixStore(wine->Dir()), "");
  TForm1& f = Form();
  f.Ext->setText("kbs");
  ASSERT_EQ(f.ExtType->text(), "Before");
  EXPECT_FALSE(f.StatusText().contains("may be stale")) << f.StatusText().toStdString();

  // A Wine program starts; the window looks again when it comes to the front.
  wine->StartServer();
  ASSERT_TRUE(WineServerRunning(wine->Dir()));
  const std::string before = FileText(wine->Dir() + "/system.reg");
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&f, &activate);
  EXPECT_TRUE(f.StatusText().contains("may be stale")) << f.StatusText().toStdString();
  f.ExtType->setText("After");
  f.SaveTypeBtnClick();
  ASSERT_EQ(m_boxes->Messages().size(), 1u);
  const QString refusal = m_boxes->Messages().front();
  EXPECT_TRUE(refusal.endsWith("Nothing was changed.")) << refusal.toStdString();
  // The store's reason, as a sentence, says what to do.
  const std::string reason = AcquireEngine()->ReadOnlyReason();
  ASSERT_FALSE(reason.empty());
  EXPECT_EQ(refusal.section("\n\n", 0, 0).mid(1).toStdString(), reason.substr(1) + ".");
  EXPECT_TRUE(refusal.contains("wineserver -k")) << refusal.toStdString();
  EXPECT_EQ(f.StatusBar1->toolTip().mid(1).toStdString(), reason.substr(1) + ".");
  EXPECT_TRUE(
      QDir(qEnvironmentVariable("KESTROVA_BACKUP_DIR")).entryList({"Wine.Kbs-*.reg"}).isEmpty());
  EXPECT_EQ(FileText(wine->Dir() + "/system.reg"), before);

  wine->StopServer();
  QCoreApplication::sendEvent(&f, &activate);
  EXPECT_FALSE(f.StatusText().contains("may be stale")) << f.StatusText().toStdString();
  f.SaveTypeBtnClick();
  EXPECT_EQ(m_boxes->Messages().size(), 1u);
  const WineRun query = wine->Wine({"reg", "query", "HKCR\\Wine.Kbs", "/ve"});
  EXPECT_NE(query.output.find("After"), std::string::npos) << query.output;
  wine->StopServer();
}

}  // namespace
}  // namespace kestrova::test
