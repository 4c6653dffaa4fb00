// Changes made in the main window reach the desktop: checked with the desktop's own tools
// (gio, xdg-mime, xdg-open) against a small system desktop this test builds, driven through
// the window's real handlers.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <iostream>

#include "app/Main.h"
#include "dialogs/NewWiz.h"
#include "dialogs/Settings.h"
#include "dialogs/chgass.h"
#include "platform/Clock.h"
#include "platform/DesktopApply.h"
#include "store/AssocLayout.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/EventWait.h"
#include "tests/support/QtFiles.h"
#include "tests/support/TestDoubles.h"

namespace kestrova::test {
namespace {

QString Home() { return QDir::cleanPath(qEnvironmentVariable("XDG_DATA_HOME") + "/.."); }
QString SystemDir() { return Home() + "/system"; }
QString Recorded() { return Home() + "/recorded.txt"; }
// A program in a folder with a blank, which writes its arguments to a file.
QString Recorder() { return Home() + "/my tools/record"; }
QString SystemRecorder() { return Home() + "/sysrecord"; }

QString RunTool(const QString& program, const QStringList& args, const QStringList& extraEnv = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("XDG_CURRENT_DESKTOP");
  env.remove("WAYLAND_DISPLAY");
  env.remove("DISPLAY");
  env.insert("HOME", Home());
  for (const QString& pair : extraEnv) env.insert(pair.section('=', 0, 0), pair.section('=', 1));
  process.setProcessEnvironment(env);
  process.start(program, args);
  if (!process.waitForFinished(30000)) return "(timed out)";
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The system's own desktop: *.kbq is its application/x-sysdoc, opened by sysviewer.
bool BuildSystemDesktop() {
  const QString sys = SystemDir();
  QDir(sys).removeRecursively();
  QDir().mkpath(sys + "/mime/packages");
  QDir().mkpath(sys + "/applications");
  QDir().mkpath(Home() + "/configdirs");
  QFile package(sys + "/mime/packages/system.xml");
  package.open(QIODevice::WriteOnly);
  package.write(
      "<?xml version=\"1.0\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      " <mime-type type=\"application/x-sysdoc\"><comment>System document</comment>"
      "<glob pattern=\"*.kbq\"/></mime-type>\n"
      " <mime-type type=\"text/plain\"><comment>Plain text</comment>"
      "<glob pattern=\"*.txt\"/></mime-type>\n"
      "</mime-info>\n");
  package.close();
  QFile entry(sys + "/applications/sysviewer.desktop");
  entry.open(QIODevice::WriteOnly);
  entry.write("[Desktop Entry]\nType=Application\nName=System Viewer\nExec=" +
              QFile::encodeName(SystemRecorder()) +
              " %f\nMimeType=application/x-sysdoc;application/x-kbq;\n");
  entry.close();
  for (const QString& script : {Recorder(), SystemRecorder()}) {
    QDir().mkpath(QFileInfo(script).absolutePath());
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + QFile::encodeName(Recorded()) +
               "'\n");
    file.close();
    file.setPermissions(QFile::permissions(script) | QFileDevice::ExeOwner);
  }
  // Set before GIO or Qt's MIME database first read them, in this process and its children.
  qputenv("XDG_DATA_DIRS", QFile::encodeName(sys));
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(Home() + "/configdirs"));
  return QProcess::execute("update-mime-database", {sys + "/mime"}) == 0 &&
         QProcess::execute("update-desktop-database", {sys + "/applications"}) == 0;
}

const bool kSystemDesktop = BuildSystemDesktop();

// What the desktop's tools say about the extension and its type.
struct Answers {
  QString guessed;     // gio info: the document's type
  QString gioDefault;  // gio mime: the default application
  QString xdgDefault;  // xdg-mime query default
  bool operator==(const Answers&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answers& a) {
  return out << a.guessed.toStdString() << " | " << a.gioDefault.toStdString() << " | "
             << a.xdgDefault.toStdString();
}

const QByteArray kUserList =
    "# the user's own notes\n"
    "[Default Applications]\n"
    "application/x-kbq=sysviewer.desktop\n"
    "[Added Associations]\n"
    "text/plain=sysviewer.desktop;\n";

class DesktopApplyTest : public MainWindowTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kSystemDesktop);
    MainWindowTest::SetUp();
    m_opener = std::make_shared<ExportingOpener>();
    SetOpener(m_opener);
    SetClock(std::make_shared<FixedClock>());
    const UserPaths user = Paths();
    QDir(user.folders.dataHome).removeRecursively();
    QDir(user.backups).removeRecursively();
    QFile::remove(user.folders.MimeAppsList());
    QFile::remove(Recorded());
    WriteAll(user.folders.MimeAppsList(), kUserList);
    WriteAll(Document(), "some text\n");
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetOpener(nullptr);
    SetClock(nullptr);
  }

  struct UserPaths {
    DesktopFolders folders;
    QString backups;
  };
  static UserPaths Paths() {
    return {UserDesktopFolders(), qEnvironmentVariable("KESTROVA_BACKUP_DIR")};
  }
  static QString Document() { return Home() + "/docs/report.kbq"; }

  void KbqFileType() {
    WriteText("\\.kbq", "", "kbqfile");
    WriteText("\\kbqfile", "", "Kbq Report");
    WriteText("\\kbqfile\\Shell\\open\\command", "", "\"/usr/bin/true\" \"%1\"");
    WriteText("\\kbqfile\\Shell\\print\\command", "", "lp \"%1\"");
  }
  void WaitForRebuild() {
    EXPECT_TRUE(WaitUntil([&] { return Form().DesktopRebuildsRunning() == 0; }, 60000));
  }
  void Select(const QString& verb) {
    auto items = Form().ListBox1->findItems(verb, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    Form().ListBox1->setCurrentItem(items.front());
  }

  static Answers Ask(const QString& type) {
    Answers a;
    const QString info = RunTool("gio", {"info", "-a", "standard::content-type", Document()});
    a.guessed = info.section("standard::content-type: ", 1).section('\n', 0, 0);
    a.gioDefault = RunTool("gio", {"mime", type}).section('\n', 0, 0).section(": ", 1);
    a.xdgDefault = RunTool("xdg-mime", {"query", "default", type});
    return a;
  }

  std::shared_ptr<ExportingOpener> m_opener;
};

// The desktop tools' own words, in the test's log, for a reader comparing the stages.
void ShowTools(const char* stage) {
  std::cout << "--- " << stage << '\n';
  for (const QStringList& args :
       {QStringList{"gio", "mime", "application/x-kbq"},
        QStringList{"xdg-mime", "query", "default", "application/x-kbq"}}) {
    std::cout << "$ " << args.join(' ').toStdString() << '\n'
              << RunTool(args.front(), args.mid(1)).toStdString() << '\n';
  }
}

TEST_F(DesktopApplyTest, ARoundTripThroughTheWindowIsWhatTheDesktopToolsReport) {
  KbqFileType();
  ShowTools("before");
  const Answers before = Ask("application/x-kbq");
  EXPECT_EQ(before.guessed, "application/x-sysdoc");
  EXPECT_EQ(before.xdgDefault, "sysviewer.desktop");

  TForm1& f = Form();
  f.Ext->setText("kbq");
  f.ContentType->setEditText("application/x-kbq");
  f.SaveExtBtn->click();
  Select("open");
  f.Command->setText("\"" + Recorder() + "\" \"%1\" --from-kestrova");
  f.SaveActionBtn->click();
  Select("print");
  f.ChangetoDefaultAction1->trigger();
  Select("open");
  f.ChangetoDefaultAction1->trigger();
  WaitForRebuild();
  EXPECT_TRUE(m_boxes->Messages().empty());

  ShowTools("after the change");
  const Answers after = Ask("application/x-kbq");
  EXPECT_EQ(after,
            (Answers{"application/x-kbq", "kestrova-kbqfile.desktop", "kestrova-kbqfile.desktop"}));
  // Opening the document runs the command set in the window, with its arguments intact.
  RunTool("xdg-open", {Document()}, {"DISPLAY=:97", "XDG_CURRENT_DESKTOP=GNOME"});
  const QByteArray recorded =
      QFile::encodeName(Recorder() + "\n" + Document() + "\n--from-kestrova\n");
  WaitUntil([&] { return ReadAll(Recorded()) == recorded; }, 10000);
  EXPECT_EQ(ReadAll(Recorded()), recorded);
  // Only the user's own files: the line it manages changed, the rest stayed.
  const UserPaths user = Paths();
  const QByteArray list = ReadAll(user.folders.MimeAppsList());
  EXPECT_TRUE(
      list.startsWith("# the user's own notes\n[Default Applications]\n"
                      "application/x-kbq=kestrova-kbqfile.desktop\n"))
      << list.toStdString();
  EXPECT_TRUE(list.contains("text/plain=sysviewer.desktop;\n"));
  // A copy of the file as it was came first, named like the .reg backups.
  EXPECT_EQ(ReadAll(user.backups + "/mimeapps-20261207-113905.list"), kUserList);

  // Deleting the extension brings back what the desktop said before, byte for byte.
  m_boxes->confirmAnswers = {true};
  f.Delete1->trigger();
  WaitForRebuild();
  ShowTools("after deleting the extension");
  EXPECT_EQ(Ask("application/x-kbq"), before);
  EXPECT_EQ(ReadAll(user.folders.MimeAppsList()), kUserList);
  EXPECT_FALSE(QFile::exists(user.folders.MimePackage()));
  EXPECT_FALSE(QFile::exists(user.folders.Applications() + "/kestrova-kbqfile.desktop"));
  EXPECT_FALSE(QFile::exists(user.folders.Ledger()));
}

TEST_F(DesktopApplyTest, AnInstalledApplicationIsMadeTheDefaultWithoutAnEntryOfOurOwn) {
  KbqFileType();
  WriteText("\\kbqfile\\Shell\\open\\command", "", "\"" + SystemRecorder().toStdString() + "\" %1");
  WriteText("\\.kbq", "Content Type", "text/plain");
  Form().Ext->setText("kbq");
  Form().SaveExtBtn->click();
  WaitForRebuild();
  const UserPaths user = Paths();
  EXPECT_FALSE(QFile::exists(user.folders.Applications() + "/kestrova-kbqfile.desktop"));
  EXPECT_EQ(RunTool("xdg-mime", {"query", "default", "text/plain"}), "sysviewer.desktop");
  // xdg-open's own path (no desktop session) runs the entry's command too.
  RunTool("xdg-open", {Document()}, {"DISPLAY=:97"});
  const QByteArray recorded = QFile::encodeName(SystemRecorder() + "\n" + Document() + "\n");
  WaitUntil([&] { return ReadAll(Recorded()) == recorded; }, 10000);
  EXPECT_EQ(ReadAll(Recorded()), recorded);
}

TEST_F(DesktopApplyTest, TheSettingOffWritesNothing) {
  KbqFileType();
  WriteText(layout::SettingsKey, layout::DesktopApplyName, "0", RootKey::CurrentUser);
  Form().Ext->setText("kbq");
  Form().ContentType->setEditText("application/x-kbq");
  Form().SaveExtBtn->click();
  WaitForRebuild();
  const UserPaths user = Paths();
  EXPECT_EQ(ReadAll(user.folders.MimeAppsList()), kUserList);
  EXPECT_FALSE(QFile::exists(user.folders.MimePackage()));
  EXPECT_FALSE(QFile::exists(user.folders.Applications()));
  EXPECT_FALSE(QFile::exists(user.folders.Ledger()));
  EXPECT_TRUE(QDir(user.backups).entryList({"mimeapps-*"}).isEmpty());
}

TEST_F(DesktopApplyTest, ChangeAssociationAndTheWizardReachTheDesktopToo) {
  KbqFileType();
  WriteText("\\otherfile", "", "Other Report");
  WriteText("\\otherfile\\Shell\\open\\command", "", "\"" + Recorder().toStdString() + "\" \"%1\"");
  TForm1& f = Form();
  f.Ext->setText("kbq");
  TFrmChgAss& change = *f.AttachedDialogs().changeAssociationDialog;
  change.ExtLB->setText("KBQ");
  change.NewExtDesc->setEditText("otherfile");
  change.OKBtnClick();
  WaitForRebuild();
  // The desktop's own type for *.kbq now opens with the file type chosen.
  EXPECT_EQ(RunTool("xdg-mime", {"query", "default", "application/x-sysdoc"}),
            "kestrova-otherfile.desktop");

  TForm3& wizard = *f.AttachedDialogs().newExtensionWizard;
  wizard.FileExt->setText("kbz");
  wizard.ContentType->setEditText("application/x-kbz");
  wizard.AssocFileTypes->setEditText("kbqfile");
  wizard.Button3Click();
  WaitForRebuild();
  EXPECT_EQ(RunTool("xdg-mime", {"query", "default", "application/x-kbz"}),
            "kestrova-kbqfile.desktop");
  EXPECT_TRUE(ReadAll(Paths().folders.MimePackage()).contains("pattern=\"*.kbz\""));
}

TEST_F(DesktopApplyTest, ACommandTheDesktopCannotRunIsSkippedWithAStatusMessage) {
  KbqFileType();
  WriteText("\\kbqfile\\Shell\\open\\command", "", "\"C:\\Tools\\kbq.exe\" \"%1\"");
  TForm1& f = Form();
  f.Ext->setText("kbq");
  f.ContentType->setEditText("application/x-kbq");
  f.SaveExtBtn->click();
  WaitForRebuild();
  EXPECT_EQ(f.StatusText(),
            "File Extension Properties Saved. The desktop was not given the command for .kbq: "
            "the program \"C:\\Tools\\kbq.exe\" is a Windows path.");
  // The type still reaches the desktop; the default stays what it was.
  EXPECT_EQ(Ask("application/x-kbq").guessed, "application/x-kbq");
  EXPECT_EQ(ReadAll(Paths().folders.MimeAppsList()), kUserList);
  EXPECT_FALSE(QFile::exists(Paths().folders.Applications() + "/kestrova-kbqfile.desktop"));
}

TEST_F(DesktopApplyTest, TheSettingIsOnForANewStoreAndTheDialogTurnsItOff) {
  TForm2& settings = *Form().AttachedDialogs().settingsDialog;
  settings.FormActivate();
  EXPECT_TRUE(settings.DesktopApplyChkBox->isChecked());
  EXPECT_EQ(ReadValue(layout::SettingsKey, layout::DesktopApplyName, RootKey::CurrentUser),
            "(no value)");
  settings.DesktopApplyChkBox->setChecked(false);
  settings.Button1Click();
  EXPECT_EQ(ReadValue(layout::SettingsKey, layout::DesktopApplyName, RootKey::CurrentUser), "0");
  EXPECT_FALSE(TForm2::DesktopApplyOn());
  settings.FormActivate();
  EXPECT_FALSE(settings.DesktopApplyChkBox->isChecked());
  settings.DesktopApplyChkBox->setChecked(true);
  settings.Button1Click();
  EXPECT_TRUE(TForm2::DesktopApplyOn());
}

TEST_F(DesktopApplyTest, RemoveDesktopChangesTakesEverythingBackAfterAsking) {
  KbqFileType();
  const Answers before = Ask("application/x-kbq");
  TForm1& f = Form();
  f.Ext->setText("kbq");
  f.ContentType->setEditText("application/x-kbq");
  f.SaveExtBtn->click();
  WaitForRebuild();
  ASSERT_NE(Ask("application/x-kbq"), before);

  m_boxes->confirmAnswers = {false};
  f.RemoveDesktopChanges1->trigger();
  const UserPaths user = Paths();
  EXPECT_TRUE(QFile::exists(user.folders.MimePackage()));

  m_boxes->confirmAnswers = {true};
  f.RemoveDesktopChanges1->trigger();
  WaitForRebuild();
  EXPECT_EQ(f.StatusText(), "Desktop changes removed.");
  EXPECT_EQ(Ask("application/x-kbq"), before);
  EXPECT_EQ(ReadAll(user.folders.MimeAppsList()), kUserList);
  EXPECT_FALSE(QFile::exists(user.folders.MimePackage()));
  EXPECT_FALSE(QFile::exists(user.folders.Applications() + "/kestrova-kbqfile.desktop"));
  // The package's and the entry's last state were copied before they went.
  const QStringList copies = QDir(user.backups).entryList({"kestrova-*"}, QDir::Files);
  EXPECT_TRUE(copies.contains("kestrova-associations-20261207-113905.xml"))
      << copies.join(' ').toStdString();
  EXPECT_TRUE(copies.contains("kestrova-kbqfile-20261207-113905.desktop"));
}

TEST_F(DesktopApplyTest, ABackupThatCannotBeWrittenStopsThatFilesChange) {
  KbqFileType();
  const UserPaths user = Paths();
  // Something that is not a file already has the backup's name.
  ASSERT_TRUE(QDir().mkpath(user.backups + "/mimeapps-20261207-113905.list"));
  Form().Ext->setText("kbq");
  Form().ContentType->setEditText("application/x-kbq");
  Form().SaveExtBtn->click();
  WaitForRebuild();
  EXPECT_EQ(ReadAll(user.folders.MimeAppsList()), kUserList);
  ASSERT_FALSE(m_boxes->Messages().empty());
  EXPECT_TRUE(m_boxes->Messages().back().contains("mimeapps.list\" was not changed"))
      << m_boxes->Messages().back().toStdString();
}

}  // namespace
}  // namespace kestrova::test
