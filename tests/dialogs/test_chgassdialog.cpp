// The Change Association dialog, opened from the main window's menu as the user opens it.

#include <QApplication>
#include <QTest>

#include "app/Main.h"
#include "dialogs/chgass.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/dialogs/DialogDriver.h"

namespace kestrova::test {
namespace {

class ChgAssDialogTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Text("\\.täx", "", "txtfile");
    Text("\\.täx", "Content Type", "text/plain");
    Text("\\txtfile", "", "Text Document");
    Text("\\docfile", "", "Document");
    Text("\\Zeta.Type", "", "Zeta");
    Text("\\*\\shell", "", "");
  }
  TFrmChgAss* Dialog() { return Form().AttachedDialogs().FrmChgAss; }
  void WhileOpen(const std::function<void()>& inside) {
    test::WhileOpen(Dialog(), inside, [&] { Form().ChangeAssociation1->trigger(); });
  }
  void ChangeTo(const QString& text) {
    WhileOpen([&] {
      Dialog()->NewExtDesc->setEditText(text);
      Dialog()->OKBtn->click();
    });
  }
  static std::string Get(const std::string& name) {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    return s.OpenPath("\\.täx", false) ? s.GetText(name) : "(no key)";
  }
};

TEST_F(ChgAssDialogTest, ShowsTheExtensionTheCurrentTypeAndEachFileTypeOnce) {
  Form().Ext->setText("täx");
  for (int opening = 0; opening < 2; ++opening) {
    WhileOpen([&] {
      TFrmChgAss* d = Dialog();
      EXPECT_EQ(d->ExtLB->text(), "TäX");  // only a to z are upper-cased
      EXPECT_EQ(d->CurProgID->text(), "txtfile");
      QStringList choices;
      for (int i = 0; i < d->NewExtDesc->count(); ++i) choices << d->NewExtDesc->itemText(i);
      EXPECT_EQ(choices, (QStringList{"docfile", "txtfile", "Zeta.Type"}));  // store order
      EXPECT_EQ(d->NewExtDesc->currentText(), "");
      EXPECT_TRUE(QTest::qWaitForWindowActive(d));
      EXPECT_EQ(QApplication::focusWidget(), d->NewExtDesc);
      d->NewExtDesc->setCurrentIndex(0);
      d->CancelBtn->click();
    });
  }
  EXPECT_EQ(Get(""), "txtfile");
  EXPECT_EQ(Form().StatusText(), "");
}

TEST_F(ChgAssDialogTest, OkWritesTheTextAsTypedAndSaysSo) {
  Form().Ext->setText("täx");
  WhileOpen([&] {
    TFrmChgAss* d = Dialog();
    d->NewExtDesc->setCurrentIndex(d->NewExtDesc->findText("docfile"));
    QTest::keyClick(d->NewExtDesc, Qt::Key_Return);  // not the default button: nothing yet
    EXPECT_EQ(Get(""), "txtfile");
    d->OKBtn->click();
  });
  EXPECT_EQ(Get(""), "docfile");
  EXPECT_EQ(Get("Content Type"), "text/plain");
  EXPECT_EQ(Form().StatusText(), "File Association Changed.");
  EXPECT_EQ(Form().ExtDesc->text(), "txtfile");  // the main window does not reload

  ChangeTo("No.Such Type");
  EXPECT_EQ(Get(""), "No.Such Type");
  ChangeTo("");
  EXPECT_EQ(Get(""), "");
  EXPECT_EQ(Dialog()->NewExtDesc->count(), 3);  // typed texts are not added to the list
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(ChgAssDialogTest, AnExtensionWithoutAKeyIsReportedAndNeverCreated) {
  Form().Ext->setText("nokey");
  WhileOpen([&] {
    Dialog()->NewExtDesc->setEditText("txtfile");
    QTest::mouseClick(Dialog()->OKBtn, Qt::LeftButton);  // the application shows the error
    EXPECT_TRUE(Dialog()->isVisible());
    Dialog()->CancelBtn->click();
  });
  ASSERT_EQ(m_boxes->shown.size(), 1u);
  EXPECT_EQ(m_boxes->shown[0].text, "Failed to set data for ''");
  EXPECT_EQ(m_boxes->shown[0].icon, Boxes::Icon::Error);
  AssocStore s;
  s.SetRoot(RootKey::ClassesRoot);
  EXPECT_FALSE(s.HasPath("\\.nokey"));
  EXPECT_EQ(Form().StatusText(), "");
}

}  // namespace
}  // namespace kestrova::test
