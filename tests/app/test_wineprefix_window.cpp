// The main window on a Wine prefix's registry files: opened from the Tools menu and left
// again, a folder that is no prefix refused untouched, the title naming the store, and the
// desktop kept out of a prefix's changes. The prefix here is hand-made; Wine's own checks
// are in tests/wine.

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <fstream>

#include "app/Main.h"
#include "app/StoreChoice.h"
#include "dialogs/NewWiz.h"
#include "dialogs/Settings.h"
#include "platform/Opener.h"
#include "platform/WindowsCommandLine.h"
#include "platform/WinePrefixStore.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/dialogs/DialogDriver.h"
#include "tests/support/WinePrefixFixture.h"

namespace kestrova::test {
namespace {

// Boxes whose folder box answers from a script.
class FolderBoxes : public RecordingBoxes {
 public:
  QString ChooseFolder(QWidget*, const QString& title, const QString& initialDir) override {
    shown.push_back({"folder", title, initialDir, Icon::None});
    if (folderAnswers.empty()) return {};
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }
  std::deque<QString> folderAnswers;
};

const char kPrefixKeys[] =
    "\n[Software\\\\Classes\\\\.kbw] 1796763587\n#time=1dd87570ef6a2cc\n@=\"Wine.Kbw\"\n"
    "\n[Software\\\\Classes\\\\Wine.Kbw] 1796763587\n#time=1dd87570ef6a2cc\n@=\"Kbw Document\"\n"
    "\n[Software\\\\Classes\\\\Wine.Kbw\\\\shell\\\\open\\\\command] 1796763587\n"
    "#time=1dd87570ef6a2cc\n@=\"C:\\\\windows\\\\notepad.exe \\\"%1\\\"\"\n";

class WinePrefixWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    m_folders = std::make_shared<FolderBoxes>();
    m_boxes = m_folders;
    SetBoxes(m_boxes);
    m_opener = std::make_shared<ExportingOpener>();
    SetOpener(m_opener);
    // The way back opens the default store: here the test's own.
    m_ownStore = qEnvironmentVariable("KESTROVA_STORE");
    qputenv("KESTROVA_STORE", QByteArray::fromStdString(m_store.Path()));
    m_prefix = m_dir.File("prefix");
    MakeFakePrefix(m_prefix, kPrefixKeys);
    WriteText("\\.kbw", "", "Own.Kbw");
    WriteText("\\Own.Kbw", "", "Kestrova's own Kbw");
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    OpenDefaultStoreAgain(m_store.Path());
    SetOpener(nullptr);
    qputenv("KESTROVA_STORE", m_ownStore.toLocal8Bit());
  }

  // Chooses the folder in Tools > Open Wine Prefix.
  void OpenFromMenu(TForm1& f, const std::string& dir) {
    m_folders->folderAnswers.push_back(QString::fromStdString(dir));
    f.OpenWinePrefix1->trigger();
  }

  std::shared_ptr<FolderBoxes> m_folders;
  std::shared_ptr<ExportingOpener> m_opener;
  TempDir m_dir;
  std::string m_prefix;
  QString m_ownStore;
};

// The menu opens the prefix: the title names it, the extension on screen is read again
// from it, the desktop commands say they do not apply; the way back shows the own store.
TEST_F(WinePrefixWindowTest, TheToolsMenuOpensAPrefixAndGoesBack) {
  TForm1& f = Form();
  EXPECT_EQ(f.windowTitle(), "Kestrova");
  EXPECT_FALSE(f.OpenDefaultStore1->isEnabled());
  f.Ext->setText("kbw");
  ASSERT_EQ(f.ExtType->text(), "Kestrova's own Kbw");

  OpenFromMenu(f, m_prefix + "/");
  EXPECT_TRUE(m_boxes->Messages().empty()) << m_boxes->Messages().front().toStdString();
  EXPECT_EQ(f.windowTitle(), QString::fromStdString("Kestrova - Wine prefix " + m_prefix));
  EXPECT_EQ(OpenedPrefix(), m_prefix);
  EXPECT_EQ(f.ExtDesc->text(), "Wine.Kbw");
  EXPECT_EQ(f.ExtType->text(), "Kbw Document");
  EXPECT_TRUE(f.OpenDefaultStore1->isEnabled());
  EXPECT_FALSE(f.ImportFromDesktop1->isEnabled());
  EXPECT_FALSE(f.AttachedDialogs().settingsDialog->DesktopApplyChkBox->isEnabled());
  EXPECT_TRUE(f.RemoveDesktopChanges1->isEnabled());
  EXPECT_FALSE(f.CheckAssociations1->isEnabled());

  // The folder box starts in the prefix that is open.
  f.OpenWinePrefix1->trigger();
  EXPECT_EQ(m_boxes->shown.back().kind, "folder");
  EXPECT_EQ(m_boxes->shown.back().text.toStdString(), m_prefix);
  EXPECT_EQ(OpenedPrefix(), m_prefix);  // cancelled: nothing changes

  f.OpenDefaultStore1->trigger();
  EXPECT_EQ(f.windowTitle(), "Kestrova");
  EXPECT_EQ(OpenedPrefix(), "");
  EXPECT_EQ(f.ExtType->text(), "Kestrova's own Kbw");
  EXPECT_TRUE(f.ImportFromDesktop1->isEnabled());
  EXPECT_TRUE(f.CheckAssociations1->isEnabled());
  EXPECT_TRUE(f.AttachedDialogs().settingsDialog->DesktopApplyChkBox->isEnabled());
}

// A folder that is not a prefix is named in a box with the reason, nothing is made in it,
// and the store that was open stays open.
TEST_F(WinePrefixWindowTest, AFolderThatIsNoPrefixIsRefusedAndLeftAsItWas) {
  TForm1& f = Form();
  f.Ext->setText("kbw");
  const std::string empty = m_dir.File("empty");
  std::filesystem::create_directories(empty);
  const std::string missing = m_dir.File("missing");
  for (const std::string& dir : {empty, missing}) {
    m_boxes->shown.clear();
    OpenFromMenu(f, dir);
    ASSERT_EQ(m_boxes->Messages().size(), 1u) << dir;
    EXPECT_EQ(m_boxes->Messages().front().toStdString(), WhyNotWinePrefix(dir));
    EXPECT_FALSE(m_boxes->Messages().front().isEmpty());
    EXPECT_EQ(f.windowTitle(), "Kestrova");
    EXPECT_EQ(OpenedPrefix(), "");
  }
  EXPECT_TRUE(std::filesystem::is_empty(empty));
  EXPECT_FALSE(std::filesystem::exists(missing));
  f.Ext->setText("");
  f.Ext->setText("kbw");
  EXPECT_EQ(f.ExtType->text(), "Kestrova's own Kbw");

  // A prefix open keeps being the store when another choice fails.
  OpenFromMenu(f, m_prefix);
  OpenFromMenu(f, empty);
  EXPECT_EQ(OpenedPrefix(), m_prefix);
  EXPECT_EQ(f.ExtType->text(), "Kbw Document");
}

// On a prefix a change is saved into its system.reg after a backup the registry editor
// takes of the prefix, and nothing reaches the desktop; Import from Desktop refuses.
TEST_F(WinePrefixWindowTest, ChangesOnAPrefixStayInThePrefix) {
  TForm1& f = Form();
  OpenFromMenu(f, m_prefix);
  f.Ext->setText("kbw");
  f.ExtType->setText("Changed in Kestrova");
  f.SaveTypeBtnClick();
  EXPECT_TRUE(m_boxes->Messages().empty()) << m_boxes->Messages().front().toStdString();
  EXPECT_EQ(f.StatusText(), "File Type Properties Saved.");
  ASSERT_FALSE(m_opener->requests.empty());
  const QString parameters = m_opener->requests.back().parameters;
  EXPECT_TRUE(parameters.startsWith("/e \"")) << parameters.toStdString();
  EXPECT_TRUE(parameters.endsWith(QString::fromStdString(" --prefix \"" + m_prefix + "\"")))
      << parameters.toStdString();

  // Written to the prefix's file, where Wine reads it.
  std::string system;
  {
    std::ifstream in(m_prefix + "/system.reg", std::ios::binary);
    system.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_NE(system.find("@=\"Changed in Kestrova\""), std::string::npos) << system;

  // Nothing of the desktop's: no package, no entry, no list of defaults.
  const QString data = qEnvironmentVariable("XDG_DATA_HOME");
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  EXPECT_FALSE(QFileInfo::exists(data + "/mime/packages/kestrova-associations.xml"));
  EXPECT_TRUE(QDir(data + "/applications").entryList({"kestrova-*"}).isEmpty());
  EXPECT_FALSE(QFileInfo::exists(config + "/mimeapps.list"));

  m_boxes->shown.clear();
  f.ImportFromDesktop1Click();
  ASSERT_EQ(m_boxes->Messages().size(), 1u);
  EXPECT_TRUE(m_boxes->Messages().front().startsWith("Not on a Wine prefix"));

  // The registry editor opens on the same prefix.
  f.RegEdit1->trigger();
  EXPECT_EQ(m_opener->requests.back().command, "Regedit.exe");
  EXPECT_EQ(m_opener->requests.back().parameters.toStdString(), "--prefix \"" + m_prefix + "\"");
}

// What Wine saved while the prefix was open is read again when the window comes to the
// front: new keys under known ones included.
TEST_F(WinePrefixWindowTest, WhatWineSavesMeanwhileIsReadAgain) {
  TForm1& f = Form();
  OpenFromMenu(f, m_prefix);
  f.Ext->setText("kbw");
  ASSERT_EQ(f.ListBox1->topLevelItemCount(), 1);
  {
    // As Wine saves: a new file renamed over the old one.
    const std::string saved = m_prefix + "/system.reg.new";
    std::ofstream out(saved, std::ios::binary);
    std::ifstream in(m_prefix + "/system.reg", std::ios::binary);
    out << in.rdbuf()
        << "\n[Software\\\\Classes\\\\.kbz] 1796763999\n@=\"Wine.Kbz\"\n"
           "\n[Software\\\\Classes\\\\Wine.Kbw\\\\shell\\\\print\\\\command] 1796763999\n"
           "@=\"C:\\\\windows\\\\notepad.exe /p \\\"%1\\\"\"\n"
           "\n[Software\\\\Classes\\\\Wine.Kbz] 1796763999\n@=\"Kbz Document\"\n"
           "\n[Software\\\\Classes\\\\Wine.Kbz\\\\shell\\\\print\\\\command] 1796763999\n"
           "@=\"C:\\\\windows\\\\notepad.exe /p \\\"%1\\\"\"\n";
    out.close();
    std::filesystem::rename(saved, m_prefix + "/system.reg");
  }
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&f, &activate);
  f.Ext->setText("");
  f.Ext->setText("kbw");
  ASSERT_EQ(f.ListBox1->topLevelItemCount(), 2);
  EXPECT_EQ(f.ListBox1->topLevelItem(1)->text(0), "print");
  // A new file type whose action keys are implied by the deepest one.
  f.Ext->setText("kbz");
  EXPECT_EQ(f.ExtType->text(), "Kbz Document");
  ASSERT_EQ(f.ListBox1->topLevelItemCount(), 1);
  EXPECT_EQ(f.ListBox1->topLevelItem(0)->text(0), "print");
}

// The registry editor is handed the prefix as one argument, whatever its folder is called.
TEST_F(WinePrefixWindowTest, ThePrefixReachesTheRegistryEditorAsOneArgument) {
  const std::string odd = m_dir.File("a \"quoted\" pre\\fix\\");
  MakeFakePrefix(odd, kPrefixKeys);
  TForm1& f = Form();
  OpenFromMenu(f, odd);
  ASSERT_EQ(OpenedPrefix(), odd);
  f.Ext->setText("kbw");
  f.ExtType->setText("Changed");
  f.SaveTypeBtnClick();
  EXPECT_EQ(f.StatusText(), "File Type Properties Saved.");
  ASSERT_FALSE(m_opener->requests.empty());
  const std::vector<std::string> args =
      SplitWindowsCommandLine(m_opener->requests.back().parameters.toStdString());
  ASSERT_EQ(args.size(), 5u);
  EXPECT_EQ(args[0], "/e");
  EXPECT_EQ(args[3], "--prefix");
  EXPECT_EQ(args[4], OpenedPrefix());
}

// The new extension wizard, whose file-type list a worker thread reads, works on the prefix
// and writes into its system.reg.
TEST_F(WinePrefixWindowTest, TheWizardWorksOnThePrefix) {
  TForm1& f = Form();
  OpenFromMenu(f, m_prefix);
  TForm3* w = f.AttachedDialogs().newExtensionWizard;
  QStringList types;
  QTimer::singleShot(0, w, [&] {
    if (!RunUntilFinished(w->FileTypeLoader)) {
      w->reject();
      return;
    }
    for (int i = 0; i < w->AssocFileTypes->count(); ++i) types << w->AssocFileTypes->itemText(i);
    w->FileExt->setText("kbn");
    w->AssocFileTypes->setEditText("Wine.Kbw");
    w->ContentType->setEditText("text/x-kbn");
    w->Button1->click();
  });
  f.New1->trigger();
  EXPECT_EQ(w->result(), QDialog::Accepted);
  EXPECT_TRUE(types.contains("Wine.Kbw")) << types.join(' ').toStdString();
  EXPECT_FALSE(types.contains("Own.Kbw"));
  EXPECT_TRUE(m_boxes->Messages().empty()) << m_boxes->Messages().front().toStdString();
  EXPECT_EQ(f.Ext->text(), "kbn");
  EXPECT_EQ(f.ExtType->text(), "Kbw Document");
  std::ifstream in(m_prefix + "/system.reg", std::ios::binary);
  const std::string system{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::size_t block = system.find("[Software\\\\Classes\\\\.kbn]");
  ASSERT_NE(block, std::string::npos) << system;
  EXPECT_NE(system.find("@=\"Wine.Kbw\"", block), std::string::npos) << system;
  EXPECT_NE(system.find("\"Content Type\"=\"text/x-kbn\"", block), std::string::npos) << system;
}

}  // namespace
}  // namespace kestrova::test
