#include <gtest/gtest.h>

#include <vector>

#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

TEST(AssocLayout, KeepsTheShellsMixedLetterCase) {
  EXPECT_EQ(layout::ShellKey("txtfile"), "\\txtfile\\Shell");
  EXPECT_EQ(layout::VerbCommandKey("txtfile", "open"), "\\txtfile\\Shell\\open\\Command");
  EXPECT_EQ(layout::NewVerbCommandKey("txtfile", "open"), "\\txtfile\\Shell\\open\\command");
  EXPECT_EQ(layout::DdeIfExecKey("txtfile", "open"), "\\txtfile\\Shell\\open\\ddeexec\\ifexec");
  EXPECT_EQ(layout::DdeApplicationKey("txtfile", "open"),
            "\\txtfile\\Shell\\open\\ddeexec\\Application");
  EXPECT_STREQ(layout::ContextMenuCommandKey, "\\*\\shell\\Velmora\\command");
}

TEST(AssocLayout, ConcatenatesNamesWithoutEscaping) {
  EXPECT_EQ(layout::ExtKey("txt"), "\\.txt");
  EXPECT_EQ(layout::ProgIdKey("Vendor\\Type"), "\\Vendor\\Type");
  EXPECT_EQ(layout::VerbKey("Vendor\\Type", "print\\to"), "\\Vendor\\Type\\Shell\\print\\to");
  EXPECT_EQ(layout::ExtBackupKey("txt"), "HKEY_CLASSES_ROOT\\.txt");
  EXPECT_EQ(layout::ProgIdBackupKey("txtfile"), "HKEY_CLASSES_ROOT\\txtfile");
}

TEST(AssocLayout, FileTypeChoicesExcludeExtensionsAndAllFiles) {
  for (const char* name : {"txtfile", "?", "*.bak", "Vendor.Type.1"})
    EXPECT_TRUE(layout::IsFileTypeName(name)) << name;
  for (const char* name : {".txt", ".", "*", ""})
    EXPECT_FALSE(layout::IsFileTypeName(name)) << name;
}

class AssocLayoutInStore : public ::testing::Test {
 protected:
  test::TestStore m_testStore;
  AssocStore m_store{m_testStore.Engine()};
  void SetUp() override { m_store.SetRoot(RootKey::ClassesRoot); }
};

TEST_F(AssocLayoutInStore, CommandKeyCreatedLowerCaseIsFoundByReaders) {
  ASSERT_TRUE(m_store.CreatePath(layout::NewVerbCommandKey("txtfile", "open")));
  EXPECT_TRUE(m_store.HasPath(layout::VerbCommandKey("txtfile", "open")));
  ASSERT_TRUE(m_store.OpenPath(layout::ShellKey("txtfile"), false));
  std::vector<std::string> verbs;
  m_store.ListSubkeys(verbs);
  EXPECT_EQ(verbs, std::vector<std::string>{"open"});
}

TEST_F(AssocLayoutInStore, BackslashInProgIdAddressesDeeperKey) {
  ASSERT_TRUE(m_store.CreatePath(layout::ShellKey("Vendor\\Type")));
  ASSERT_TRUE(m_store.OpenPath(layout::ProgIdKey("Vendor"), false));
  std::vector<std::string> children;
  m_store.ListSubkeys(children);
  EXPECT_EQ(children, std::vector<std::string>{"Type"});
  EXPECT_TRUE(m_store.HasPath("\\Vendor\\Type\\Shell"));
}

}  // namespace
}  // namespace kestrova
