// What an extension asks of the desktop, from the store and a scripted view of the
// desktop's databases.

#include "store/DesktopPlan.h"

#include <gtest/gtest.h>

#include <map>

#include "store/AssocStore.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova::test {
namespace {

class DesktopPlanTest : public ::testing::Test {
 protected:
  // The desktop here knows *.txt as text/plain, and one application runs "viewer %f".
  SystemView View() {
    SystemView view;
    view.typeForExtension = [this](const std::string& ext) {
      const auto it = systemTypes.find(ext);
      return it == systemTypes.end() ? std::string("application/octet-stream") : it->second;
    };
    view.knowsType = [](const std::string& type) {
      return type == "text/plain" || type == "image/png";
    };
    view.applicationFor = [](const std::string& exec) {
      return exec == "viewer %f" ? std::string("viewer.desktop") : std::string();
    };
    return view;
  }
  DesktopPlan Plan(const std::string& ext) {
    AssocStore store(AssocStore::Access::ReadOnly);
    return PlanExtension(ReadExtensionData(store, ext), View());
  }
  void FileType(const std::string& ext, const std::string& progId, const std::string& command) {
    WriteText("\\." + ext, "", progId);
    WriteText("\\" + progId, "", "Kbq Document");
    WriteText("\\" + progId + "\\DefaultIcon", "", "/usr/share/icons/kbq.png,0");
    WriteText("\\" + progId + "\\Shell\\open\\command", "", command);
  }

  TestStore m_store;
  std::map<std::string, std::string> systemTypes{{"txt", "text/plain"}};
};

TEST_F(DesktopPlanTest, AnExtensionTheDesktopLacksGetsItsTypeWithTheFileTypesName) {
  FileType("kbq", "kbqfile", "\"/opt/Kbq Tool/kbq\" \"%1\"");
  WriteText("\\.kbq", "Content Type", "application/x-kbq");
  const DesktopPlan plan = Plan("kbq");
  EXPECT_FALSE(plan.remove);
  EXPECT_EQ(plan.mimeType, "application/x-kbq");
  EXPECT_TRUE(plan.ownGlob);
  EXPECT_EQ(plan.comment, "Kbq Document");
  EXPECT_EQ(plan.subClassOf, "");
  EXPECT_TRUE(plan.ownEntry);
  EXPECT_EQ(plan.appId, "kestrova-kbqfile.desktop");
  EXPECT_EQ(plan.entryName, "Kbq Document");
  EXPECT_EQ(plan.entryIcon, "/usr/share/icons/kbq.png");
  EXPECT_EQ(plan.entryExec, "\"/opt/Kbq Tool/kbq\" %f");
}

TEST_F(DesktopPlanTest, WithoutAContentTypeTheDesktopsTypeOrOneOfOurOwnIsUsed) {
  FileType("kbq", "kbqfile", "viewer %1");
  EXPECT_EQ(Plan("kbq").mimeType, "application/x-kestrova-kbq");
  EXPECT_TRUE(Plan("kbq").ownGlob);
  FileType("txt", "txtfile", "viewer %1");
  const DesktopPlan text = Plan("txt");
  EXPECT_EQ(text.mimeType, "text/plain");
  EXPECT_FALSE(text.ownGlob) << "the desktop already says so";
  // An installed application with exactly that command is used, not an entry of ours.
  EXPECT_EQ(text.appId, "viewer.desktop");
  EXPECT_FALSE(text.ownEntry);
}

TEST_F(DesktopPlanTest, ATypeThatMustBeatTheDesktopsOwnDescendsFromIt) {
  FileType("txt", "txtfile", "viewer %1");
  WriteText("\\.txt", "Content Type", "text/x-kestrova-notes");
  DesktopPlan plan = Plan("txt");
  EXPECT_TRUE(plan.ownGlob);
  EXPECT_EQ(plan.subClassOf, "text/plain");
  EXPECT_EQ(plan.systemType, "text/plain");
  // A type the desktop defines keeps its own name and parents: only the glob is added.
  WriteText("\\.txt", "Content Type", "image/png");
  plan = Plan("txt");
  EXPECT_TRUE(plan.ownGlob);
  EXPECT_EQ(plan.comment, "");
  EXPECT_EQ(plan.subClassOf, "");
}

TEST_F(DesktopPlanTest, TheDefaultActionIsTheOneTheShellKeyNamesElseTheFirst) {
  FileType("kbq", "kbqfile", "viewer %1");
  WriteText("\\kbqfile\\Shell\\edit\\command", "", "editor %1");
  EXPECT_EQ(Plan("kbq").entryExec, "editor %f") << "first action, by name";
  WriteText("\\kbqfile\\Shell", "", "open");
  EXPECT_EQ(Plan("kbq").appId, "viewer.desktop");
}

TEST_F(DesktopPlanTest, CommandsTheDesktopCannotRunAreSkippedButTheTypeStays) {
  FileType("kbq", "kbqfile", "\"C:\\Tools\\kbq.exe\" \"%1\"");
  const DesktopPlan plan = Plan("kbq");
  EXPECT_TRUE(plan.ownGlob);
  EXPECT_EQ(plan.appId, "");
  EXPECT_FALSE(plan.ownEntry);
  EXPECT_NE(plan.skipped.find("Windows path"), std::string::npos);
}

TEST_F(DesktopPlanTest, AMissingExtensionOrFileTypeTakesItsPartsBack) {
  EXPECT_TRUE(Plan("gone").remove);
  WriteText("\\.kbq", "", "nosuchfile");
  const DesktopPlan plan = Plan("kbq");
  EXPECT_FALSE(plan.remove);
  EXPECT_EQ(plan.appId, "");
  EXPECT_EQ(plan.progId, "");
}

TEST(DesktopPlanNames, IdsTypesAndIconsTheDesktopAccepts) {
  EXPECT_EQ(OwnMimeType("My_Ext"), "application/x-kestrova-my-ext");
  EXPECT_EQ(OwnEntryId("Word.Document.8"), "kestrova-Word.Document.8.desktop");
  EXPECT_EQ(OwnEntryId("a b/c\xc3\xa9"), "kestrova-a_b_c__.desktop");
  EXPECT_EQ(EntryIcon("text-x-generic"), "text-x-generic");
  EXPECT_EQ(EntryIcon("\"/usr/share/pixmaps/a.svg\",0"), "/usr/share/pixmaps/a.svg");
  EXPECT_EQ(EntryIcon("/usr/share/app.exe,3"), "");
  EXPECT_EQ(EntryIcon("C:\\Windows\\shell32.dll,1"), "");
  EXPECT_EQ(EntryIcon("/opt/a.ico"), "");
  EXPECT_EQ(EntryIcon("shell32.dll"), "");
}

}  // namespace
}  // namespace kestrova::test
