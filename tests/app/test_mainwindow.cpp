// The main window as the program makes it: windows, layout, menus, the argument, errors.

#include <sys/resource.h>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <filesystem>

#include "app/About.h"
#include "app/DefaultStore.h"
#include "app/Errors.h"
#include "app/Main.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/EventWait.h"

namespace kestrova::test {
namespace {

QStringList MenuTexts(QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions()) texts << (a->isSeparator() ? "-" : a->text());
  return texts;
}

TEST_F(MainWindowTest, WindowsAreMadeInOrderWithTheirCaptions) {
  TForm1& f = Form();
  EXPECT_EQ(f.windowTitle(), "Kestrova");
  EXPECT_FALSE(f.isVisible());
  const auto& d = f.AttachedDialogs();
  const std::vector<std::pair<QDialog*, QString>> dialogs = {
      {reinterpret_cast<QDialog*>(d.settingsDialog), "Settings"},
      {reinterpret_cast<QDialog*>(d.newExtensionWizard), "Create New Extension"},
      {reinterpret_cast<QDialog*>(d.flagsDialog), "Edit Flags"},
      {reinterpret_cast<QDialog*>(d.ddeDialog), "Dynamic Data Exchange Settings"},
      {reinterpret_cast<QDialog*>(d.changeAssociationDialog), "Change Association"},
      {reinterpret_cast<QDialog*>(d.newFileTypeDialog), "Create New File Type"}};
  // Children are kept in creation order.
  QList<QDialog*> made;
  for (QObject* child : f.children()) {
    if (auto* dialog = qobject_cast<QDialog*>(child); dialog && dialog != f.AboutDlg)
      made << dialog;
  }
  ASSERT_EQ(made.size(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(made[i], dialogs[i].first);
    EXPECT_EQ(made[i]->windowTitle(), dialogs[i].second);
    EXPECT_FALSE(made[i]->isVisible());
  }
}

TEST_F(MainWindowTest, LayoutFollowsTheDesign) {
  TForm1& f = Form();
  EXPECT_EQ(f.centralWidget()->width(), 515);
  EXPECT_EQ(f.centralWidget()->height() + f.statusBar()->height(), 396);
  EXPECT_EQ(f.minimumSize(), f.maximumSize());  // fixed border
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);

  EXPECT_EQ(f.Ext->geometry(), QRect(16, 40, 57, 21));
  EXPECT_EQ(f.Ext->parentWidget(), f.ExtensionGroup);
  EXPECT_EQ(f.ListBox1->geometry(), QRect(8, 24, 113, 121));
  EXPECT_EQ(f.ListBox1->parentWidget(), f.ActionsGroup);
  EXPECT_EQ(f.ActionsGroup->parentWidget(), f.FileTypeGroup);
  EXPECT_EQ(f.ListBox1->headerItem()->text(0), "Actions");
  EXPECT_EQ(f.SaveTypeBtn->geometry(), QRect(320, 88, 65, 22));
  EXPECT_EQ(f.ReferenceBtn->geometry(), QRect(424, 14, 81, 22));
  EXPECT_TRUE(f.ExtDesc->isReadOnly());
  EXPECT_EQ(f.Image1->toolTip(), "Click to change icon");
  EXPECT_FALSE(f.EditFlagsBtn->isEnabled());
  EXPECT_FALSE(f.EditFlags1->isEnabled());

  // Every labelled box is announced by its label.
  for (QLabel* label : f.centralWidget()->findChildren<QLabel*>()) {
    if (!label->buddy()) continue;
    EXPECT_EQ(label->buddy()->accessibleName() + ":", QString(label->text()).remove('&'))
        << label->objectName().toStdString();
  }
  for (QWidget* box : std::initializer_list<QWidget*>{f.Ext, f.ContentType, f.ExtDesc, f.ExtType,
                                                      f.ActionE, f.Command}) {
    EXPECT_FALSE(box->accessibleName().isEmpty()) << box->objectName().toStdString();
  }
  EXPECT_EQ(f.Ext->accessibleName(), "Extension");
  // What the accessibility bridge hands to screen readers.
  QAccessible::setActive(true);
  for (auto [box, name] : std::initializer_list<std::pair<QWidget*, QString>>{
           {f.Ext, "Extension"},
           {f.ExtDesc, "ProgID"},
           {f.Command, "Command-line used to perform action"},
           {f.Image1, "Icon"},
           {f.ListBox1, "Actions"}}) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(box);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->text(QAccessible::Name), name);
  }

  // Tab order within and across the groups.
  const std::vector<QWidget*> order = {
      f.Ext,          f.ContentType, f.SaveExtBtn,   f.Image1,        f.ConfirmCB,
      f.AlwaysShowCB, f.BrowseCB,    f.SaveTypeBtn,  f.EditFlagsBtn,  f.ListBox1,
      f.ActionE,      f.Command,     f.BrowseBtn,    f.SaveActionBtn, f.DDEBtn,
      f.ExtDesc,      f.ExtType,     f.ReferenceBtn, f.RegistryBtn,   f.SettingsBtn};
  for (std::size_t i = 1; i < order.size(); ++i) {
    QWidget* next = order[i - 1]->nextInFocusChain();
    while (next && (next->focusPolicy() == Qt::NoFocus || order[i - 1]->isAncestorOf(next))) {
      next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, order[i]) << "after " << order[i - 1]->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, MenusAndActions) {
  TForm1& f = Form();
  QStringList menus;
  for (QAction* a : f.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&Extension", "&File Type", "&Tools", "&Help"}));
  EXPECT_EQ(MenuTexts(f.File1),
            (QStringList{"&New", "&Save", "&Delete", "&Change Association", "-", "E&xit"}));
  EXPECT_EQ(MenuTexts(f.FileType1), (QStringList{"&New", "&Delete", "&Edit Flags"}));
  EXPECT_EQ(
      MenuTexts(f.ools1),
      (QStringList{"E&xtension Details", "Registry Editor", "&Settings", "&Import from Desktop",
                   "Remove &Desktop Changes", "&Check Associations", "&Wine's Associations", "-",
                   "Open Wine &Prefix...", "Open Kestrova's &Own Store"}));
  EXPECT_EQ(MenuTexts(f.Help1), (QStringList{"Kestrova Help", "Online Help", "-", "&About"}));
  EXPECT_EQ(MenuTexts(f.PopUp), (QStringList{"&New", "&Delete", "-", "&Set Default"}));
  EXPECT_EQ(f.ExtensionDetails1->toolTip(), "Reference");
  EXPECT_EQ(f.SaveExtAction->objectName(), "SaveExt");
  EXPECT_EQ(f.SaveExtAction->property("category").toString(), "Extension");
  EXPECT_EQ(f.ClearFrmAction->property("category").toString(), "Loading");
  EXPECT_EQ(f.RegEditB->text(), "Registry Editor");
}

TEST_F(MainWindowTest, ContentTypesComeFromTheMimeDatabase) {
  for (const char* t : {"text/plain", "image/png", "application/zip"}) {
    WriteText(std::string("\\MIME\\Database\\Content Type\\") + t, "Extension", ".x");
  }
  TForm1& f = Form();
  QStringList items;
  for (int i = 0; i < f.ContentType->count(); ++i) items << f.ContentType->itemText(i);
  EXPECT_EQ(items, (QStringList{"application/zip", "image/png", "text/plain"}));
  EXPECT_EQ(f.ContentType->currentText(), "");
}

TEST_F(MainWindowTest, NoMimeDatabaseLeavesTheListEmptyAndTheBoxUsable) {
  TForm1& f = Form();
  EXPECT_EQ(f.ContentType->count(), 0);
  f.ContentType->setEditText("text/x-mine");
  EXPECT_EQ(f.ContentType->currentText(), "text/x-mine");
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(MainWindowTest, TheArgumentGivesTheTextAfterTheLastDotOnce) {
  WriteText("\\.html", "", "htmlfile");
  WriteText("\\.txt", "", "txtfile");
  TForm1& f = Form();
  f.SetArgument("/home/u/my.site/page.html");
  f.FormActivate();
  EXPECT_EQ(f.Ext->text(), "html");
  EXPECT_EQ(f.ExtDesc->text(), "htmlfile");
  // Back from a dialog: what the user typed stays.
  f.Ext->setText("txt");
  f.FormActivate();
  EXPECT_EQ(f.Ext->text(), "txt");
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");
}

TEST_F(MainWindowTest, AnArgumentWithoutExtensionLoadsNothing) {
  for (const char* arg : {"/home/u.d/README", "/tmp/name.", "x"}) {
    auto windows = CreateWindows();
    windows->SetArgument(arg);
    windows->FormActivate();
    EXPECT_EQ(windows->Ext->text(), "") << arg;
  }
}

TEST_F(MainWindowTest, TheFirstShowingAppliesTheArgument) {
  WriteText("\\.txt", "", "txtfile");
  TForm1& f = Form();
  f.SetArgument("notes.TXT");
  f.show();
  WaitUntil([&] { return f.Ext->text() == "TXT"; }, 5000);
  EXPECT_EQ(f.Ext->text(), "TXT");
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");  // names match without regard to case
}

TEST_F(MainWindowTest, ClickingTheExtensionSelectsItAll) {
  TForm1& f = Form();
  f.show();
  f.Ext->setText("abc");
  f.Ext->deselect();
  QTest::mouseClick(f.Ext, Qt::LeftButton);
  EXPECT_EQ(f.Ext->selectedText(), "abc");
}

TEST_F(MainWindowTest, UncaughtErrorsEndWithAFullStopWhenTheyNeedOne) {
  ShowUncaughtError("Failed to create key \\x");
  ShowUncaughtError("Invalid data type for 'x'");
  ShowUncaughtError("List index out of bounds (-1)");
  ShowUncaughtError("Done.");
  EXPECT_EQ(m_boxes->Messages(),
            (std::vector<QString>{"Failed to create key \\x.", "Invalid data type for 'x'",
                                  "List index out of bounds (-1)", "Done."}));
  EXPECT_EQ(m_boxes->shown.front().caption, "Kestrova");
}

TEST_F(MainWindowTest, AboutBoxClosesWithEnterAndEscape) {
  TForm1& f = Form();
  AboutBox* about = f.AboutDlg;
  EXPECT_EQ(about->windowTitle(), "About");
  QStringList texts;
  for (QLabel* l : about->findChildren<QLabel*>()) texts << l->text();
  EXPECT_TRUE(texts.contains("Kestrova"));
  EXPECT_TRUE(texts.contains("Version 2.0"));
  for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
    QTimer::singleShot(0, about,
                       [about, key] { QTest::keyClick(about, static_cast<Qt::Key>(key)); });
    f.About1->trigger();
    EXPECT_FALSE(about->isVisible());
  }
  auto* ok = about->findChild<QPushButton*>("OKButton");
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
}

// A new store is whole or not there at all: what the seed leaves after a failure.
bool NoStoreAt(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", ".new", ".new-wal", ".new-shm"}) {
    if (std::filesystem::exists(path + suffix)) return false;
  }
  return true;
}

// The seeded store answers as the program reads it.
void ExpectSeeded(const std::string& path) {
  AssocStore classes(OpenSqliteStore(path));
  classes.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(classes.OpenPath("\\.txt", false));
  EXPECT_EQ(classes.GetText(""), "txtfile");
  EXPECT_TRUE(classes.HasPath(layout::ContentTypeDatabaseKey));
  AssocStore user(OpenSqliteStore(path));
  user.SetRoot(RootKey::CurrentUser);
  ASSERT_TRUE(user.OpenPath(layout::SettingsKey, false));
  EXPECT_EQ(user.GetText(layout::HelpUrlName), "https://fileinfo.com/extension/");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

// Each failure of the seed says what failed, leaves no store behind, and the next try
// (the next start) seeds the store whole.
TEST(Seed, AFailedSeedLeavesNoStoreAndTheNextStartSeeds) {
  TempDir dir;
  const std::string path = dir.File("data/registry.db");
  const auto failure = [&](const QString& seed) -> std::string {
    try {
      CreateSeededStore(path, seed);
    } catch (const SeedError& e) {
      EXPECT_TRUE(NoStoreAt(path)) << e.what();
      return e.what();
    }
    ADD_FAILURE() << "seeded from " << seed.toStdString();
    return {};
  };

  const std::string missing = failure(QString::fromStdString(dir.File("none.reg")));
  EXPECT_NE(missing.find("could not be filled with the default classes: they cannot be read"),
            std::string::npos)
      << missing;
  EXPECT_NE(missing.find("tries again at its next start"), std::string::npos);

  // A damaged resource: a line the importer would skip refuses it all.
  WriteFile(dir.File("damaged.reg"),
            "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.aaa]\n@=\"aaafile\"\n\n[HKEY_CLASSES_ROOT\\.bbb]\n"
            "@=\"cut off\n");
  const std::string damaged = failure(QString::fromStdString(dir.File("damaged.reg")));
  EXPECT_NE(damaged.find("default-classes.reg:"), std::string::npos) << damaged;

  // A file-size limit stops the store half-way through.
  struct rlimit before {};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 64 * 1024;  // room for the seed's copy, not for the store
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string limited = failure(kDefaultClassesFile);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(limited.find("could not be written"), std::string::npos) << limited;

  CreateSeededStore(path);
  ExpectSeeded(path);
}

}  // namespace
}  // namespace kestrova::test
