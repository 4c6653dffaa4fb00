// The applier's bookkeeping on its own: plans in, user files out, and everything taken back
// exactly, with no desktop tools involved.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "platform/DesktopApply.h"
#include "tests/support/QtFiles.h"
#include "tests/support/TestStore.h"

namespace kestrova::test {
namespace {

DesktopPlan Own(const std::string& ext, const std::string& type, const std::string& progId) {
  DesktopPlan plan;
  plan.ext = ext;
  plan.progId = progId;
  plan.mimeType = type;
  plan.ownGlob = true;
  plan.comment = progId + " file";
  plan.appId = "kestrova-" + progId + ".desktop";
  plan.ownEntry = true;
  plan.entryName = progId + " file";
  plan.entryExec = "\"/opt/" + progId + " tool/run\" %f";
  return plan;
}

DesktopPlan Removed(const std::string& ext) {
  DesktopPlan plan;
  plan.ext = ext;
  plan.remove = true;
  return plan;
}

class DesktopApplierTest : public ::testing::Test {
 protected:
  DesktopApplierTest()
      : m_folders{QString::fromStdString(m_dir.File("data")),
                  QString::fromStdString(m_dir.File("config"))},
        m_applier(m_folders, [this](const QString& name, const QString& suffix) {
          return QString::fromStdString(m_dir.File("backups/")) + name + "-" +
                 QString::number(++m_copies) + "." + suffix;
        }) {}

  QString Entry(const char* id) const { return m_folders.Applications() + "/" + id; }

  TempDir m_dir;
  DesktopFolders m_folders;
  int m_copies = 0;
  DesktopApplier m_applier;
};

const QByteArray kList =
    "[Default Applications]\n"
    "application/x-one=theirs.desktop\n"
    "# comment\n"
    "[Added Associations]\n"
    "application/x-one=theirs.desktop;other.desktop;\n";

TEST_F(DesktopApplierTest, ExtensionsSharingAFileTypeShareOneEntryUntilTheLastGoes) {
  WriteAll(m_folders.MimeAppsList(), kList);
  ApplyOutcome outcome = m_applier.Apply(
      {Own("one", "application/x-one", "Shared"), Own("two", "application/x-two", "Shared")});
  EXPECT_TRUE(outcome.problems.isEmpty()) << outcome.problems.join(' ').toStdString();
  EXPECT_TRUE(outcome.rebuildMime);
  EXPECT_TRUE(outcome.rebuildApplications);
  EXPECT_EQ(ReadAll(Entry("kestrova-Shared.desktop")),
            "[Desktop Entry]\nType=Application\nName=Shared file\n"
            "Exec=\"/opt/Shared tool/run\" %f\n"
            "MimeType=application/x-one;application/x-two;\nNoDisplay=true\n");
  const QByteArray package = ReadAll(m_folders.MimePackage());
  EXPECT_TRUE(package.contains("<glob pattern=\"*.one\" weight=\"80\"/>")) << package.data();
  EXPECT_TRUE(package.contains("<comment>Shared file</comment>"));
  EXPECT_EQ(ReadAll(m_folders.MimeAppsList()),
            "[Default Applications]\n"
            "application/x-one=kestrova-Shared.desktop\n"
            "application/x-two=kestrova-Shared.desktop\n"
            "# comment\n"
            "[Added Associations]\n"
            "application/x-one=theirs.desktop;other.desktop;kestrova-Shared.desktop;\n"
            "application/x-two=kestrova-Shared.desktop;\n");
  EXPECT_EQ(m_applier.ExtensionsOf("shared"), (std::vector<std::string>{"one", "two"}));

  m_applier.Apply({Removed("one")});
  EXPECT_TRUE(ReadAll(Entry("kestrova-Shared.desktop")).contains("MimeType=application/x-two;\n"));
  EXPECT_FALSE(ReadAll(m_folders.MimePackage()).contains("*.one"));
  m_applier.Apply({Removed("two")});
  EXPECT_FALSE(QFile::exists(Entry("kestrova-Shared.desktop")));
  EXPECT_FALSE(QFile::exists(m_folders.MimePackage()));
  EXPECT_EQ(ReadAll(m_folders.MimeAppsList()), kList + QByteArray());
  EXPECT_FALSE(m_applier.HasChanges());
}

TEST_F(DesktopApplierTest, ADefaultTheUserChangedSinceStaysTheirs) {
  WriteAll(m_folders.MimeAppsList(), kList);
  m_applier.Apply({Own("one", "application/x-one", "One")});
  QByteArray list = ReadAll(m_folders.MimeAppsList());
  list.replace("application/x-one=kestrova-One.desktop", "application/x-one=picked.desktop");
  WriteAll(m_folders.MimeAppsList(), list);
  m_applier.RemoveAll();
  EXPECT_EQ(ReadAll(m_folders.MimeAppsList()),
            "[Default Applications]\n"
            "application/x-one=picked.desktop\n"
            "# comment\n"
            "[Added Associations]\n"
            "application/x-one=theirs.desktop;other.desktop;\n");
}

TEST_F(DesktopApplierTest, ChangingTheTypeGivesTheOldTypeItsDefaultBack) {
  WriteAll(m_folders.MimeAppsList(), kList);
  m_applier.Apply({Own("one", "application/x-one", "One")});
  m_applier.Apply({Own("one", "application/x-new", "One")});
  const QByteArray list = ReadAll(m_folders.MimeAppsList());
  EXPECT_TRUE(list.contains("application/x-one=theirs.desktop\n")) << list.data();
  EXPECT_TRUE(list.contains("application/x-new=kestrova-One.desktop\n"));
  EXPECT_TRUE(list.contains("application/x-one=theirs.desktop;other.desktop;\n"));
}

TEST_F(DesktopApplierTest, EveryChangedFileIsCopiedFirstAndUnchangedOnesAreNotTouched) {
  WriteAll(m_folders.MimeAppsList(), kList);
  m_applier.Apply({Own("one", "application/x-one", "One")});
  EXPECT_EQ(ReadAll(QString::fromStdString(m_dir.File("backups/mimeapps-1.list"))), kList);
  // The same plan again writes nothing, so it copies nothing.
  const ApplyOutcome again = m_applier.Apply({Own("one", "application/x-one", "One")});
  EXPECT_FALSE(again.rebuildMime);
  EXPECT_FALSE(again.rebuildApplications);
  EXPECT_EQ(m_copies, 1);
  const QByteArray entry = ReadAll(Entry("kestrova-One.desktop"));
  m_applier.RemoveAll();
  EXPECT_EQ(ReadAll(QString::fromStdString(m_dir.File("backups/kestrova-One-3.desktop"))), entry);
  EXPECT_EQ(QDir(QString::fromStdString(m_dir.File("backups"))).entryList(QDir::Files).size(), 4);
}

TEST_F(DesktopApplierTest, APlanWithNothingForTheDesktopLeavesNoTrace) {
  DesktopPlan plan;
  plan.ext = "txt";
  plan.mimeType = "text/plain";  // the desktop already says so, and no command
  const ApplyOutcome outcome = m_applier.Apply({plan});
  EXPECT_FALSE(outcome.rebuildMime);
  EXPECT_FALSE(QFile::exists(m_folders.MimePackage()));
  EXPECT_FALSE(QFile::exists(m_folders.Ledger()));
  EXPECT_FALSE(m_applier.HasChanges());
}

}  // namespace
}  // namespace kestrova::test
