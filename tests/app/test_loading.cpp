// Loading an extension into the main window, through the real window and a real store.

#include <QTest>
#include <cstdlib>

#include "app/Errors.h"
#include "app/Main.h"
#include "dialogs/Settings.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "tests/app/MainWindowFixture.h"

namespace kestrova::test {
namespace {

class LoadingTest : public MainWindowTest {
 protected:
  // A complete file type: description, flags, icon-less, three actions with DDE.
  void WriteTextFile() {
    WriteText("\\.txt", "", "txtfile");
    WriteText("\\.txt", "Content Type", "text/plain");
    WriteText("\\txtfile", "", "Text Document");
    WriteDword("\\txtfile", "EditFlags", 0x10000);
    WriteText("\\txtfile", "AlwaysShowExt", "");
    WriteDword("\\txtfile", "BrowserFlags", 8);
    WriteText("\\txtfile\\Shell", "", "Edit");  // other letter case than the key
    WriteText("\\txtfile\\Shell\\open", "", "&Open");
    WriteText("\\txtfile\\Shell\\open\\command", "", "viewer \"%1\"");
    WriteText("\\txtfile\\Shell\\edit", "", "&Edit");
    WriteText("\\txtfile\\Shell\\edit\\command", "", "editor \"%1\"");
    WriteText("\\txtfile\\Shell\\print", "", "&Print");
  }

  QStringList Actions() {
    QStringList names;
    for (int i = 0; i < Form().ListBox1->topLevelItemCount(); ++i) {
      names << Form().ListBox1->topLevelItem(i)->text(0);
    }
    return names;
  }
};

TEST_F(LoadingTest, LoadsEverythingTheStoreHolds) {
  WriteTextFile();
  TForm1& f = Form();
  f.Ext->setText("txt");
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");
  EXPECT_EQ(f.ExtType->text(), "Text Document");
  EXPECT_EQ(f.ContentType->currentText(), "text/plain");
  EXPECT_TRUE(f.AlwaysShowCB->isChecked());
  EXPECT_FALSE(f.BrowseCB->isChecked());   // BrowserFlags present
  EXPECT_FALSE(f.ConfirmCB->isChecked());  // 0x10000
  EXPECT_TRUE(f.EditFlagsBtn->isEnabled());
  EXPECT_TRUE(f.EditFlags1->isEnabled());
  EXPECT_EQ(f.State.CurrentFlagsText, "00010000");
  EXPECT_EQ(f.State.CurrentFlagsValue.bits, 0x10000u);
  EXPECT_EQ(Actions(), (QStringList{"edit", "open", "print"}));
  // The default action "Edit" matches "edit" without regard to case.
  EXPECT_EQ(f.ListIndex(), 0);
  EXPECT_EQ(f.State.CurrentDefaultVerb, "Edit");
  EXPECT_EQ(f.ActionE->text(), "&Edit");
  EXPECT_EQ(f.Command->text(), "editor \"%1\"");
  EXPECT_EQ(f.Command->toolTip(), "editor \"%1\"");
  EXPECT_EQ(f.State.CurrentProgID, "txtfile");
  EXPECT_TRUE(f.State.CurrentIconFile.empty());
  EXPECT_TRUE(f.Image1->pixmap().isNull());
}

TEST_F(LoadingTest, AnUnknownExtensionLeavesTheWindowClearAndTheStateAsItWas) {
  WriteTextFile();
  TForm1& f = Form();
  f.Ext->setText("txt");
  f.Ext->setText("nope");
  EXPECT_EQ(f.ExtDesc->text(), "");
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 0);
  EXPECT_FALSE(f.EditFlagsBtn->isEnabled());
  EXPECT_FALSE(f.AlwaysShowCB->isChecked());
  EXPECT_EQ(f.ContentType->currentText(), "");
  EXPECT_EQ(f.State.CurrentProgID, "txtfile");
  EXPECT_EQ(f.State.CurrentFlagsText, "00010000");
  f.Ext->setText("");
  EXPECT_EQ(f.ExtDesc->text(), "");
}

TEST_F(LoadingTest, AnExtensionWithoutFileTypeShowsTheActionsOfTheKeyNamedQuestionMark) {
  WriteText("\\.nofile", "Content Type", "application/x-none");
  WriteText("\\?\\Shell\\open\\command", "", "what %1");
  TForm1& f = Form();
  f.Ext->setText("nofile");
  EXPECT_EQ(f.ExtDesc->text(), "");
  EXPECT_EQ(f.State.CurrentProgID, "?");
  EXPECT_EQ(f.ContentType->currentText(), "application/x-none");
  EXPECT_FALSE(f.BrowseCB->isChecked());  // no flags are read without a file type
  EXPECT_EQ(Actions(), QStringList{"open"});
  EXPECT_EQ(f.Command->text(), "what %1");
}

TEST_F(LoadingTest, AMissingFileTypeKeyLetsTheFlagTestsReadTheExtensionKey) {
  WriteText("\\.orphan", "", "gone.type");
  WriteText("\\.orphan", "AlwaysShowExt", "");
  Raw("\\.orphan", "EditFlags", RegType::Binary, std::string("\x02\x00\x00\x00", 4));
  TForm1& f = Form();
  f.Ext->setText("orphan");
  EXPECT_EQ(f.ExtDesc->text(), "gone.type");
  EXPECT_EQ(f.ExtType->text(), "");
  EXPECT_TRUE(f.AlwaysShowCB->isChecked());
  EXPECT_TRUE(f.BrowseCB->isChecked());
  EXPECT_TRUE(f.ConfirmCB->isChecked());
  EXPECT_EQ(f.State.CurrentFlagsText, "02000000");
  WriteDword("\\.orphan", "BrowserFlags", 8);
  f.Ext->setText("");
  f.Ext->setText("orphan");
  EXPECT_FALSE(f.BrowseCB->isChecked());
}

TEST_F(LoadingTest, EditFlagsInEveryForm) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
    bool confirm;
    bool enabled;
    const char* text;
  };
  const Case cases[] = {
      {"dword10000", RegType::Dword, std::string("\x00\x00\x01\x00", 4), false, true, "00010000"},
      {"dword0", RegType::Dword, std::string("\x00\x00\x00\x00", 4), true, true, "00000000"},
      {"dword2", RegType::Dword, std::string("\x02\x00\x00\x00", 4), true, true, "00000002"},
      {"bin10000", RegType::Binary, std::string("\x00\x00\x01\x00", 4), false, true, "00000100"},
      {"bin2", RegType::Binary, std::string("\x02\x00\x00\x00", 4), true, true, "02000000"},
      {"binshort", RegType::Binary, std::string("\x01\x02", 2), true, true, "0102"},
      {"text", RegType::Sz, std::string("65536\0", 6), false, false, ""},
  };
  for (const Case& c : cases) {
    WriteText("\\." + std::string(c.name), "", std::string("t.") + c.name);
    Raw("\\t." + std::string(c.name), "EditFlags", c.type, c.data);
  }
  TForm1& f = Form();
  for (const Case& c : cases) {
    f.State.CurrentFlagsText.clear();
    f.Ext->setText(c.name);
    EXPECT_EQ(f.ConfirmCB->isChecked(), c.confirm) << c.name;
    EXPECT_EQ(f.EditFlagsBtn->isEnabled(), c.enabled) << c.name;
    EXPECT_EQ(f.EditFlags1->isEnabled(), c.enabled) << c.name;
    EXPECT_EQ(f.State.CurrentFlagsText, c.text) << c.name;
  }
}

TEST_F(LoadingTest, ActionsWithAndWithoutADefault) {
  WriteText("\\.a", "", "A.Type");
  WriteText("\\A.Type\\Shell\\zeta\\command", "", "z");
  WriteText("\\A.Type\\Shell\\alpha", "", "Alpha caption");
  WriteText("\\A.Type\\Shell\\alpha\\command", "", "a %1");
  WriteText("\\.b", "", "B.Type");
  WriteText("\\B.Type\\Shell", "", "");  // a Shell key with no actions
  WriteText("\\.c", "", "C.Type");
  WriteText("\\C.Type\\Shell", "", "missing");  // names no action
  WriteText("\\C.Type\\Shell\\open", "", "Open caption");
  TForm1& f = Form();

  f.Ext->setText("a");  // no default: the first in store order
  EXPECT_EQ(Actions(), (QStringList{"alpha", "zeta"}));
  EXPECT_EQ(f.ListIndex(), 0);
  EXPECT_EQ(f.ActionE->text(), "Alpha caption");
  EXPECT_EQ(f.Command->text(), "a %1");

  f.Ext->setText("b");
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 0);
  EXPECT_EQ(f.ListIndex(), -1);
  EXPECT_EQ(f.ActionE->text(), "");
  EXPECT_EQ(f.Command->text(), "");

  // A default naming no action selects nothing and shows empty boxes, not the Shell key's
  // own default value; so does an action without a command key.
  f.Ext->setText("c");
  EXPECT_EQ(f.ListIndex(), -1);
  EXPECT_EQ(f.ActionE->text(), "");
  EXPECT_EQ(f.Command->text(), "");
  WriteText("\\C.Type\\Shell", "", "open");
  f.Ext->setText("");
  f.Ext->setText("c");
  EXPECT_EQ(f.ListIndex(), 0);
  EXPECT_EQ(f.ActionE->text(), "Open caption");
  EXPECT_EQ(f.Command->text(), "");
}

TEST_F(LoadingTest, TypingLetterByLetterLoadsTheWholeExtension) {
  WriteTextFile();
  WriteText("\\.t", "", "tfile");
  TForm1& f = Form();
  f.show();
  QTest::keyClicks(f.Ext, "t");
  EXPECT_EQ(f.ExtDesc->text(), "tfile");
  QTest::keyClicks(f.Ext, "xt");
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");
  EXPECT_EQ(f.ExtType->text(), "Text Document");
  QTest::keyClick(f.Ext, Qt::Key_Backspace);
  EXPECT_EQ(f.ExtDesc->text(), "");  // "tx" has no key: cleared
}

TEST_F(LoadingTest, CommandKeyMadeAsLowerCaseIsReadAsCommand) {
  WriteText("\\.x", "", "X.Type");
  WriteText(layout::NewVerbCommandKey("X.Type", "go"), "", "go %1");
  Form().Ext->setText("x");
  EXPECT_EQ(Form().Command->text(), "go %1");
}

// A value of the wrong kind ends the load; the application shows the error and goes on.
TEST_F(LoadingTest, AValueOfTheWrongKindIsShownAndTheProgramGoesOn) {
  WriteText("\\.bad", "", "Bad.Type");
  WriteText("\\Bad.Type", "", "Bad description");
  WriteDword("\\.bad", "Content Type", 7);
  TForm1& f = Form();
  f.show();
  QTest::keyClicks(f.Ext, "bad");
  ASSERT_EQ(m_boxes->Messages().size(), 1u);
  EXPECT_EQ(m_boxes->shown.back().text, "Invalid data type for 'Content Type'");
  EXPECT_EQ(m_boxes->shown.back().caption, "Kestrova");
  EXPECT_EQ(m_boxes->shown.back().icon, Boxes::Icon::Error);
  EXPECT_EQ(f.ExtType->text(), "Bad description");  // what was filled stays
  EXPECT_EQ(f.ListBox1->topLevelItemCount(), 0);
  // A binary EditFlags over 4096 bytes is refused the same way.
  Raw("\\Bad.Type", "EditFlags", RegType::Binary, std::string(5000, '\0'));
  f.Ext->clear();
  QTest::keyClicks(f.Ext, "bad");
  EXPECT_EQ(m_boxes->shown.back().text, "Invalid data type for 'EditFlags'");
}

// A store that cannot be written shows everything it holds, says once that it is
// read-only, and refuses each write with the store's own error.
TEST_F(LoadingTest, AReadOnlyStoreShowsEverythingAndRefusesWrites) {
  WriteTextFile();
  WriteText(layout::SettingsKey, layout::HelpUrlName,
            "https://lookup.test/?ext=", RootKey::CurrentUser);
  auto opener = std::make_shared<ExportingOpener>();
  SetOpener(opener);
  ReleaseSqliteStoreForThread(m_store.Path());
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  struct Restore {
    std::string path;
    ~Restore() {
      unsetenv("KESTROVA_STORE_READONLY");
      ReleaseSqliteStoreForThread(path);
      SetOpener(nullptr);
    }
  } restore{m_store.Path()};

  TForm1& f = Form();
  EXPECT_EQ(f.StatusText(),
            "The store is read-only: everything can be looked at, nothing can be changed.");
  f.Ext->setText("txt");
  EXPECT_EQ(f.ExtDesc->text(), "txtfile");
  EXPECT_EQ(f.ExtType->text(), "Text Document");
  EXPECT_EQ(f.ContentType->currentText(), "text/plain");
  EXPECT_TRUE(f.AlwaysShowCB->isChecked());
  EXPECT_TRUE(f.EditFlagsBtn->isEnabled());
  EXPECT_EQ(Actions(), (QStringList{"edit", "open", "print"}));
  EXPECT_EQ(f.Command->text(), "editor \"%1\"");
  f.ListBox1->setCurrentItem(f.ListBox1->topLevelItem(1));
  f.ListBox1Click();
  EXPECT_EQ(f.ActionE->text(), "&Open");
  EXPECT_EQ(f.ContentType->currentText(), "text/plain");

  // The settings dialog reads the stored address.
  TForm2* settings = f.AttachedDialogs().settingsDialog;
  settings->FormActivate();
  EXPECT_EQ(settings->URL->text(), "https://lookup.test/?ext=");

  const auto refused = [](const std::function<void()>& write, const char* message) {
    try {
      write();
      ADD_FAILURE() << "no error for " << message;
    } catch (const ERegistryException& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  f.ExtType->setText("Changed");
  refused([&] { f.SaveTypeBtnClick(); }, "Failed to set data for ''");
  f.ContentType->setEditText("text/x-changed");
  refused([&] { f.SaveExt(); }, "Failed to set data for 'Content Type'");
  f.ActionE->setText("Changed");
  refused([&] { f.SaveActionBtnClick(); }, "Failed to set data for ''");
  refused([&] { f.ChangetoDefaultAction1Click(); }, "Failed to set data for ''");
  settings->URL->setText("https://other.test/");
  refused([&] { settings->Button1Click(); }, "Failed to set data for 'HelpURL'");
  EXPECT_EQ(f.ExtType->text(), "Changed");  // the window keeps what was typed
  unsetenv("KESTROVA_STORE_READONLY");
  ReleaseSqliteStoreForThread(m_store.Path());
  EXPECT_EQ(ReadValue("\\txtfile", ""), "Text Document");
}

}  // namespace
}  // namespace kestrova::test
