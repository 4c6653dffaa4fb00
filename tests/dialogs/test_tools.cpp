// The Tools and Help commands, with a recording opener, and the help file built from docs/.

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QUrl>

#include "app/Main.h"
#include "dialogs/Settings.h"
#include "platform/OpenerRecording.h"
#include "shell/ProcessLauncher.h"
#include "tests/app/MainWindowFixture.h"

namespace kestrova::test {
namespace {

const std::string kSettings = "\\SOFTWARE\\Quorbel\\Kestrova";

class ToolsTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    m_opener = std::make_shared<RecordingOpener>();
    SetOpener(m_opener);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetOpener(nullptr);
  }

  static void HelpUrl(const std::string& value) {
    AssocStore s;
    s.SetRoot(RootKey::CurrentUser);
    ASSERT_TRUE(s.OpenPath(kSettings, true));
    s.PutText("HelpURL", value);
  }
  // What the launcher was asked to open last, with its arguments after a bar.
  QString Last() const {
    if (m_opener->requests.empty()) return "(nothing)";
    const auto& r = m_opener->requests.back();
    return r.parameters.isEmpty() ? r.command : r.command + " | " + r.parameters;
  }

  std::shared_ptr<RecordingOpener> m_opener;
};

TEST_F(ToolsTest, TheReferenceOpensTheStoredPrefixWithTheTypedExtension) {
  HelpUrl("https://lookup.test/search?ext=");
  TForm1& f = Form();
  f.Ext->setText("txt");
  f.ReferenceBtn->click();
  EXPECT_EQ(Last(), "https://lookup.test/search?ext=txt");
  f.Ext->setText("tar gz&x");  // handed on unchanged: nothing encoded or inserted
  f.ExtensionDetails1->trigger();
  EXPECT_EQ(Last(), "https://lookup.test/search?ext=tar gz&x");
  f.Ext->clear();
  f.ReferenceBtn->click();
  EXPECT_EQ(Last(), "https://lookup.test/search?ext=");
  EXPECT_EQ(m_opener->requests.size(), 3u);
}

TEST_F(ToolsTest, WithoutAPrefixTheReferenceMakesTheSettingsKeyAndOpensTheBareExtension) {
  TForm1& f = Form();
  f.Ext->setText("txt");
  f.WebHelpB->trigger();
  EXPECT_EQ(Last(), "txt");
  AssocStore s;
  s.SetRoot(RootKey::CurrentUser);
  EXPECT_TRUE(s.HasPath(kSettings));

  // A prefix stored as a number is the store's error; nothing is started.
  ASSERT_TRUE(s.OpenPath(kSettings, false));
  s.PutDword("HelpURL", 7);
  EXPECT_THROW(
      {
        try {
          f.WebHelpBExecute();
        } catch (const ERegistryException& e) {
          EXPECT_STREQ(e.what(), "Invalid data type for 'HelpURL'");
          throw;
        }
      },
      ERegistryException);
  EXPECT_EQ(m_opener->requests.size(), 1u);
}

TEST_F(ToolsTest, TheRegistryEditorStartsWithoutArgumentsAfterABackup) {
  TForm1& f = Form();
  f.Ext->setText("txt");
  f.BUExt();  // a backup starts the same launcher with arguments
  ASSERT_TRUE(Last().startsWith("Regedit.exe | /e "));
  f.RegistryBtn->click();
  EXPECT_EQ(Last(), "Regedit.exe");
  f.RegEdit1->trigger();
  EXPECT_EQ(Last(), "Regedit.exe");
  // The window waits for the editor, as for every program it starts.
  EXPECT_EQ(m_opener->log->back(), "wait 3");
}

TEST_F(ToolsTest, TheHelpCommandsOpenTheFileBesideTheProgramAndTheOnlineCopy) {
  TForm1& f = Form();
  TempDir elsewhere;
  const QString before = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(elsewhere.Path()));
  f.Help2->trigger();
  QDir::setCurrent(before);
  EXPECT_EQ(Last(), QCoreApplication::applicationDirPath() + "/zor20.chm");

  f.HelpontheWeb1->trigger();
  const QUrl online(Last());
  EXPECT_TRUE(online.isValid());
  EXPECT_EQ(online.scheme(), "https");
  EXPECT_FALSE(online.host().isEmpty());
  EXPECT_EQ(online.path(), "/docs/zor20.chm");
  EXPECT_EQ(m_opener->requests.size(), 2u);
}

// The user's help: every page of docs/help, as plain text.
QString HelpText() {
  QString all;
  QDirIterator it(qEnvironmentVariable("KESTROVA_SOURCE_DIR") + "/docs/help", {"*.html"});
  while (it.hasNext()) {
    QFile file(it.next());
    if (file.open(QIODevice::ReadOnly)) all += QString::fromUtf8(file.readAll());
  }
  all.remove(QRegularExpression("<[^>]*>"));
  all.replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"");
  return all.simplified();
}

// A caption as the help names it: without its access-key mark.
QString Plain(QString caption) { return caption.remove('&'); }

TEST_F(ToolsTest, TheHelpDescribesEveryWindowAndCommand) {
  const QString help = HelpText();
  ASSERT_FALSE(help.isEmpty());
  TForm1& f = Form();
  QStringList missing;
  auto need = [&](const QString& caption) {
    const QString plain = Plain(caption);
    if (!plain.isEmpty() && !help.contains(plain)) missing << plain;
  };
  for (QAction* menu : f.menuBar()->actions()) {
    need(menu->text());
    for (QAction* item : menu->menu()->actions()) need(item->text());
  }
  for (QAction* item : f.PopUp->actions()) need(item->text());
  for (auto* button : f.findChildren<QAbstractButton*>()) need(button->text());
  for (auto* group : f.findChildren<QGroupBox*>()) need(group->title());
  for (auto* label : f.centralWidget()->findChildren<QLabel*>()) need(label->text());
  for (auto* dialog : f.findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
    need(dialog->windowTitle());
  }
  const auto* settings = f.AttachedDialogs().Form2;
  for (auto* child : settings->findChildren<QWidget*>()) {
    if (auto* button = qobject_cast<QAbstractButton*>(child)) need(button->text());
    if (auto* label = qobject_cast<QLabel*>(child)) need(label->text());
  }
  need("Change Icon");
  EXPECT_TRUE(missing.isEmpty()) << missing.join(" / ").toStdString();
}

// Built when the CHM compiler is there, and copied beside the program.
TEST(HelpFile, IsACompiledHelpFileBesideTheProgram) {
#ifndef KESTROVA_HELP_BUILT
  GTEST_SKIP() << "no CHM compiler: the help file is not built";
#else
  QFile chm(qEnvironmentVariable("KESTROVA_BINARY_DIR") + "/bin/zor20.chm");
  ASSERT_TRUE(chm.open(QIODevice::ReadOnly)) << chm.fileName().toStdString();
  const QByteArray bytes = chm.readAll();
  EXPECT_TRUE(bytes.startsWith("ITSF"));
  // Every page is in the file's directory under its own name.
  QDirIterator it(qEnvironmentVariable("KESTROVA_SOURCE_DIR") + "/docs/help", {"*.html"});
  int pages = 0;
  while (it.hasNext()) {
    const QString name = QFileInfo(it.next()).fileName();
    EXPECT_TRUE(bytes.contains(("/" + name).toUtf8())) << name.toStdString();
    ++pages;
  }
  EXPECT_GT(pages, 5);
#endif
}

}  // namespace
}  // namespace kestrova::test
