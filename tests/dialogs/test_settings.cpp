// The settings dialog: reading both settings at each showing, OK writing the context-menu
// entry and then "HelpURL", the close box saving nothing.

#include <QCoreApplication>
#include <QTimer>
#include <functional>

#include "app/Main.h"
#include "dialogs/Settings.h"
#include "tests/app/MainWindowFixture.h"

namespace kestrova::test {
namespace {

const std::string kEntry = "\\*\\shell\\Velmora";
const std::string kCommand = "\\*\\shell\\Velmora\\command";
const std::string kSettings = "\\SOFTWARE\\Quorbel\\Kestrova";

class SettingsTest : public MainWindowTest {
 protected:
  TForm2* Dialog() { return Form().AttachedDialogs().settingsDialog; }

  // Shows the dialog as the Settings button does and runs `act` while it is up.
  void Show(const std::function<void(TForm2*)>& act) {
    TForm2* d = Dialog();
    bool ran = false;
    QTimer::singleShot(0, d, [&] {
      EXPECT_TRUE(d->isVisible());
      try {
        act(d);
        ran = true;
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
      if (d->isVisible()) d->close();  // the close box
    });
    Form().SettingsBtn->click();
    EXPECT_TRUE(ran);
  }

  static std::string HelpUrl() { return ReadValue(kSettings, "HelpURL", RootKey::CurrentUser); }
  static std::string Command() { return ReadValue(kCommand, ""); }
  static std::string ExpectedCommand() {
    return "\"" + QCoreApplication::applicationFilePath().toStdString() + "\" \"%1\"";
  }
};

TEST_F(SettingsTest, EachShowingReadsTheStoreAndTheCloseBoxSavesNothing) {
  Show([](TForm2* d) {
    EXPECT_EQ(d->windowTitle(), "Settings");
    EXPECT_FALSE(d->ContextMenuChkBox->isChecked());
    EXPECT_EQ(d->URL->text(), "");
    d->ContextMenuChkBox->setChecked(true);
    d->URL->setText("https://typed.test/?x=");
  });
  // The settings key is made by the showing; nothing else is written.
  EXPECT_TRUE(HasKey(kSettings, RootKey::CurrentUser));
  EXPECT_EQ(HelpUrl(), "(no value)");
  EXPECT_FALSE(HasKey(kEntry));

  // The next showing replaces what the controls held with what the store holds.
  WriteText(kSettings, "HelpURL", "https://stored.test/?ext=", RootKey::CurrentUser);
  WriteText(kSettings, "OnlineHelpURL", "https://help.test/", RootKey::CurrentUser);
  Show([](TForm2* d) {
    EXPECT_FALSE(d->ContextMenuChkBox->isChecked());
    EXPECT_EQ(d->URL->text(), "https://stored.test/?ext=");
    EXPECT_EQ(d->OnlineHelpURL->text(), "https://help.test/");
    d->OnlineHelpURL->setText("https://typed.test/");
  });
  EXPECT_EQ(ReadValue(kSettings, "OnlineHelpURL", RootKey::CurrentUser), "https://help.test/");
  WriteText(kCommand, "", "/elsewhere/kestrova %1");
  Show([](TForm2* d) { EXPECT_TRUE(d->ContextMenuChkBox->isChecked()); });
  EXPECT_EQ(Command(), "/elsewhere/kestrova %1");
}

TEST_F(SettingsTest, OkTickedWritesAQuotedCommandAndTheUrlAsTyped) {
  Show([](TForm2* d) {
    d->ContextMenuChkBox->setChecked(true);
    d->URL->setText("https://lookup.test/ext?name=  ");
    d->OnlineHelpURL->setText("https://help.test/kestrova/");
    d->Button1->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), QDialog::Accepted);
  });
  EXPECT_EQ(Command(), ExpectedCommand());
  EXPECT_EQ(HelpUrl(), "https://lookup.test/ext?name=  ");  // blanks kept
  EXPECT_EQ(ReadValue(kSettings, "OnlineHelpURL", RootKey::CurrentUser),
            "https://help.test/kestrova/");

  // An entry left by a program that moved is repaired by OK with the box still ticked.
  WriteText(kCommand, "", "/old/place/kestrova %1");
  Show([](TForm2* d) {
    EXPECT_TRUE(d->ContextMenuChkBox->isChecked());
    EXPECT_EQ(d->URL->text(), "https://lookup.test/ext?name=  ");
    d->Button1->click();
  });
  EXPECT_EQ(Command(), ExpectedCommand());
}

TEST_F(SettingsTest, OkUntickedRemovesTheEntryAndAnEmptyUrlIsStored) {
  WriteText(kCommand, "", ExpectedCommand());
  WriteText(kEntry + "\\extra", "", "below the entry");
  WriteText(kSettings, "HelpURL", "https://old.test/", RootKey::CurrentUser);
  Show([](TForm2* d) {
    d->ContextMenuChkBox->setChecked(false);
    d->URL->clear();
    d->Button1->click();
  });
  EXPECT_FALSE(HasKey(kEntry));  // with its whole subtree
  EXPECT_TRUE(HasKey("\\*\\shell"));
  EXPECT_EQ(HelpUrl(), "");

  // Unticked while no entry exists: none is left behind.
  Show([](TForm2* d) { d->Button1->click(); });
  EXPECT_FALSE(HasKey(kEntry));
}

}  // namespace
}  // namespace kestrova::test
