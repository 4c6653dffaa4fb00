// The dialogs against a plain EditedAssociation, with no main window: each reads the
// extension, file type, action and flags it is given, and asks it for the backup, the
// status text, the extension to show and the new file type dialog.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>

#include "dialogs/DDE.h"
#include "dialogs/EditFlag.h"
#include "dialogs/NewWiz.h"
#include "dialogs/chgass.h"
#include "store/AssocLayout.h"
#include "tests/dialogs/DialogDriver.h"
#include "tests/dialogs/FakeEditedAssociation.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova::test {
namespace {

class DialogsOnAFakeAssociation : public ::testing::Test {
 protected:
  void SetUp() override {
    m_boxes = std::make_shared<RecordingBoxes>();
    SetBoxes(m_boxes);
  }
  void TearDown() override { SetBoxes(nullptr); }

  // Runs the event loop until the task's finish step has run.
  static bool Finished(const TBackgroundTask* task) { return RunUntilFinished(task); }

  TestStore m_store;
  std::shared_ptr<RecordingBoxes> m_boxes;
  FakeEditedAssociation m_edited;
};

TEST_F(DialogsOnAFakeAssociation, DdeWorksOnTheGivenFileTypeAndActionAfterItsBackup) {
  const std::string exec = layout::DdeExecKey("acme.doc", "open");
  const std::string application = layout::DdeApplicationKey("acme.doc", "open");
  const std::string ifExec = layout::DdeIfExecKey("acme.doc", "open");
  WriteText(exec, layout::DefaultValueName, "[open(\"%1\")]");
  WriteText(application, layout::DefaultValueName, "acme");
  WriteText(layout::DdeTopicKey("acme.doc", "open"), layout::DefaultValueName, "system");
  m_edited.fileType = "acme.doc";
  m_edited.verb = "open";

  TFrmDDE dialog(&m_edited);
  dialog.show();
  EXPECT_TRUE(dialog.CheckBox1->isChecked());
  EXPECT_EQ(dialog.Edit5->text(), "[open(\"%1\")]");
  EXPECT_EQ(dialog.Edit6->text(), "acme");
  EXPECT_EQ(dialog.Edit7->text(), "system");
  EXPECT_EQ(dialog.IfExec->text(), "");

  // A backup that failed keeps the store as it was and the dialog open.
  dialog.Edit6->setText("acme2");
  m_edited.backupSucceeds = false;
  dialog.OKBtn->click();
  EXPECT_EQ(m_edited.backups, 1);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(ReadValue(application, layout::DefaultValueName), "acme");
  EXPECT_FALSE(HasKey(ifExec));

  m_edited.backupSucceeds = true;
  dialog.OKBtn->click();
  EXPECT_EQ(m_edited.backups, 2);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(ReadValue(application, layout::DefaultValueName), "acme2");
  EXPECT_EQ(ReadValue(ifExec, layout::DefaultValueName), "");

  // Another action of the file type, without DDE: the boxes are emptied, and OK unticked
  // removes only that action's settings.
  WriteText(layout::DdeExecKey("acme.doc", "print"), layout::DefaultValueName, "[print]");
  m_edited.verb = "edit";
  dialog.show();
  EXPECT_FALSE(dialog.CheckBox1->isChecked());
  EXPECT_EQ(dialog.Edit5->text(), "");
  EXPECT_EQ(dialog.Edit6->text(), "");
  m_edited.verb = "print";
  dialog.OKBtn->click();
  EXPECT_FALSE(HasKey(layout::DdeExecKey("acme.doc", "print")));
  EXPECT_TRUE(HasKey(exec));
  EXPECT_TRUE(m_boxes->shown.empty());
}

TEST_F(DialogsOnAFakeAssociation, DdeWithoutAFileTypeAsksForNoAction) {
  TFrmDDE dialog(&m_edited);
  dialog.Edit5->setText("as left");
  dialog.show();
  EXPECT_EQ(m_edited.verbQueries, 0);
  EXPECT_EQ(dialog.Edit5->text(), "as left");
}

TEST_F(DialogsOnAFakeAssociation, ChangeAssociationShowsTheGivenExtensionAndReportsThroughIt) {
  WriteText(layout::ExtKey("zor"), layout::DefaultValueName, "zorfile");
  WriteText(layout::ProgIdKey("zorfile"), layout::DefaultValueName, "Zor");
  WriteText(layout::ProgIdKey("other.file"), layout::DefaultValueName, "Other");
  m_edited.extension = "zor";
  // What the association shows, not what the store holds.
  m_edited.shownFileType = "shown.type";

  TFrmChgAss dialog(&m_edited);
  dialog.show();
  ASSERT_TRUE(Finished(dialog.ProgIDLoader));
  EXPECT_EQ(dialog.ExtLB->text(), "ZOR");
  EXPECT_EQ(dialog.CurProgID->text(), "shown.type");
  EXPECT_EQ(ComboItems(dialog.NewExtDesc), (QStringList{"other.file", "zorfile"}));

  dialog.NewExtDesc->setEditText("other.file");
  dialog.OKBtn->click();
  EXPECT_EQ(ReadValue(layout::ExtKey("zor"), layout::DefaultValueName), "other.file");
  EXPECT_EQ(m_edited.status, "File Association Changed.");
  EXPECT_EQ(m_edited.reloads, 0);  // the association on screen is not loaded again
  EXPECT_TRUE(m_edited.shownExtensions.empty());
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DialogsOnAFakeAssociation, TheWizardShowsWhatItWroteThroughTheAssociation) {
  WriteText(layout::ProgIdKey("zorfile"), layout::DefaultValueName, "Zor");
  m_edited.extension = "old";
  TForm3 wizard(&m_edited);
  wizard.show();
  ASSERT_TRUE(Finished(wizard.FileTypeLoader));

  // A new extension is put on screen, which loads it.
  wizard.FileExt->setText("zor");
  wizard.AssocFileTypes->setEditText("zorfile");
  wizard.Button3->click();
  EXPECT_EQ(ReadValue(layout::ExtKey("zor"), layout::DefaultValueName), "zorfile");
  EXPECT_EQ(wizard.StatusText(), "Saved.");
  EXPECT_EQ(m_edited.shownExtensions, std::vector<QString>{"zor"});
  EXPECT_EQ(m_edited.reloads, 0);

  // The extension already on screen, now written, is loaded again: showing it would not.
  m_edited.extension = "qrb";
  wizard.FileExt->setText("qrb");
  wizard.Button3->click();
  EXPECT_EQ(ReadValue(layout::ExtKey("qrb"), layout::DefaultValueName), "zorfile");
  EXPECT_EQ(m_edited.reloads, 1);
  EXPECT_EQ(m_edited.shownExtensions.size(), 1u);

  // A refused extension writes nothing and is shown as it is.
  wizard.FileExt->setText("zor");
  wizard.Button3->click();
  EXPECT_EQ(m_boxes->Messages(), std::vector<QString>{"File Extension Already Exists."});
  EXPECT_EQ(m_edited.shownExtensions, (std::vector<QString>{"zor", "zor"}));
  EXPECT_EQ(m_edited.reloads, 1);
  EXPECT_EQ(m_edited.backups, 0);
}

TEST_F(DialogsOnAFakeAssociation, TheWizardListsAFileTypeMadeInTheNewFileTypeDialog) {
  WriteText(layout::ProgIdKey("zorfile"), layout::DefaultValueName, "Zor");
  m_edited.inNewFileTypeDialog = [] {
    WriteText(layout::ProgIdKey("made.type"), layout::DefaultValueName, "Made");
  };
  TForm3 wizard(&m_edited);
  wizard.show();
  ASSERT_TRUE(Finished(wizard.FileTypeLoader));
  EXPECT_EQ(ComboItems(wizard.AssocFileTypes), QStringList{"zorfile"});
  wizard.NewProgIDBtn->click();
  EXPECT_EQ(m_edited.newFileTypeDialogs, 1);
  ASSERT_TRUE(Finished(wizard.FileTypeLoader));
  EXPECT_EQ(ComboItems(wizard.AssocFileTypes), (QStringList{"made.type", "zorfile"}));
}

TEST_F(DialogsOnAFakeAssociation, EditFlagsTakeTheRowsFromTheLoadAndTheStringFromTheFileType) {
  WriteText(layout::ProgIdKey("acme.doc"), layout::DefaultValueName, "Acme");
  m_edited.fileType = "acme.doc";
  m_edited.flagsText = "as the load read it";
  m_edited.flagsValue.bits = 0x1 | 0x10000;  // FTA_Exclude, FTA_OpenIsSafe
  const auto ticked = [](const TForm4& dialog) {
    std::vector<int> rows;
    for (int i = 0; i < dialog.CLB->count(); ++i) {
      if (dialog.CLB->item(i)->checkState() == Qt::Checked) rows.push_back(i);
    }
    return rows;
  };

  TForm4 dialog(&m_edited);
  dialog.show();
  EXPECT_EQ(dialog.EditFlagsE->text(), "as the load read it");
  EXPECT_EQ(ticked(dialog), (std::vector<int>{0, 15}));

  // Flags in the file type's own key give the string; the rows stay the load's.
  WriteDword(layout::ProgIdKey("acme.doc"), layout::EditFlagsName, 0x10000);
  dialog.hide();
  dialog.show();
  EXPECT_EQ(dialog.EditFlagsE->text(), "00010000");
  EXPECT_EQ(ticked(dialog), (std::vector<int>{0, 15}));
  EXPECT_TRUE(m_boxes->shown.empty());
}

}  // namespace
}  // namespace kestrova::test
