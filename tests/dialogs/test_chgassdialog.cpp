// The Change Association dialog, opened from the main window's menu as the user opens it.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

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
    WriteText("\\.täx", "", "txtfile");
    WriteText("\\.täx", "Content Type", "text/plain");
    WriteText("\\txtfile", "", "Text Document");
    WriteText("\\docfile", "", "Document");
    WriteText("\\Zeta.Type", "", "Zeta");
    WriteText("\\*\\shell", "", "");
  }
  TFrmChgAss* Dialog() { return Form().AttachedDialogs().changeAssociationDialog; }
  // Runs the event loop until the file-type list is complete.
  bool Loaded() { return RunUntilFinished(Dialog()->ProgIDLoader); }
  // `inside` runs once the list is complete.
  void WhileOpen(const std::function<void()>& inside) {
    test::WhileOpen(
        Dialog(),
        [&] {
          EXPECT_TRUE(Loaded());
          inside();
        },
        [&] { Form().ChangeAssociation1->trigger(); });
  }
  void ChangeTo(const QString& text) {
    WhileOpen([&] {
      Dialog()->NewExtDesc->setEditText(text);
      Dialog()->OKBtn->click();
    });
  }
};

TEST_F(ChgAssDialogTest, ShowsTheExtensionTheCurrentTypeAndEachFileTypeOnce) {
  Form().Ext->setText("täx");
  for (int opening = 0; opening < 2; ++opening) {
    WhileOpen([&] {
      TFrmChgAss* d = Dialog();
      EXPECT_EQ(d->ExtLB->text(), "TäX");  // only a to z are upper-cased
      EXPECT_EQ(d->CurProgID->text(), "txtfile");
      EXPECT_EQ(ComboItems(d->NewExtDesc),
                (QStringList{"docfile", "txtfile", "Zeta.Type"}));  // store order
      EXPECT_EQ(d->NewExtDesc->currentText(), "");
      EXPECT_TRUE(QTest::qWaitForWindowActive(d));
      EXPECT_EQ(QApplication::focusWidget(), d->NewExtDesc);
      d->NewExtDesc->setCurrentIndex(0);
      d->CancelBtn->click();
    });
  }
  EXPECT_EQ(ReadValue("\\.täx", ""), "txtfile");
  EXPECT_EQ(Form().StatusText(), "");
}

TEST_F(ChgAssDialogTest, OkWritesTheTextAsTypedAndSaysSo) {
  Form().Ext->setText("täx");
  WhileOpen([&] {
    TFrmChgAss* d = Dialog();
    d->NewExtDesc->setCurrentIndex(d->NewExtDesc->findText("docfile"));
    QTest::keyClick(d->NewExtDesc, Qt::Key_Return);  // not the default button: nothing yet
    EXPECT_EQ(ReadValue("\\.täx", ""), "txtfile");
    d->OKBtn->click();
  });
  EXPECT_EQ(ReadValue("\\.täx", ""), "docfile");
  EXPECT_EQ(ReadValue("\\.täx", "Content Type"), "text/plain");
  EXPECT_EQ(Form().StatusText(), "File Association Changed.");
  EXPECT_EQ(Form().ExtDesc->text(), "txtfile");  // the main window does not reload

  ChangeTo("No.Such Type");
  EXPECT_EQ(ReadValue("\\.täx", ""), "No.Such Type");
  ChangeTo("");
  EXPECT_EQ(ReadValue("\\.täx", ""), "");
  ASSERT_TRUE(Loaded());
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
  EXPECT_FALSE(HasKey("\\.nokey"));
  EXPECT_EQ(Form().StatusText(), "");
}

// Tens of thousands of file types arrive in store order, each once, while the dialog already
// takes input: what the user picks or types meanwhile stays, and OK writes it.
TEST_F(ChgAssDialogTest, ALongListFillsWhileTheDialogIsInUse) {
  constexpr int kTypes = 30000;
  QStringList expected{"docfile", "txtfile"};  // names sort without regard to case
  {
    auto engine = m_store.Engine();
    EngineTransaction tx(*engine, true);
    const KeyRef root = engine->Root(RootKey::ClassesRoot);
    for (int i = 0; i < kTypes; ++i) {
      const std::string name = "Type." + std::to_string(100000 + i);
      engine->CreateChild(root, name);
      expected << QString::fromStdString(name);
      if (i % 3 == 0) engine->CreateChild(root, ".e" + std::to_string(100000 + i));
    }
    tx.Commit();
  }
  expected << "Zeta.Type";
  Form().Ext->setText("täx");
  TFrmChgAss* d = Dialog();
  for (const bool type : {false, true}) {
    // Each batch is one insertion. The user's pick or typing comes once the first batch is in
    // (counted on the model, not on event-loop passes, which depend on the machine's load) and
    // must survive every later batch.
    int growths = 0;
    const QMetaObject::Connection grew =
        QObject::connect(d->NewExtDesc->model(), &QAbstractItemModel::rowsInserted, d, [&] {
          if (++growths != 2) return;
          if (type) {
            d->NewExtDesc->lineEdit()->setText("Zeta.Type");
          } else {
            d->NewExtDesc->setCurrentIndex(2);
          }
        });
    d->hide();
    d->show();  // the opening returns before the list is complete
    EXPECT_EQ(d->NewExtDesc->currentText(), "");
    EXPECT_EQ(d->ProgIDLoader->Running(), 1);
    d->hide();
    d->show();  // reopened meanwhile: the load in progress goes on, nothing twice
    ASSERT_TRUE(Loaded());
    QObject::disconnect(grew);
    EXPECT_GE(growths, 3);
    ASSERT_EQ(ComboItems(d->NewExtDesc), expected);
    EXPECT_EQ(d->NewExtDesc->currentText(), type ? "Zeta.Type" : "Type.100000");
    EXPECT_EQ(d->NewExtDesc->currentIndex(), type ? -1 : 2);
  }
  d->OKBtn->click();
  EXPECT_EQ(ReadValue("\\.täx", ""), "Zeta.Type");
}

// Closing the program during a load stops the worker with the dialog.
TEST_F(ChgAssDialogTest, TheWindowsCanGoDuringALoad) {
  Dialog()->show();
  EXPECT_EQ(Dialog()->ProgIDLoader->Running(), 1);
  m_form.reset();
  Form().Ext->setText("täx");
  WhileOpen([&] {
    EXPECT_EQ(ComboItems(Dialog()->NewExtDesc), (QStringList{"docfile", "txtfile", "Zeta.Type"}));
    Dialog()->CancelBtn->click();
  });
}

}  // namespace
}  // namespace kestrova::test
