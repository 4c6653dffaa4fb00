// The New File Type dialog, opened from the main window's menu as the user opens it.

#include <QApplication>
#include <QTest>

#include "app/Main.h"
#include "dialogs/NewType.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/dialogs/DialogDriver.h"

namespace kestrova::test {
namespace {

class NewTypeDialogTest : public MainWindowTest {
 protected:
  TFrmNewFileType* Dialog() { return Form().AttachedDialogs().newFileTypeDialog; }
  void WhileOpen(const std::function<void()>& inside) {
    test::WhileOpen(Dialog(), inside, [&] { Form().New2->trigger(); });
  }
  void Create(const QString& progId, const QString& name) {
    WhileOpen([&] {
      Dialog()->NewType->setText(progId);
      Dialog()->FName->setText(name);
      Dialog()->OKBtn->click();
    });
  }
  static bool RootIsEmpty() {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    s.OpenPath("\\", false);
    std::vector<std::string> names;
    s.ListSubkeys(names);
    return names.empty();
  }
};

TEST_F(NewTypeDialogTest, RefusalsAndFailuresLeaveTheDialogOpenAndWriteNothing) {
  WhileOpen([&] {
    Dialog()->NewType->clear();
    Dialog()->OKBtn->click();
    Dialog()->NewType->setText("Bad\\\\Name");  // an empty key name between the backslashes
    QTest::mouseClick(Dialog()->OKBtn, Qt::LeftButton);  // the application shows the error
    EXPECT_TRUE(Dialog()->isVisible());
    Dialog()->CancelBtn->click();
  });
  ASSERT_EQ(m_boxes->shown.size(), 2u);
  EXPECT_EQ(m_boxes->shown[0].caption, "Kestrova");
  EXPECT_EQ(m_boxes->shown[0].text, "You must first enter a ProgID for the new File Type.");
  EXPECT_EQ(m_boxes->shown[1].text, "Failed to set data for ''");
  EXPECT_EQ(m_boxes->shown[1].icon, Boxes::Icon::Error);
  EXPECT_TRUE(RootIsEmpty());
}

TEST_F(NewTypeDialogTest, OkCreatesTheKeyOrReplacesOnlyItsDescription) {
  WhileOpen([&] { Dialog()->OKBtn->click(); });  // the sample texts as they stand
  EXPECT_EQ(ReadValue("\\Application.Component.Version", ""), "Vendor Program Name");

  WriteText("\\txtfile", "", "Text Document");
  WriteDword("\\txtfile", "EditFlags", 0x10000);
  WriteText("\\txtfile\\Shell\\open\\command", "", "viewer %1");
  Create("TXTFILE", "Plain Text");
  EXPECT_EQ(ReadValue("\\txtfile", ""), "Plain Text");
  EXPECT_EQ(ReadValue("\\txtfile", "EditFlags"), "dword:65536");
  EXPECT_EQ(ReadValue("\\txtfile\\Shell\\open\\command", ""), "viewer %1");
  EXPECT_EQ(ReadValue("\\TXTFILE", ""), "Plain Text");
  Create("txtfile", "");  // an empty friendly name is written too
  EXPECT_EQ(ReadValue("\\txtfile", ""), "");
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(NewTypeDialogTest, EnteringABoxSelectsItsTextAndTheTextsAreKept) {
  TFrmNewFileType* d = Dialog();
  WhileOpen([&] {
    ASSERT_TRUE(QTest::qWaitForWindowActive(d));
    EXPECT_EQ(QApplication::focusWidget(), d->NewType);
    QTest::keyClicks(d->NewType, "Acme.Viewer.1");  // replaces the selected sample
    QTest::keyClick(d->NewType, Qt::Key_Tab);
    EXPECT_EQ(d->FName->selectedText(), "Vendor Program Name");
    QTest::keyClicks(d->FName, "Acme Viewer");
    QTest::keyClick(d->FName, Qt::Key_Return);  // OK is the default button
  });
  EXPECT_EQ(ReadValue("\\Acme.Viewer.1", ""), "Acme Viewer");

  WhileOpen([&] {
    ASSERT_TRUE(QTest::qWaitForWindowActive(d));
    EXPECT_EQ(QApplication::focusWidget(), d->NewType);  // each opening starts here
    EXPECT_EQ(d->NewType->selectedText(), "Acme.Viewer.1");
    QTest::mouseClick(d->FName, Qt::LeftButton, {}, QPoint(4, 10));
    QApplication::processEvents();  // the selection follows the click's own cursor placing
    EXPECT_EQ(d->FName->selectedText(), "Acme Viewer");
    d->CancelBtn->click();
  });
}

}  // namespace
}  // namespace kestrova::test
