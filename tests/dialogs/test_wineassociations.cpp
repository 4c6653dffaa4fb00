// The Wine's Associations window on Qt offscreen: Wine's entries listed with their prefix,
// and removed (one, or all) only after the user agrees, with the rebuild asked for.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "dialogs/WineAssociations.h"
#include "platform/Boxes.h"
#include "tests/support/QtFiles.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::WriteAll;

QByteArray WineEntry(const QString& type, const QString& prefix) {
  return ("[Desktop Entry]\nType=Application\nName=Kbq Viewer\nMimeType=" + type +
          ";\nExec=env WINEPREFIX=\"" + prefix + "\" wine start /ProgIDOpen KbqFile %f\n")
      .toUtf8();
}

class WineWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBoxes(m_boxes);
    m_live = QString::fromStdString(m_dir.File("live"));
    QDir().mkpath(m_live);
    m_gone = QString::fromStdString(m_dir.File("gone"));
    WriteAll(Entry("wine-extension-kbq.desktop"),
             WineEntry("application/x-wine-extension-kbq", m_live));
    WriteAll(Entry("wine-extension-txt.desktop"), WineEntry("text/plain", m_gone));
    WriteAll(m_folders.dataHome + "/mime/packages/x-wine-extension-kbq.xml", "<mime-info/>");
    WriteAll(m_folders.MimeAppsList(),
             "[Default Applications]\ntext/plain=wine-extension-txt.desktop\n"
             "image/png=viewer.desktop\n");
    WineAssociationsDialog::Services services;
    services.folders = m_folders;
    services.namer = [this](const QString& name, const QString& suffix) {
      return QString::fromStdString(m_dir.File("backups/")) + name + '.' + suffix;
    };
    services.rebuild = [this](bool mime, bool applications) {
      m_rebuilds.emplace_back(mime, applications);
    };
    m_dialog = std::make_unique<WineAssociationsDialog>(nullptr, std::move(services));
  }
  void TearDown() override {
    m_dialog.reset();
    SetBoxes(nullptr);
  }
  QString Entry(const QString& id) const { return m_folders.Applications() + '/' + id; }
  QTreeWidgetItem* Row(int i) const { return m_dialog->Tree()->topLevelItem(i); }

  test::TempDir m_dir;
  DesktopFolders m_folders{QString::fromStdString(m_dir.File("data")),
                           QString::fromStdString(m_dir.File("config"))};
  QString m_live;
  QString m_gone;
  std::shared_ptr<test::RecordingBoxes> m_boxes = std::make_shared<test::RecordingBoxes>();
  std::unique_ptr<WineAssociationsDialog> m_dialog;
  std::vector<std::pair<bool, bool>> m_rebuilds;
};

TEST_F(WineWindowTest, ListsEachEntryWithItsPrefixAndTheDefaultsItTook) {
  ASSERT_EQ(m_dialog->Tree()->topLevelItemCount(), 2);
  EXPECT_EQ(Row(0)->text(0), "Kbq Viewer (wine-extension-kbq.desktop)");
  EXPECT_EQ(Row(0)->text(1), ".kbq");
  EXPECT_EQ(Row(0)->text(2), m_live);
  EXPECT_EQ(Row(0)->text(3), "exists");
  EXPECT_EQ(Row(0)->text(4), "");
  EXPECT_EQ(Row(1)->text(2), m_gone);
  EXPECT_EQ(Row(1)->text(3), "gone");
  EXPECT_EQ(Row(1)->text(4), "text/plain");
  EXPECT_EQ(m_dialog->Status()->text(), "2 association(s) from Wine.");
  EXPECT_FALSE(m_dialog->RemoveButton()->isEnabled());  // nothing selected
  EXPECT_TRUE(m_dialog->RemoveAllButton()->isEnabled());
}

TEST_F(WineWindowTest, RemovesTheSelectedOnlyAfterTheUserAgrees) {
  Row(1)->setSelected(true);
  ASSERT_TRUE(m_dialog->RemoveButton()->isEnabled());
  m_boxes->confirmAnswers = {false};
  m_dialog->RemoveButton()->click();
  ASSERT_EQ(m_boxes->shown.size(), 1u);
  EXPECT_EQ(m_boxes->shown[0].kind, "confirm");
  EXPECT_TRUE(m_boxes->shown[0].text.contains("wine-extension-txt.desktop"));
  EXPECT_TRUE(QFile::exists(Entry("wine-extension-txt.desktop")));
  EXPECT_TRUE(m_rebuilds.empty());

  m_boxes->confirmAnswers = {true};
  m_dialog->RemoveButton()->click();
  EXPECT_FALSE(QFile::exists(Entry("wine-extension-txt.desktop")));
  EXPECT_TRUE(QFile::exists(Entry("wine-extension-kbq.desktop")));
  QFile list(m_folders.MimeAppsList());
  ASSERT_TRUE(list.open(QIODevice::ReadOnly));
  EXPECT_EQ(list.readAll(), "[Default Applications]\nimage/png=viewer.desktop\n");
  EXPECT_TRUE(QFile::exists(QString::fromStdString(m_dir.File("backups/mimeapps.list"))));
  EXPECT_EQ(m_rebuilds, (std::vector<std::pair<bool, bool>>{{false, true}}));
  EXPECT_EQ(m_dialog->Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(m_dialog->Status()->text(), "Removed 1 entry and 0 MIME type(s); 2 backup(s) written.");
}

TEST_F(WineWindowTest, RemoveAllTakesEveryEntryAndWinesTypes) {
  m_boxes->confirmAnswers = {true};
  m_dialog->RemoveAllButton()->click();
  EXPECT_TRUE(m_boxes->shown[0].text.startsWith("Remove 2 of Wine's associations"));
  EXPECT_EQ(m_dialog->Tree()->topLevelItemCount(), 0);
  EXPECT_FALSE(QFile::exists(m_folders.dataHome + "/mime/packages/x-wine-extension-kbq.xml"));
  EXPECT_EQ(m_rebuilds, (std::vector<std::pair<bool, bool>>{{true, true}}));
  EXPECT_EQ(m_dialog->Status()->text(),
            "Removed 2 entries and 1 MIME type(s); 4 backup(s) written.");
  EXPECT_FALSE(m_dialog->RemoveAllButton()->isEnabled());
}

}  // namespace
}  // namespace kestrova
