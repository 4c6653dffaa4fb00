// The Tools and Help commands, with a recording opener, and the help file built from docs/.

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QUrl>

#include "app/Main.h"
#include "dialogs/Settings.h"
#include "shell/ProcessLauncher.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/RecordingOpener.h"

namespace kestrova::test {
namespace {

const std::string kSettings = "\\SOFTWARE\\Quorbel\\Kestrova";

class ToolsTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    m_opener = std::make_shared<ExportingOpener>();
    SetOpener(m_opener);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetOpener(nullptr);
  }

  static void HelpUrl(const std::string& value) {
    WriteText(kSettings, "HelpURL", value, RootKey::CurrentUser);
  }
  // What the launcher was asked to open last, with its arguments after a bar.
  QString Last() const {
    if (m_opener->requests.empty()) return "(nothing)";
    const auto& r = m_opener->requests.back();
    return r.parameters.isEmpty() ? r.command : r.command + " | " + r.parameters;
  }

  std::shared_ptr<ExportingOpener> m_opener;
};

TEST_F(ToolsTest, TheReferenceOpensTheStoredPrefixWithTheExtensionEscaped) {
  HelpUrl("https://lookup.test/search?ext=");
  TForm1& f = Form();
  f.Ext->setText("txt");
  f.ReferenceBtn->click();
  EXPECT_EQ(Last(), "https://lookup.test/search?ext=txt");
  f.Ext->setText("tar gz&x/é");
  f.ExtensionDetails1->trigger();
  EXPECT_EQ(Last(), "https://lookup.test/search?ext=tar%20gz%26x%2F%C3%A9");
  f.Ext->clear();
  f.ReferenceBtn->click();
  EXPECT_EQ(Last(), "https://lookup.test/search?ext=");
  HelpUrl("  HTTP://lookup.test/x/  ");  // blanks around the address do not count
  f.Ext->setText("zip");
  f.ReferenceBtn->click();
  EXPECT_EQ(Last(), "HTTP://lookup.test/x/zip");
  EXPECT_EQ(m_opener->requests.size(), 4u);
  EXPECT_TRUE(m_boxes->Messages().empty());
}

// Only a web address is ever opened: without one, the extension would be started as a
// program (tar, sh, zip) or opened as a file.
TEST_F(ToolsTest, WithoutAWebAddressTheReferenceSaysHowToSetOneAndStartsNothing) {
  TForm1& f = Form();
  f.Ext->setText("sh");
  const QString told =
      "No web address is set for the extension reference. Enter one that begins with "
      "http:// or https:// as \"URL for online extension help\" in Tools > Settings, for "
      "example https://fileinfo.com/extension/.";
  f.WebHelpB->trigger();  // no address stored
  for (const char* prefix : {"", "/usr/bin/", "file:///usr/bin/", "javascript:alert(1)//",
                             "https://", "ftp://files.test/", "www.lookup.test/"}) {
    HelpUrl(prefix);
    f.ReferenceBtn->click();
  }
  EXPECT_EQ(m_boxes->Messages(), std::vector<QString>(8, told));
  EXPECT_TRUE(m_opener->requests.empty());

  // A prefix stored as a number is the store's error; nothing is started.
  ASSERT_TRUE(HasKey(kSettings, RootKey::CurrentUser));
  WriteDword(kSettings, "HelpURL", 7, RootKey::CurrentUser);
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
  EXPECT_TRUE(m_opener->requests.empty());
}

TEST_F(ToolsTest, TheRegistryEditorStartsWithoutArgumentsAfterABackup) {
  TForm1& f = Form();
  AssocStore s;
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.CreatePath("\\.txt"));
  f.Ext->setText("txt");
  ASSERT_TRUE(f.BUExt());  // a backup starts the same launcher with arguments
  ASSERT_TRUE(Last().startsWith("Regedit.exe | /e "));
  f.RegistryBtn->click();
  EXPECT_EQ(Last(), "Regedit.exe");
  f.RegEdit1->trigger();
  EXPECT_EQ(Last(), "Regedit.exe");
  // The window waits for the editor, as for every program it starts.
  EXPECT_EQ(m_opener->log->back(), "wait 3");
}

// The compiled help only where the desktop can open it, else the same help as web pages;
// both found from the program's folder, not the current one.
TEST_F(ToolsTest, LocalHelpOpensTheCompiledFileOnlyWhereTheDesktopHasAViewer) {
  TForm1& f = Form();
  const QString dir = QCoreApplication::applicationDirPath();
  const QString html = QDir::cleanPath(dir + "/../share/doc/kestrova/html/index.html");
  const QString chm = dir + "/zor20.chm";
  const bool chmThere = QFileInfo::exists(chm);
  if (!chmThere) WriteFile(chm.toStdString(), "ITSF");
  bool viewer = false;
  f.HasChmViewer = [&viewer] { return viewer; };
  TempDir elsewhere;
  const QString before = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(elsewhere.Path()));
  f.Help2->trigger();
  EXPECT_EQ(Last(), html);
  viewer = true;
  f.Help2->trigger();
  EXPECT_EQ(Last(), chm);
  // A viewer without the compiled file: the web pages again.
  if (!chmThere) {
    QFile::remove(chm);
    f.Help2->trigger();
    EXPECT_EQ(Last(), html);
  }
  QDir::setCurrent(before);
  EXPECT_TRUE(m_boxes->Messages().empty());
}

TEST_F(ToolsTest, OnlineHelpOpensTheAddressFromSettingsOrSaysHowToSetIt) {
  TForm1& f = Form();
  f.HelpontheWeb1->trigger();
  WriteText(kSettings, "OnlineHelpURL", "quorbel.example/docs", RootKey::CurrentUser);
  f.HelpontheWeb1->trigger();
  EXPECT_EQ(m_boxes->Messages(),
            std::vector<QString>(
                2,
                "No web address is set for the online help. Enter one that begins with "
                "http:// or https:// as \"Address of the online help\" in Tools > Settings. "
                "The help that came with Kestrova opens from Help > Kestrova Help."));
  EXPECT_TRUE(m_opener->requests.empty());
  WriteText(kSettings, "OnlineHelpURL", "https://help.test/kestrova/", RootKey::CurrentUser);
  f.HelpontheWeb1->trigger();
  EXPECT_EQ(Last(), "https://help.test/kestrova/");
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
  const auto* settings = f.AttachedDialogs().settingsDialog;
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
