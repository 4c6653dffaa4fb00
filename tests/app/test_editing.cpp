// Saving, deleting, backups, the actions panel and the DDE dialog, driven through the real
// windows with scripted boxes, a recording opener and a fixed clock.

#include <sqlite3.h>

#include <QAbstractProxyModel>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "app/Backups.h"
#include "app/Errors.h"
#include "app/Main.h"
#include "dialogs/DDE.h"
#include "platform/Boxes.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "platform/OpenerDesktop.h"
#include "shell/ProcessLauncher.h"
#include "store/AssocLayout.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/RecordingOpener.h"
#include "tests/support/TestDoubles.h"
#include "tools/RegeditCommand.h"

namespace kestrova::test {
namespace {

class EditingTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    m_opener = std::make_shared<ExportingOpener>();
    SetOpener(m_opener);
    m_clock = std::make_shared<FixedClock>();
    SetClock(m_clock);
    m_notifier = std::make_shared<CountingNotifier>();
    SetNotifier(m_notifier);
    m_backups = std::getenv("KESTROVA_BACKUP_DIR");
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetOpener(nullptr);
    SetClock(nullptr);
    SetNotifier(nullptr);
  }

  void WriteTextFile() {
    WriteText("\\.txt", "", "txtfile");
    WriteText("\\.txt", "Content Type", "text/plain");
    WriteText("\\txtfile", "", "Text Document");
    Raw("\\txtfile", "EditFlags", RegType::Binary, std::string("\x38\x07\x01\x00", 4));
    WriteText("\\txtfile\\Shell", "", "open");
    WriteText("\\txtfile\\Shell\\open", "", "&Open");
    WriteText("\\txtfile\\Shell\\open\\command", "", "viewer %1");
    WriteText("\\txtfile\\Shell\\print", "", "&Print");
    WriteText("\\txtfile\\Shell\\print\\command", "", "lp %1");
    WriteText("\\txtfile\\Shell\\print\\ddeexec", "", "[print]");
    WriteText("\\txtfile\\Shell\\print\\ddeexec\\Application", "", "Printer");
  }

  TForm1& Loaded(const char* ext = "txt") {
    Form().Ext->setText(ext);
    return Form();
  }

  void Select(const QString& verb) {
    auto items = Form().ListBox1->findItems(verb, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    Form().ListBox1->setCurrentItem(items.front());
  }

  // The export arguments the backup handed to the registry editor.
  QStringList Backups() const {
    QStringList list;
    for (const auto& r : m_opener->requests) {
      if (r.command == "Regedit.exe") list << r.parameters;
    }
    return list;
  }
  QString BackupArgs(const QString& name, const QString& key) const {
    return "/e \"" + QString(m_backups) + "/" + name + "-20261207-113905.reg\" " + key;
  }

  std::shared_ptr<ExportingOpener> m_opener;
  std::shared_ptr<FixedClock> m_clock;
  std::shared_ptr<CountingNotifier> m_notifier;
  const char* m_backups = nullptr;
};

TEST_F(EditingTest, BackupsExportTheKeyToADatedFileAndWait) {
  WriteTextFile();
  TForm1& f = Loaded();
  f.BUExt();
  m_clock->now.setTime(QTime(15, 4, 9));
  f.BUProgID();
  EXPECT_EQ(Backups(),
            (QStringList{BackupArgs("txt", "HKEY_CLASSES_ROOT\\.txt"),
                         "/e \"" + QString(m_backups) +
                             "/txtfile-20261207-150409.reg\" HKEY_CLASSES_ROOT\\txtfile"}));
  EXPECT_EQ(*m_opener->log, (std::vector<QString>{"open Regedit.exe", "wait 1", "close 1",
                                                  "open Regedit.exe", "wait 2"}));
  EXPECT_EQ(f.Starter->Parameters(), "");  // later starts pass no arguments

  // A name with a blank is quoted so the registry editor still receives one key; a slash
  // cannot take the file out of the backup folder.
  WriteText("\\My Type/x", "", "odd");
  f.ExtDesc->setText("My Type/x");
  f.BUProgID();
  EXPECT_EQ(Backups().back(),
            "/e \"" + QString(m_backups) +
                "/My Type_x-20261207-150409.reg\" \"HKEY_CLASSES_ROOT\\My Type/x\"");
  // No name, no backup.
  f.ExtDesc->clear();
  f.BUProgID();
  EXPECT_EQ(Backups().size(), 3);
}

TEST_F(EditingTest, SaveExtension) {
  WriteTextFile();
  TForm1& f = Loaded();
  f.ContentType->setEditText("text/x-changed");
  f.SaveExtBtn->click();
  EXPECT_EQ(ReadValue("\\.txt", "Content Type"), "text/x-changed");
  EXPECT_EQ(Backups(), QStringList{BackupArgs("txt", "HKEY_CLASSES_ROOT\\.txt")});
  EXPECT_EQ(f.StatusText(), "File Extension Properties Saved.");
  EXPECT_EQ(m_notifier->count, 1);

  f.ContentType->setEditText("");
  f.Save1->trigger();
  EXPECT_EQ(ReadValue("\\.txt", "Content Type"), "(no value)");
  f.SaveExtAction->trigger();  // again with the box still empty: no error
  EXPECT_TRUE(m_boxes->Messages().empty());

  f.Ext->setText("missing");
  f.SetStatus("");
  f.SaveExtAction->trigger();
  EXPECT_EQ(
      m_boxes->Messages().back(),
      "Extension does not exist, please use the New Extension wizard form the Extension Menu.");
  EXPECT_FALSE(HasKey("\\.missing"));
  EXPECT_EQ(f.StatusText(), "");

  f.Ext->clear();
  const auto before = Backups().size();
  f.SaveExtAction->trigger();
  EXPECT_EQ(Backups().size(), before);  // an empty box takes no backup
  EXPECT_EQ(m_boxes->Messages().size(), 2u);
}

TEST_F(EditingTest, SaveFileTypeReplacesEditFlagsWhole) {
  WriteTextFile();
  TForm1& f = Loaded();
  f.ExtType->setText("Plain Text");
  f.ConfirmCB->setChecked(true);
  f.AlwaysShowCB->setChecked(true);
  f.BrowseCB->setChecked(false);
  f.SaveTypeBtn->click();
  EXPECT_EQ(ReadValue("\\txtfile", ""), "Plain Text");
  EXPECT_EQ(ReadValue("\\txtfile", "EditFlags"), "dword:0");  // was Binary, other bits gone
  EXPECT_EQ(ReadValue("\\txtfile", "AlwaysShowExt"), "");
  EXPECT_EQ(ReadValue("\\txtfile", "BrowserFlags"), "dword:8");
  EXPECT_EQ(f.StatusText(), "File Type Properties Saved.");
  EXPECT_EQ(Backups(), QStringList{BackupArgs("txtfile", "HKEY_CLASSES_ROOT\\txtfile")});

  f.SaveTypeBtn->click();  // twice: still one empty value
  f.ConfirmCB->setChecked(false);
  f.AlwaysShowCB->setChecked(false);
  f.BrowseCB->setChecked(true);
  f.SaveTypeBtn->click();
  EXPECT_EQ(ReadValue("\\txtfile", "EditFlags"), "dword:65536");
  EXPECT_EQ(ReadValue("\\txtfile", "AlwaysShowExt"), "(no value)");
  EXPECT_EQ(ReadValue("\\txtfile", "BrowserFlags"), "(no value)");
  // A save followed by a load shows the boxes as saved.
  f.Ext->setText("");
  f.Ext->setText("txt");
  EXPECT_FALSE(f.ConfirmCB->isChecked());
  EXPECT_FALSE(f.AlwaysShowCB->isChecked());
  EXPECT_TRUE(f.BrowseCB->isChecked());

  // Without a ProgID nothing happens; with a ProgID that has no key the first write fails.
  f.ExtDesc->clear();
  const auto count = Backups().size();
  f.SaveTypeBtnClick();
  EXPECT_EQ(Backups().size(), count);
  f.ExtDesc->setText("nofile");
  EXPECT_THROW(f.SaveTypeBtnClick(), ERegistryException);
  EXPECT_FALSE(HasKey("\\nofile"));
}

TEST_F(EditingTest, DeleteExtensionBacksUpBeforeAsking) {
  WriteTextFile();
  WriteText("\\.txt\\deep\\deeper", "", "x");
  TForm1& f = Loaded();
  m_boxes->confirmAnswers = {false};
  f.Delete1->trigger();
  EXPECT_EQ(m_boxes->shown.back().caption, "Confirm");
  EXPECT_EQ(m_boxes->shown.back().text, "Are you sure you want to delete .txt?");
  EXPECT_EQ(Backups().size(), 1);  // taken although the answer was No
  EXPECT_TRUE(HasKey("\\.txt"));

  m_boxes->confirmAnswers = {true};
  f.Delete1->trigger();
  EXPECT_FALSE(HasKey("\\.txt"));
  EXPECT_FALSE(HasKey("\\.txt\\deep"));
  EXPECT_TRUE(HasKey("\\txtfile"));  // the file type stays
  EXPECT_EQ(f.StatusText(), "Deleted Extension Successfully");
  EXPECT_EQ(f.Ext->text(), "");
  EXPECT_EQ(f.ExtDesc->text(), "");
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 0);
  EXPECT_EQ(m_notifier->count, 0);
}

TEST_F(EditingTest, DeleteFileTypeBacksUpOnlyAfterYes) {
  WriteTextFile();
  TForm1& f = Loaded();
  m_boxes->confirmAnswers = {false};
  f.Delete2->trigger();
  EXPECT_EQ(m_boxes->shown.back().text, "Are you sure you want to delete .txtfile?");
  EXPECT_TRUE(Backups().isEmpty());
  m_boxes->confirmAnswers = {true};
  f.Delete2->trigger();
  EXPECT_EQ(Backups(), QStringList{BackupArgs("txtfile", "HKEY_CLASSES_ROOT\\txtfile")});
  EXPECT_FALSE(HasKey("\\txtfile"));
  EXPECT_EQ(f.StatusText(), "Deleted File Type Successfully");
  // The extension still names the deleted type: it loads with no description or actions.
  f.Ext->setText("txt");
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");
  EXPECT_EQ(f.ExtType->text(), "");
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 0);
}

TEST_F(EditingTest, SelectingAnActionShowsItsCaptionCommandAndTheStoredContentType) {
  WriteTextFile();
  TForm1& f = Loaded();
  f.ContentType->setEditText("typed/not-saved");
  Select("print");
  EXPECT_EQ(f.ActionE->text(), "&Print");
  EXPECT_EQ(f.Command->text(), "lp %1");
  EXPECT_EQ(f.Command->toolTip(), "lp %1");
  EXPECT_EQ(f.ContentType->currentText(), "text/plain");
}

TEST_F(EditingTest, SaveAnAction) {
  WriteTextFile();
  WriteText("\\txtfile\\Shell\\bare", "", "");  // an action made elsewhere, without a command key
  TForm1& f = Loaded();
  Select("print");
  f.ActionE->setText("Print &it");
  f.Command->setText("lp -o fit %1");
  f.SaveActionBtn->click();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\print", ""), "Print &it");
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\print\\Command", ""), "lp -o fit %1");
  EXPECT_EQ(f.StatusText(), "Action Properties Saved.");
  EXPECT_EQ(m_notifier->count, 1);
  EXPECT_EQ(Backups(), QStringList{BackupArgs("txtfile", "HKEY_CLASSES_ROOT\\txtfile")});

  Select("bare");
  f.Command->setText("bare %1");
  f.SaveActionBtnClick();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\bare", ""), "");
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\bare\\command", ""), "bare %1");

  // No selected row: the list index error, after the backup, with nothing written.
  f.ListBox1->clearSelection();
  try {
    f.SaveActionBtnClick();
    FAIL() << "nothing raised";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
  EXPECT_EQ(Backups().size(), 3);
}

// Programs here have no extension: the dialog lists every file and adds none, and only a
// file that can be run is taken.
TEST(BrowseDialog, TheProgramsFilterListsFoldersAndFilesThatCanRun) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("bin"));
  WriteFile(dir.File("tool"), "#!/bin/sh\n");
  std::filesystem::permissions(dir.File("tool"), std::filesystem::perms::owner_all);
  WriteFile(dir.File("notes.txt"), "text");
  const QString folder = QString::fromStdString(dir.Path());
  const auto dialog = MakeFileDialog(nullptr, "Open", folder, {"All Files (*)"});
  OfferProgramsFilter(*dialog);
  EXPECT_EQ(dialog->nameFilters(), (QStringList{kProgramsFilter, "All Files (*)"}));
  EXPECT_EQ(dialog->selectedNameFilter(), kProgramsFilter);

  auto* proxy = dialog->proxyModel();
  ASSERT_NE(proxy, nullptr);
  auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
  ASSERT_NE(files, nullptr);
  const auto listed = [&] {
    QStringList names;
    const QModelIndex root = proxy->mapFromSource(files->index(folder));
    for (int row = 0; row < proxy->rowCount(root); ++row)
      names << proxy->index(row, 0, root).data().toString();
    names.sort();
    return names;
  };
  // The folder and the files' permissions are read on a thread of the model's own, in
  // batches: wait, by the clock, until the list settles.
  const QStringList programs{"bin", "tool"};
  QElapsedTimer clock;
  clock.start();
  while (listed() != programs && clock.elapsed() < 20000) QTest::qWait(20);
  EXPECT_EQ(listed(), programs);
  dialog->selectNameFilter("All Files (*)");
  emit dialog->filterSelected("All Files (*)");
  EXPECT_EQ(listed(), (QStringList{"bin", "notes.txt", "tool"}));
}

TEST_F(EditingTest, BrowseTakesOnlyAProgramAndQuotesItsPath) {
  WriteTextFile();
  TempDir dir;
  std::filesystem::create_directory(dir.File("My Apps"));
  const std::string program = dir.File("My Apps/edit");
  WriteFile(program, "#!/bin/sh\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  WriteFile(dir.File("notes.txt"), "text");
  TForm1& f = Loaded();
  m_opener->requests.clear();
  m_boxes->openAnswers = {QString::fromStdString(program)};
  f.BrowseBtn->click();
  EXPECT_EQ(f.Command->text(), "\"" + QString::fromStdString(program) + "\" \"%1\"");
  EXPECT_EQ(f.Command->toolTip(), "viewer %1");  // the hint waits for Save or a selection
  EXPECT_EQ(m_boxes->lastOpenRequest.filters, QStringList{"All Files (*)"});
  EXPECT_TRUE(m_boxes->lastOpenRequest.programs);
  EXPECT_TRUE(m_boxes->lastOpenRequest.defaultSuffix.isEmpty());
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\open\\command", ""), "viewer %1");
  EXPECT_TRUE(m_boxes->Messages().empty());

  // A file that cannot be run, a folder, or a name typed without a file: refused, the
  // command line kept.
  for (const std::string& chosen : {dir.File("notes.txt"), dir.File("My Apps"), dir.File("edit")}) {
    m_boxes->openAnswers = {QString::fromStdString(chosen)};
    f.BrowseBtn->click();
    EXPECT_EQ(m_boxes->Messages().back(),
              "\"" + QString::fromStdString(chosen) +
                  "\" is not a program: it is not a file you may run. Choose a program, or type "
                  "the command line.");
  }
  EXPECT_EQ(m_boxes->Messages().size(), 3u);
  f.BrowseBtn->click();  // cancelled
  EXPECT_EQ(f.Command->text(), "\"" + QString::fromStdString(program) + "\" \"%1\"");
  EXPECT_TRUE(m_opener->requests.empty());
}

TEST_F(EditingTest, NewActions) {
  WriteTextFile();
  TForm1& f = Loaded();
  m_boxes->promptAnswers = {"edit"};
  f.AddShell1->trigger();
  EXPECT_EQ(m_boxes->shown.back().caption, "New Action");
  EXPECT_EQ(m_boxes->shown.back().text, "Action Name");
  EXPECT_EQ(m_boxes->lastPromptMaxLength, 255);
  EXPECT_TRUE(HasKey("\\txtfile\\Shell\\edit\\command"));
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 3);
  EXPECT_EQ(f.ListBox1->topLevelItem(0)->text(0), "edit");
  EXPECT_EQ(f.ListIndex(), -1);
  EXPECT_EQ(f.ActionE->text(), "&Open");  // the boxes keep their text

  m_boxes->promptAnswers = {"a\\b"};  // a backslash addresses deeper keys
  f.AddShell1->trigger();
  EXPECT_TRUE(HasKey("\\txtfile\\Shell\\a\\b\\command"));
  EXPECT_TRUE(f.ListBox1->findItems("a", Qt::MatchExactly).size() == 1);

  const auto rows = f.ListBox1->topLevelItemCount();
  f.AddShell1->trigger();  // cancelled: empty text
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), rows);

  // A file type with no Shell key gets one; an extension with no file type gets nothing.
  WriteText("\\.new", "", "New.Type");
  WriteText("\\New.Type", "", "");
  f.Ext->setText("new");
  m_boxes->promptAnswers = {"open"};
  f.AddShell1->trigger();
  EXPECT_TRUE(HasKey("\\New.Type\\Shell\\open\\command"));
  WriteText("\\.none", "Content Type", "x/y");
  f.Ext->setText("none");
  m_boxes->promptAnswers = {"open"};
  f.AddShell1->trigger();
  EXPECT_FALSE(HasKey("\\?"));
  EXPECT_FALSE(HasKey("\\Shell"));
  EXPECT_EQ(m_boxes->Messages().size(), 1u);
}

TEST_F(EditingTest, DeleteAnActionWithItsDdeSettings) {
  WriteTextFile();
  TForm1& f = Loaded();
  Select("print");
  f.DeleteShell1->trigger();
  EXPECT_FALSE(HasKey("\\txtfile\\Shell\\print"));
  EXPECT_FALSE(HasKey("\\txtfile\\Shell\\print\\ddeexec"));
  EXPECT_EQ(Backups(), QStringList{BackupArgs("txtfile", "HKEY_CLASSES_ROOT\\txtfile")});
  EXPECT_EQ(f.ListIndex(), -1);
  // Deleting the default action leaves the Shell key naming it.
  Select("open");
  f.DeleteShell1Click();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell", ""), "open");
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 0);
  EXPECT_THROW(f.DeleteShell1Click(), EListError);
}

TEST_F(EditingTest, SetDefaultMovesTheBoldMark) {
  WriteTextFile();
  TForm1& f = Loaded();
  Select("print");
  f.ChangetoDefaultAction1->trigger();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell", ""), "print");
  EXPECT_EQ(f.State.CurrentDefaultVerb, "print");
  EXPECT_EQ(f.StatusText(), "Default action successfully changed to print");
  EXPECT_EQ(m_notifier->count, 0);

  // Bold only for an exact match: paint the row and compare the ink.
  auto ink = [&](const std::string& defaultVerb) {
    f.State.CurrentDefaultVerb = defaultVerb;
    QImage image(120, 16, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 120, 16);
    f.ListBox1DrawItem(&painter, option, 1);  // the row "print"
    painter.end();
    int dark = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 120; ++x) dark += qGray(image.pixel(x, y)) < 128;
    }
    return dark;
  };
  EXPECT_GT(ink("print"), ink("Print"));
  EXPECT_EQ(ink("Print"), ink("open"));
}

TEST_F(EditingTest, DdeDialogLoadsWritesAndRemoves) {
  WriteTextFile();
  TForm1& f = Loaded();
  TFrmDDE* dde = f.AttachedDialogs().ddeDialog;
  Select("print");
  dde->FormActivate();
  EXPECT_TRUE(dde->CheckBox1->isChecked());
  EXPECT_EQ(dde->Edit5->text(), "[print]");
  EXPECT_EQ(dde->Edit6->text(), "Printer");
  EXPECT_EQ(dde->Edit7->text(), "");  // no Topic key
  dde->OKBtnClick();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\print\\ddeexec\\Topic", ""), "");
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\print\\ddeexec\\ifexec", ""), "");
  EXPECT_EQ(Backups().size(), 1);

  // Ticked on an action without DDE: the key and its three subkeys appear.
  Select("open");
  dde->FormActivate();
  EXPECT_FALSE(dde->CheckBox1->isChecked());
  EXPECT_EQ(dde->Edit5->text(), "");
  dde->CheckBox1->setChecked(true);
  dde->Edit7->setText("System");
  dde->OKBtnClick();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\open\\ddeexec", ""), "");
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\open\\ddeexec\\Topic", ""), "System");
  EXPECT_TRUE(HasKey("\\txtfile\\Shell\\open\\ddeexec\\Application"));

  // Cleared: the whole subtree goes.
  dde->FormActivate();
  dde->CheckBox1->setChecked(false);
  dde->OKBtnClick();
  EXPECT_FALSE(HasKey("\\txtfile\\Shell\\open\\ddeexec"));

  // No selected row: the list index error, after the backup.
  f.ListBox1->clearSelection();
  EXPECT_THROW(dde->FormActivate(), EListError);
  EXPECT_THROW(dde->OKBtnClick(), EListError);
}

TEST_F(EditingTest, DdeCancelWritesNothingButNotifies) {
  WriteTextFile();
  TForm1& f = Loaded();
  Select("print");
  TFrmDDE* dde = f.AttachedDialogs().ddeDialog;
  QTimer::singleShot(0, dde, [dde] {
    EXPECT_TRUE(dde->isVisible());
    EXPECT_EQ(dde->Edit5->text(), "[print]");  // loaded at the showing
    dde->Edit5->setText("changed");
    dde->CancelBtn->click();
  });
  f.DDEBtn->click();
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\print\\ddeexec", ""), "[print]");
  EXPECT_EQ(m_notifier->count, 1);
  EXPECT_TRUE(Backups().isEmpty());
  EXPECT_EQ(dde->Edit5->text(), "changed");  // kept until the next showing

  // Before any load the dialog keeps what it held.
  auto fresh = CreateWindows();
  TFrmDDE* other = fresh->AttachedDialogs().ddeDialog;
  other->Edit5->setText("kept");
  other->FormActivate();
  EXPECT_EQ(other->Edit5->text(), "kept");
}

// The backup is a real export by kestrova-regedit that restores the deleted key exactly.
TEST_F(EditingTest, ABackupRestoresTheDeletedKey) {
  WriteTextFile();
  Raw("\\txtfile", "Odd", 0x0b, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  setenv("KESTROVA_STORE", m_store.Path().c_str(), 1);
  DesktopOpener::Options options;
  options.programDir = QString(std::getenv("KESTROVA_BINARY_DIR")) + "/bin";
  SetOpener(std::make_shared<DesktopOpener>(options));

  auto dump = [&] {
    std::ostringstream out, err;
    EXPECT_EQ(
        RunRegedit({"/e", m_store.Dir() + "/dump.reg", "HKEY_CLASSES_ROOT\\txtfile"}, out, err), 0);
    return ReadFile(m_store.Dir() + "/dump.reg");
  };
  const std::string before = dump();
  TForm1& f = Loaded();
  m_boxes->confirmAnswers = {true};
  f.Delete2->trigger();
  EXPECT_TRUE(m_boxes->Messages().empty());
  ASSERT_FALSE(HasKey("\\txtfile"));
  const std::string backup = std::string(m_backups) + "/txtfile-20261207-113905.reg";
  ASSERT_TRUE(std::filesystem::exists(backup));
  std::ostringstream out, err;
  EXPECT_EQ(RunRegedit({"/s", backup}, out, err), 0) << err.str();
  EXPECT_EQ(dump(), before);
}

// Every command that changes association data, from a window showing .txt.
struct ChangeCommand {
  const char* name;
  const char* backup;  // the name part of its backup file
  std::function<void(TForm1&, TestStore&)> run;
};

std::vector<ChangeCommand> ChangeCommands(RecordingBoxes& boxes) {
  const auto select = [](TForm1& f, const char* verb) {
    f.ListBox1->setCurrentItem(f.ListBox1->findItems(verb, Qt::MatchExactly).front());
  };
  return {
      {"save extension", "txt",
       [](TForm1& f, TestStore&) {
         f.ContentType->setEditText("text/x-changed");
         f.SaveExtBtn->click();
       }},
      {"save file type", "txtfile",
       [](TForm1& f, TestStore&) {
         f.ExtType->setText("Changed");
         f.AlwaysShowCB->setChecked(true);
         f.SaveTypeBtn->click();
       }},
      {"save action", "txtfile",
       [select](TForm1& f, TestStore&) {
         select(f, "open");
         f.ActionE->setText("Changed");
         f.Command->setText("changed %1");
         f.SaveActionBtn->click();
       }},
      {"delete action", "txtfile",
       [select](TForm1& f, TestStore&) {
         select(f, "print");
         f.DeleteShell1->trigger();
       }},
      {"delete extension", "txt",
       [&boxes](TForm1& f, TestStore&) {
         boxes.confirmAnswers = {true};
         f.Delete1->trigger();
       }},
      {"delete file type", "txtfile",
       [&boxes](TForm1& f, TestStore&) {
         boxes.confirmAnswers = {true};
         f.Delete2->trigger();
       }},
      {"DDE settings", "txtfile",
       [select](TForm1& f, TestStore&) {
         select(f, "open");
         TFrmDDE* dde = f.AttachedDialogs().ddeDialog;
         dde->FormActivate();
         dde->CheckBox1->setChecked(true);
         dde->Edit5->setText("[changed]");
         dde->OKBtnClick();
       }},
  };
}

// The whole store as an export, to compare before and after.
std::string Dump(TestStore& store) {
  const std::string file = store.Dir() + "/compare.reg";
  std::ostringstream err;
  EXPECT_EQ(ExportRegFile(*store.Engine(), file, std::nullopt, err), kExitOk) << err.str();
  return ReadFile(file);
}

class BackupFailureTest : public EditingTest {
 protected:
  void TearDown() override {
    if (m_backups) setenv("KESTROVA_BACKUP_DIR", m_backups, 1);
    EditingTest::TearDown();
  }
  // Runs every change command with the backup failing as set up, and checks that each
  // one changed nothing and showed one box naming the backup file and `reason`.
  void ExpectEveryChangeRefused(const QString& dir, const QString& reason) {
    WriteTextFile();
    for (const ChangeCommand& command : ChangeCommands(*m_boxes)) {
      SCOPED_TRACE(command.name);
      Form().Ext->clear();
      TForm1& f = Loaded();
      const std::string before = Dump(m_store);
      m_boxes->shown.clear();
      f.SetStatus("");
      command.run(f, m_store);
      EXPECT_EQ(Dump(m_store), before);
      EXPECT_EQ(f.StatusText(), "");
      EXPECT_EQ(m_notifier->count, 0);
      ASSERT_EQ(m_boxes->Messages().size(), 1u);
      const QString file = dir + "/" + command.backup + "-20261207-113905.reg";
      const QString text = m_boxes->Messages().front();
      EXPECT_TRUE(text.startsWith("The backup \"" + file + "\" could not be written: "))
          << text.toStdString();
      EXPECT_TRUE(text.contains(reason)) << text.toStdString();
      EXPECT_TRUE(text.endsWith("Nothing was changed.")) << text.toStdString();
    }
  }
  // The desktop's opener, finding "Regedit.exe" in `dir`.
  static void UseDesktopOpener(const std::string& dir) {
    DesktopOpener::Options options;
    options.programDir = QString::fromStdString(dir);
    SetOpener(std::make_shared<DesktopOpener>(options));
  }
};

TEST_F(BackupFailureTest, AFolderThatCannotBeWritten) {
  // Not writable even for root, unlike a folder whose mode says so.
  setenv("KESTROVA_BACKUP_DIR", "/proc/self", 1);
  ExpectEveryChangeRefused("/proc/self", "the folder \"/proc/self\" cannot be written");
  EXPECT_TRUE(m_opener->requests.empty());
}

TEST_F(BackupFailureTest, AFolderWhereTheFileShouldBe) {
  TempDir dir;
  setenv("KESTROVA_BACKUP_DIR", dir.Path().c_str(), 1);
  for (const char* name : {"txt", "txtfile"}) {
    std::filesystem::create_directories(dir.File(name) + "-20261207-113905.reg");
  }
  ExpectEveryChangeRefused(QString::fromStdString(dir.Path()), "(Is a directory)");
  EXPECT_TRUE(m_opener->requests.empty());
}

TEST_F(BackupFailureTest, ANameTooLong) {
  const std::string deep = std::string(m_backups) + "/" + std::string(4100, 'd');
  setenv("KESTROVA_BACKUP_DIR", deep.c_str(), 1);
  ExpectEveryChangeRefused(QString::fromStdString(deep), "File name too long");
}

TEST_F(BackupFailureTest, TheRegistryEditorMissing) {
  TempDir empty;
  UseDesktopOpener(empty.Path());
  // The opener's own complaint is the reason, inside the one box.
  ExpectEveryChangeRefused(m_backups, "is missing");
}

TEST_F(BackupFailureTest, TheRegistryEditorEndingWithAnError) {
  TempDir bin;
  const std::string editor = bin.File("kestrova-regedit");
  WriteFile(editor, "#!/bin/sh\necho 'kestrova-regedit: refused' >&2\nexit 3\n");
  std::filesystem::permissions(editor, std::filesystem::perms::owner_all);
  UseDesktopOpener(bin.Path());
  ExpectEveryChangeRefused(m_backups, "the registry editor ended with status 3");
}

TEST_F(BackupFailureTest, TheRegistryEditorWritingNothing) {
  m_opener->writeExports = false;
  ExpectEveryChangeRefused(m_backups, "the registry editor did not write it");
  // A file left by an earlier backup in the same second is not taken for this one.
  m_opener->writeExports = true;
  Form().BUExt();
  m_opener->writeExports = false;
  m_boxes->shown.clear();
  EXPECT_FALSE(Form().BUExt());
  EXPECT_EQ(m_boxes->Messages().size(), 1u);
}

TEST_F(EditingTest, ABackupNameIsCutToFitAFileName) {
  const QString name = QString(300, QChar(0x00E9));  // two bytes each
  const QString file = BackupFileName("/b/", name, m_clock->now);
  const QString base = file.mid(3);
  EXPECT_EQ(QFile::encodeName(base).size(), 254);  // whole characters only
  EXPECT_TRUE(base.endsWith("-20261207-113905.reg"));
  EXPECT_TRUE(name.startsWith(base.left(base.size() - 20)));
  const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80").repeated(100);  // surrogate pairs
  const QString cut = BackupFileName("/b/", emoji, m_clock->now).mid(3).chopped(20);
  EXPECT_FALSE(cut.back().isHighSurrogate());
  EXPECT_TRUE(emoji.startsWith(cut));
}

// With no file type on screen (the Extension box emptied after a load), no command writes
// into the file type loaded before; each says why instead.
TEST_F(EditingTest, WritesAreRefusedWhenNoFileTypeIsShown) {
  WriteTextFile();
  TForm1& f = Loaded();
  Select("print");
  f.Ext->clear();
  ASSERT_TRUE(f.ExtDesc->text().isEmpty());
  const std::string before = Dump(m_store);
  m_boxes->promptAnswers = {"edit"};
  m_boxes->confirmAnswers = {true, true};
  const std::vector<std::pair<QString, std::function<void()>>> commands = {
      {"adding an action", [&] { f.AddShell1->trigger(); }},
      {"saving an action", [&] { f.SaveActionBtn->click(); }},
      {"deleting an action", [&] { f.DeleteShell1->trigger(); }},
      {"changing the default action", [&] { f.ChangetoDefaultAction1->trigger(); }},
      {"changing DDE settings", [&] { f.DDEBtn->click(); }},
      {"saving the file type", [&] { f.SaveTypeBtn->click(); }},
      {"deleting the file type", [&] { f.Delete2->trigger(); }},
      {"editing its flags", [&] { f.EditFlagsBtnClick(); }},
      {"changing the icon", [&] { f.Image1Click(); }},
  };
  for (const auto& [doing, run] : commands) {
    m_boxes->shown.clear();
    run();
    EXPECT_EQ(m_boxes->Messages(),
              std::vector<QString>{"No file type is loaded. Load an extension that has a file "
                                   "type before " +
                                   doing + "."});
    EXPECT_EQ(m_boxes->shown.size(), 1u) << doing.toStdString();  // nothing asked first
  }
  EXPECT_EQ(Dump(m_store), before);
  EXPECT_TRUE(Backups().isEmpty());
  EXPECT_EQ(m_notifier->count, 0);
}

// A field holding bytes that are not text shows them replaced, and a save that does not
// change that field leaves the bytes as they were.
TEST_F(EditingTest, SavingLeavesFieldsTheUserDidNotChangeAsStored) {
  WriteTextFile();
  WriteText("\\.txt", "Content Type", "text/plain; charset=@");
  WriteText("\\txtfile", "", "Caf@ document");
  WriteText("\\txtfile\\Shell\\open", "", "&Open in caf@");
  WriteText("\\txtfile\\Shell\\open\\command", "", "viewer --title=caf@ %1");
  WriteText("\\txtfile\\Shell\\print\\ddeexec", "", "[print caf@]");
  // The store's own writes refuse such bytes; a file written elsewhere may hold them. Each
  // "@" becomes the byte E9, "é" in an 8-bit code page.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(m_store.Path().c_str(), &db), SQLITE_OK);
  const auto raw = [db](bool patch) {
    std::string all;
    std::vector<std::pair<sqlite3_int64, std::string>> rows;
    sqlite3_stmt* read = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, data FROM vals ORDER BY id", -1, &read, nullptr);
    while (sqlite3_step(read) == SQLITE_ROW) {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(read, 1));
      rows.emplace_back(
          sqlite3_column_int64(read, 0),
          std::string(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(read, 1))));
    }
    sqlite3_finalize(read);
    for (auto& [id, data] : rows) {
      if (patch && data.find('@') != std::string::npos) {
        std::replace(data.begin(), data.end(), '@', '\xE9');
        sqlite3_stmt* write = nullptr;
        sqlite3_prepare_v2(db, "UPDATE vals SET data = ? WHERE id = ?", -1, &write, nullptr);
        sqlite3_bind_blob(write, 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(write, 2, id);
        EXPECT_EQ(sqlite3_step(write), SQLITE_DONE);
        sqlite3_finalize(write);
      }
      all += data + '|';
    }
    return all;
  };
  raw(true);
  const std::string stored = raw(false);
  ASSERT_EQ(stored.find('@'), std::string::npos);
  ASSERT_NE(stored.find("Caf\xE9 document"), std::string::npos);

  TForm1& f = Loaded();
  Select("open");
  f.ListBox1Click();
  f.SaveExtBtn->click();
  f.SaveTypeBtn->click();
  f.SaveActionBtn->click();
  EXPECT_EQ(f.StatusText(), "Action Properties Saved.");
  EXPECT_EQ(f.ExtType->text(), QString::fromUtf8("Caf\uFFFD document"));
  // The flags were saved, nothing else.
  EXPECT_EQ(ReadValue("\\txtfile", "EditFlags"), "dword:65536");
  std::string expected = stored;
  expected.replace(expected.find(std::string("\x38\x07\x01\x00", 4)), 4,
                   std::string("\0\0\x01\0", 4));
  EXPECT_EQ(raw(false), expected);

  // The DDE dialog's OK writes back only what the user changed.
  Select("print");
  TFrmDDE* dde = f.AttachedDialogs().ddeDialog;
  dde->FormActivate();
  EXPECT_EQ(dde->Edit5->text(), QString::fromUtf8("[print caf\uFFFD]"));
  dde->OKBtnClick();
  EXPECT_NE(raw(false).find("[print caf\xE9]"), std::string::npos);

  // A field the user changed is written.
  f.ExtType->setText("Changed");
  f.SaveTypeBtn->click();
  EXPECT_EQ(ReadValue("\\txtfile", ""), "Changed");
  sqlite3_close(db);
}

}  // namespace
}  // namespace kestrova::test
