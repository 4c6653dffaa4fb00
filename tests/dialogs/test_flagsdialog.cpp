// The Edit Flags dialog, opened from the main window as the user opens it.

#include <QApplication>
#include <QTest>
#include <cstdlib>

#include "app/Main.h"
#include "dialogs/EditFlag.h"
#include "platform/SqliteStore.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/dialogs/DialogDriver.h"

namespace kestrova::test {
namespace {

const QString kRefusal = "Could not translate Edit Flags.";
using Rows = std::vector<int>;

std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

class FlagsDialogTest : public MainWindowTest {
 protected:
  void FileType(const std::string& ext, uint32_t type, const std::string& data) {
    WriteText("\\." + ext, "", ext + ".file");
    Raw("\\" + ext + ".file", "EditFlags", type, data);
  }
  TForm4* Dialog() { return Form().AttachedDialogs().flagsDialog; }
  Rows Ticked() {
    Rows rows;
    for (int i = 0; i < Dialog()->CLB->count(); ++i) {
      if (Dialog()->CLB->item(i)->checkState() == Qt::Checked) rows.push_back(i);
    }
    return rows;
  }
  // Loads the extension unless it is on screen, opens the dialog with the Edit Flags
  // button, notes what it shows once it is up and closes it.
  std::pair<QString, Rows> Open(const std::string& ext) {
    if (Form().Ext->text() != QString::fromStdString(ext))
      Form().Ext->setText(QString::fromStdString(ext));
    std::pair<QString, Rows> seen;
    WhileOpen(
        Dialog(),
        [&] {
          seen = {Dialog()->EditFlagsE->text(), Ticked()};
          Dialog()->CancelBtn->click();
        },
        [&] { Form().EditFlagsBtn->click(); });
    return seen;
  }
};

TEST_F(FlagsDialogTest, EachStoredFormShowsItsOwnStringAndItsOwnRows) {
  FileType("c", RegType::Binary, std::string("\x38\x07\x00\x00", 4));
  FileType("n", RegType::Dword, Le32(0x10000));
  FileType("b", RegType::Binary, std::string("\x00\x00\x01\x00", 4));
  FileType("z", RegType::Binary, "");
  EXPECT_EQ(Open("c"), std::make_pair(QString("38070000"), Rows{3, 4, 5, 8, 9, 10}));
  // Each opening unticks the rows of the one before; the two forms spell one flag apart.
  EXPECT_EQ(Open("n"), std::make_pair(QString("00010000"), Rows{15}));
  EXPECT_EQ(Open("b"), std::make_pair(QString("00000100"), Rows{15}));
  EXPECT_EQ(Open("z"), std::make_pair(QString(""), Rows{}));
  EXPECT_TRUE(m_boxes->shown.empty());
}

// With no key of its own for the file type, the load reads the flags from the extension key;
// the string shown is then that of the flags the rows decode, not the last opening's.
TEST_F(FlagsDialogTest, FlagsOfTheExtensionKeyShowTheirOwnString) {
  FileType("c", RegType::Binary, std::string("\x38\x07\x00\x00", 4));
  WriteText("\\.x", "", "nokey.file");
  Raw("\\.x", "EditFlags", RegType::Dword, Le32(0x10000));
  WriteText("\\.y", "", "nokey.file");
  Raw("\\.y", "EditFlags", RegType::Binary, std::string("\x02\x00\x00\x00", 4));
  EXPECT_EQ(Open("c"), std::make_pair(QString("38070000"), Rows{3, 4, 5, 8, 9, 10}));
  EXPECT_EQ(Open("x"), std::make_pair(QString("00010000"), Rows{15}));
  EXPECT_EQ(Open("y"), std::make_pair(QString("02000000"), Rows{1}));
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(FlagsDialogTest, TheRowsAreTheNamedFlagsAndCannotBeTicked) {
  FileType("n", RegType::Dword, Le32(0x10000));
  TForm4* d = Dialog();
  ASSERT_EQ(d->CLB->count(), 19);
  EXPECT_EQ(d->CLB->item(0)->text(), "FTA_Exclude");
  EXPECT_EQ(d->CLB->item(18)->text(), "FTA_NoRecentDocs");
  Form().Ext->setText("n");
  WhileOpen(
      d,
      [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(d));
        EXPECT_EQ(QApplication::focusWidget(), d->CLB);
        for (int row : {0, 15}) {  // a click on the tick box, then Space
          const QRect rect = d->CLB->visualItemRect(d->CLB->item(row));
          QTest::mouseClick(d->CLB->viewport(), Qt::LeftButton, {},
                            {rect.left() + 8, rect.center().y()});
          QTest::keyClick(d->CLB, Qt::Key_Space);
        }
        EXPECT_EQ(Ticked(), Rows{15});
        EXPECT_TRUE(d->CLB->selectedItems().isEmpty());
        QTest::keyClick(d->CLB, Qt::Key_Return);  // Ok is the default button
      },
      [&] { Form().EditFlags1->trigger(); });
  EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(FlagsDialogTest, AValueAboveTheLimitIsRefusedOncePerOpening) {
  FileType("big", RegType::Dword, Le32(0x210000));
  FileType("wide", RegType::Binary, std::string("\x01\x00\x00\x00\x01", 5));
  EXPECT_EQ(Open("big"), std::make_pair(QString("00210000"), Rows{}));
  ASSERT_EQ(m_boxes->shown.size(), 1u);
  EXPECT_EQ(m_boxes->shown[0].caption, "Kestrova");
  EXPECT_EQ(m_boxes->shown[0].text, kRefusal);
  EXPECT_EQ(Open("wide"), std::make_pair(QString("0100000001"), Rows{}));
  EXPECT_EQ(m_boxes->Messages(), (std::vector<QString>{kRefusal, kRefusal}));
}

TEST_F(FlagsDialogTest, AnOversizedBinaryValueIsReportedAfterTheRowsAreSet) {
  FileType("n", RegType::Dword, Le32(0x10000));
  Open("n");
  // Grown past the read buffer after the main window loaded it.
  Raw("\\n.file", "EditFlags", RegType::Binary, std::string(4097, '\x01'));
  EXPECT_EQ(Open("n"), std::make_pair(QString("00010000"), Rows{15}));  // text not changed
  ASSERT_EQ(m_boxes->shown.size(), 1u);
  EXPECT_EQ(m_boxes->shown[0].text, "Invalid data type for 'EditFlags'");
  EXPECT_EQ(m_boxes->shown[0].icon, Boxes::Icon::Error);
  m_boxes->shown.clear();
  EXPECT_THROW(Dialog()->FormShow(), ERegistryException);
  EXPECT_EQ(Ticked(), Rows{15});  // set before the error left the opening step

  // Above the limit too: the refusal first, the read error after it.
  Form().State.CurrentFlagsValue = FlagsValue{0, true};
  EXPECT_THROW(Dialog()->FormShow(), ERegistryException);
  EXPECT_EQ(m_boxes->Messages(), std::vector<QString>{kRefusal});
  EXPECT_EQ(Ticked(), Rows{});
}

std::shared_ptr<RegistryEngine> g_readOnlyEngine;

TEST_F(FlagsDialogTest, ReadsAStoreThatCannotBeWritten) {
  FileType("n", RegType::Dword, Le32(0x10000));
  Form().Ext->setText("n");
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  g_readOnlyEngine = OpenSqliteStore(m_store.Path());
  unsetenv("KESTROVA_STORE_READONLY");
  SetEngineFactory([] { return g_readOnlyEngine; });
  Dialog()->FormShow();
  UseSqliteStore(m_store.Path());
  g_readOnlyEngine.reset();
  EXPECT_EQ(Dialog()->EditFlagsE->text(), "00010000");
}

}  // namespace
}  // namespace kestrova::test
