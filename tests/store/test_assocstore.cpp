// The store contract as handlers rely on it: paths, the current key, values and failures.

#include <gtest/gtest.h>

#include "platform/SqliteStore.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

class AssocStoreTest : public ::testing::Test {
 protected:
  test::TestStore m_store;

  // A store rooted at HKEY_CLASSES_ROOT, as every association handler makes it.
  static std::unique_ptr<AssocStore> Classes(AssocStore::Access access = AssocStore::Access::Full) {
    auto s = std::make_unique<AssocStore>(access);
    s->SetRoot(RootKey::ClassesRoot);
    return s;
  }

  static std::string MessageOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const ERegistryException& e) {
      return e.what();
    }
    return "(nothing raised)";
  }
};

TEST_F(AssocStoreTest, NewStoreStartsAtCurrentUserWithNoKey) {
  AssocStore s;
  EXPECT_EQ(s.Root(), RootKey::CurrentUser);
  EXPECT_FALSE(s.HasCurrentKey());
  std::vector<std::string> list{"stale"};
  s.ListSubkeys(list);
  EXPECT_TRUE(list.empty());
  // Writing with no current key raises the contract's text, with the value name.
  EXPECT_EQ(MessageOf([&] { s.PutText("HelpURL", "x"); }), "Failed to set data for 'HelpURL'");
  EXPECT_EQ(MessageOf([&] { s.PutDword("", 1); }), "Failed to set data for ''");
}

TEST_F(AssocStoreTest, PathRule) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\.txt", true));
  s->PutText("", "txtfile");
  ASSERT_TRUE(s->OpenPath("\\txtfile\\Shell\\open", true));

  // "\" names the root itself.
  ASSERT_TRUE(s->OpenPath("\\", false));
  std::vector<std::string> list;
  s->ListSubkeys(list);
  EXPECT_EQ(list, (std::vector<std::string>{".txt", "txtfile"}));

  // A relative path starts from the current key...
  ASSERT_TRUE(s->OpenPath("txtfile", false));
  ASSERT_TRUE(s->OpenPath("Shell", false));
  s->ListSubkeys(list);
  EXPECT_EQ(list, std::vector<std::string>{"open"});

  // ...or from the root when none is current.
  s->ClosePath();
  ASSERT_TRUE(s->OpenPath(".txt", false));
  EXPECT_EQ(s->GetText(""), "txtfile");

  // Empty components name no key.
  for (const char* bad : {"\\\\.txt", "\\.txt\\", "\\txtfile\\\\Shell", "\\\\"}) {
    EXPECT_FALSE(s->OpenPath(bad, false)) << bad;
    EXPECT_FALSE(s->HasPath(bad)) << bad;
    EXPECT_FALSE(s->RemovePath(bad)) << bad;
    EXPECT_THROW(s->CreatePath(bad), ERegistryException) << bad;
  }
  EXPECT_TRUE(s->HasPath("\\.txt"));
}

TEST_F(AssocStoreTest, FailedOpenKeepsThePreviousKey) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\.htm", true));
  s->PutText("", "htmlfile");
  EXPECT_FALSE(s->OpenPath("\\.nothere", false));
  EXPECT_TRUE(s->HasCurrentKey());
  EXPECT_EQ(s->GetText(""), "htmlfile");  // still reads .htm
}

TEST_F(AssocStoreTest, OpenWithCreateMakesEveryLevel) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\a\\b\\c\\d", true));
  s->PutText("v", "deep");
  EXPECT_TRUE(s->HasPath("\\a\\b\\c"));
  auto other = Classes();
  ASSERT_TRUE(other->OpenPath("\\A\\B\\C\\D", false));
  EXPECT_EQ(other->GetText("V"), "deep");
}

TEST_F(AssocStoreTest, NamesMatchWithoutCaseAndKeepTheirCreatedCase) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\TxtFile\\Shell\\Open\\command", true));
  s->PutText("", "edit %1");
  // The program writes "command" but reads "Command".
  ASSERT_TRUE(s->OpenPath("\\txtfile\\shell\\open\\Command", false));
  EXPECT_EQ(s->GetText(""), "edit %1");
  ASSERT_TRUE(s->OpenPath("\\TXTFILE\\SHELL\\OPEN", true));  // create of an existing key: no copy
  std::vector<std::string> list;
  s->ListSubkeys(list);
  EXPECT_EQ(list, std::vector<std::string>{"command"});
  ASSERT_TRUE(s->OpenPath("\\", false));
  s->ListSubkeys(list);
  EXPECT_EQ(list, std::vector<std::string>{"TxtFile"});

  // Value names too, beyond ASCII.
  ASSERT_TRUE(s->OpenPath("\\Ünïcode", true));
  s->PutText("Größe", "1");
  EXPECT_TRUE(s->HasPath("\\üNÏCODE"));
  ASSERT_TRUE(s->OpenPath("\\ÜNÏCODE", false));
  EXPECT_EQ(s->GetText("GRÖSSE"), "");  // no locale folding: ß is not SS
  EXPECT_EQ(s->GetText("GRÖßE"), "1");
}

TEST_F(AssocStoreTest, CreatePathLeavesTheCurrentKeyAndRaisesWithThePathAsPassed) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\.txt", true));
  s->PutText("", "txtfile");
  EXPECT_TRUE(s->CreatePath("\\x\\y"));
  EXPECT_EQ(s->GetText(""), "txtfile");
  EXPECT_TRUE(s->HasPath("\\x\\y"));
  const std::string tooLong(256, 'n');
  EXPECT_EQ(MessageOf([&] { s->CreatePath("\\x\\" + tooLong); }),
            "Failed to create key \\x\\" + tooLong);
  EXPECT_FALSE(s->HasPath("\\x\\" + tooLong));
  EXPECT_TRUE(s->CreatePath("\\x\\" + std::string(255, 'n')));
}

TEST_F(AssocStoreTest, RemovePathRemovesTheWholeSubtree) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\ft\\Shell\\open\\ddeexec\\Topic", true));
  s->PutText("", "System");
  ASSERT_TRUE(s->OpenPath("\\ft\\Shell\\print\\command", true));
  s->PutText("", "print %1");
  ASSERT_TRUE(s->OpenPath("\\ftx", true));  // a sibling sharing the prefix stays
  s->PutText("", "keep");
  ASSERT_TRUE(s->OpenPath("\\.txt", true));

  EXPECT_TRUE(s->RemovePath("\\FT"));
  EXPECT_FALSE(s->HasPath("\\ft"));
  EXPECT_FALSE(s->HasPath("\\ft\\Shell\\open\\ddeexec"));
  EXPECT_TRUE(s->HasPath("\\ftx"));
  EXPECT_FALSE(s->RemovePath("\\ft"));  // gone: false, nothing raised
  EXPECT_FALSE(s->RemovePath("\\nothing\\here"));
  // The current key is unchanged.
  EXPECT_TRUE(s->OpenPath("", false));
  s->PutText("", "still open");

  // A relative path removes below the current key.
  ASSERT_TRUE(s->OpenPath("\\ftx", false));
  ASSERT_TRUE(s->CreatePath("sub\\leaf"));
  EXPECT_TRUE(s->RemovePath("sub"));
  EXPECT_TRUE(s->HasPath("\\ftx"));
  EXPECT_FALSE(s->HasPath("\\ftx\\sub"));
  EXPECT_EQ(s->GetText(""), "keep");
}

TEST_F(AssocStoreTest, TheRootsAreNotRemovable) {
  auto s = Classes();
  EXPECT_FALSE(s->RemovePath("\\"));
  s->SetRoot(RootKey::LocalMachine);
  EXPECT_FALSE(s->RemovePath("\\SOFTWARE"));
  EXPECT_FALSE(s->RemovePath("\\SOFTWARE\\Classes"));
  s->SetRoot(RootKey::ClassesRoot);
  EXPECT_TRUE(s->CreatePath("\\.still"));
}

TEST_F(AssocStoreTest, ClassesRootIsLocalMachineSoftwareClasses) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\.txt", true));
  s->PutText("", "txtfile");
  AssocStore m;
  m.SetRoot(RootKey::LocalMachine);
  ASSERT_TRUE(m.OpenPath("\\SOFTWARE\\Classes\\.txt", false));
  EXPECT_EQ(m.GetText(""), "txtfile");
  // Current user's tree is separate.
  AssocStore u;
  EXPECT_FALSE(u.HasPath("\\.txt"));
}

TEST_F(AssocStoreTest, SetRootClosesTheCurrentKeyOnlyWhenTheRootChanges) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\.txt", true));
  s->SetRoot(RootKey::ClassesRoot);
  EXPECT_TRUE(s->HasCurrentKey());
  s->SetRoot(RootKey::CurrentUser);
  EXPECT_FALSE(s->HasCurrentKey());
  EXPECT_EQ(MessageOf([&] { s->PutText("HelpURL", "x"); }), "Failed to set data for 'HelpURL'");
}

TEST_F(AssocStoreTest, TextValues) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\.txt", true));
  // Missing values and an unset default value read as empty text.
  EXPECT_EQ(s->GetText(""), "");
  EXPECT_EQ(s->GetText("Content Type"), "");
  EXPECT_EQ(s->SizeOfValue("Content Type"), -1);
  EXPECT_EQ(s->KindOfValue("Content Type"), ValueKind::Other);
  EXPECT_FALSE(s->HasValue("Content Type"));

  s->PutText("AlwaysShowExt", "");
  EXPECT_TRUE(s->HasValue("alwaysshowext"));
  EXPECT_EQ(s->SizeOfValue("AlwaysShowExt"), 1);
  EXPECT_EQ(s->KindOfValue("AlwaysShowExt"), ValueKind::Text);
  EXPECT_EQ(s->GetText("AlwaysShowExt"), "");

  s->PutText("Content Type", "text/plain");
  EXPECT_EQ(s->SizeOfValue("Content Type"), 11);
  EXPECT_EQ(s->GetText("CONTENT TYPE"), "text/plain");
  s->PutText("Content Type", "text/x");  // replaced in place
  EXPECT_EQ(s->GetText("Content Type"), "text/x");

  EXPECT_TRUE(s->RemoveValue("content type"));
  EXPECT_FALSE(s->RemoveValue("content type"));
  EXPECT_FALSE(s->HasValue("Content Type"));
}

TEST_F(AssocStoreTest, ReadsOfOtherKindsRaise) {
  auto engine = m_store.Engine();
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\ft", true));
  s->PutDword("EditFlags", 0x10000);
  EXPECT_EQ(MessageOf([&] { s->GetText("EditFlags"); }), "Invalid data type for 'EditFlags'");
  EXPECT_EQ(s->GetDword("EditFlags"), 0x10000);
  EXPECT_EQ(s->KindOfValue("EditFlags"), ValueKind::Dword);
  EXPECT_EQ(s->SizeOfValue("EditFlags"), 4);

  EXPECT_EQ(MessageOf([&] { s->GetDword("Missing"); }), "Failed to get data for 'Missing'");
  s->PutText("Desc", "ab");
  EXPECT_EQ(MessageOf([&] { s->GetDword("Desc"); }), "Invalid data type for 'Desc'");

  // ExpandText reads unexpanded; a rewrite stores it as Text.
  const auto key = *engine->FindChild(engine->Root(RootKey::ClassesRoot), "ft");
  engine->SetValue(key, "Path", RegType::ExpandSz, std::string("%HOME%\\x\0", 9));
  EXPECT_EQ(s->KindOfValue("Path"), ValueKind::ExpandText);
  EXPECT_EQ(s->GetText("Path"), "%HOME%\\x");
  s->PutText("Path", s->GetText("Path"));
  EXPECT_EQ(s->KindOfValue("Path"), ValueKind::Text);

  // Text ends at the first NUL; a zero-byte text value reads as empty.
  engine->SetValue(key, "Two", RegType::Sz, std::string("one\0two\0", 8));
  EXPECT_EQ(s->GetText("Two"), "one");
  engine->SetValue(key, "Zero", RegType::Sz, "");
  EXPECT_EQ(s->GetText("Zero"), "");
  EXPECT_EQ(s->SizeOfValue("Zero"), 0);
  engine->SetValue(key, "ZeroBin", RegType::Binary, "");
  EXPECT_EQ(s->GetText("ZeroBin"), "");  // size 0: empty, nothing raised

  // A dword longer than four bytes fails the read itself.
  engine->SetValue(key, "Long", RegType::Dword, std::string(5, '\1'));
  EXPECT_EQ(MessageOf([&] { s->GetDword("Long"); }), "Failed to get data for 'Long'");
  engine->SetValue(key, "Short", RegType::Dword, std::string("\x02", 1));
  EXPECT_EQ(s->GetDword("Short"), 2);
  s->PutDword("Neg", -1);
  EXPECT_EQ(s->GetDword("Neg"), -1);
}

TEST_F(AssocStoreTest, BinaryReads) {
  auto engine = m_store.Engine();
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\ft", true));
  const auto key = *engine->FindChild(engine->Root(RootKey::ClassesRoot), "ft");
  char buffer[4096];
  std::fill(std::begin(buffer), std::end(buffer), 'x');
  EXPECT_EQ(s->GetBinary("EditFlags", buffer, sizeof buffer), 0);  // missing: 0, untouched
  EXPECT_EQ(buffer[0], 'x');

  engine->SetValue(key, "EditFlags", RegType::Binary, std::string("\x38\x07\x00\x00", 4));
  EXPECT_EQ(s->GetBinary("EditFlags", buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), std::string("\x38\x07\x00\x00", 4));
  EXPECT_EQ(s->KindOfValue("EditFlags"), ValueKind::Binary);

  engine->SetValue(key, "Big", RegType::Binary, std::string(5000, '\1'));
  EXPECT_EQ(MessageOf([&] { s->GetBinary("Big", buffer, sizeof buffer); }),
            "Invalid data type for 'Big'");
  engine->SetValue(key, "Exact", RegType::Binary, std::string(4096, '\2'));
  EXPECT_EQ(s->GetBinary("Exact", buffer, sizeof buffer), 4096);
  s->PutDword("Num", 7);
  EXPECT_EQ(MessageOf([&] { s->GetBinary("Num", buffer, sizeof buffer); }),
            "Invalid data type for 'Num'");
  engine->SetValue(key, "Qw", RegType::Qword, std::string(8, '\3'));  // Other kinds copy
  EXPECT_EQ(s->KindOfValue("Qw"), ValueKind::Other);
  EXPECT_EQ(s->GetBinary("Qw", buffer, sizeof buffer), 8);
  s->PutText("Txt", "a");
  EXPECT_THROW(s->GetBinary("Txt", buffer, sizeof buffer), ERegistryException);
}

TEST_F(AssocStoreTest, LimitsFailTheWayEachOperationFails) {
  auto s = Classes();
  ASSERT_TRUE(s->OpenPath("\\limits", true));
  EXPECT_FALSE(s->OpenPath("\\limits\\" + std::string(256, 'k'), true));
  EXPECT_FALSE(s->OpenPath("\\limits\\bad\nname", true));
  EXPECT_TRUE(s->OpenPath("\\limits\\tab\tend\t", true));
  const std::string longName(16384, 'v');
  EXPECT_EQ(MessageOf([&] { s->PutText(longName, "x"); }),
            "Failed to set data for '" + longName + "'");
  s->PutText(std::string(16383, 'v'), "ok");
  EXPECT_EQ(s->GetText(std::string(16383, 'V')), "ok");
  // Text counts as the registry stores it, UTF-16 with its terminator: 512 Ki - 1
  // characters fit, one more does not.
  EXPECT_EQ(MessageOf([&] { s->PutText("big", std::string(512 * 1024, 'd')); }),
            "Failed to set data for 'big'");
  s->PutText("fits", std::string(512 * 1024 - 1, 'd'));
  EXPECT_EQ(s->SizeOfValue("fits"), 512 * 1024);

  // Depth: the classes root lies two levels down, so 510 more levels fit.
  std::string path;
  for (int i = 0; i < 510; ++i) path += "\\k";
  EXPECT_TRUE(s->OpenPath(path, true));
  EXPECT_FALSE(s->OpenPath(path + "\\k", true));
  EXPECT_THROW(s->CreatePath(path + "\\k"), ERegistryException);
}

TEST_F(AssocStoreTest, AKeyDeletedMeanwhileRefusesWrites) {
  auto a = Classes();
  auto b = Classes();
  ASSERT_TRUE(a->OpenPath("\\gone", true));
  ASSERT_TRUE(b->RemovePath("\\gone"));
  EXPECT_THROW(a->PutText("x", "y"), ERegistryException);
  EXPECT_FALSE(a->HasPath("\\gone"));  // nothing was written to an orphan key
  EXPECT_FALSE(a->OpenPath("", false));
}

TEST_F(AssocStoreTest, ReadOnlyStoreOpensAndReadsButNeverWrites) {
  {
    auto s = Classes();
    ASSERT_TRUE(s->OpenPath("\\.ico", true));
    s->PutText("", "icofile");
  }
  auto r = Classes(AssocStore::Access::ReadOnly);
  ASSERT_TRUE(r->OpenPath("\\.ico", false));
  EXPECT_EQ(r->GetText(""), "icofile");
  EXPECT_THROW(r->PutText("", "changed"), ERegistryException);
  EXPECT_FALSE(r->RemoveValue(""));
  EXPECT_EQ(r->GetText(""), "icofile");
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

// Stores alive together on one thread share a connection: each sees the other's writes at
// once, and a write is on disk when the call returns, whatever other store is alive.
TEST_F(AssocStoreTest, StoresAliveTogetherSeeEachOthersWrites) {
  auto reader = Classes();
  ASSERT_TRUE(reader->OpenPath("\\.txt", true));
  EXPECT_EQ(reader->GetText(""), "");
  {
    auto writer = Classes();
    ASSERT_TRUE(writer->OpenPath("\\.txt", false));
    writer->PutText("", "txtfile");
    EXPECT_EQ(reader->GetText(""), "txtfile");
    // Another connection (another process) sees the write while both stores are alive.
    AssocStore other(OpenSqliteStore(m_store.Path()));
    other.SetRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(other.OpenPath("\\.txt", false));
    EXPECT_EQ(other.GetText(""), "txtfile");
    other.PutText("", "changed");
  }
  EXPECT_EQ(reader->GetText(""), "txtfile");  // its snapshot holds until it writes or ends
  reader->PutText("Content Type", "text/plain");
  EXPECT_EQ(reader->GetText(""), "changed");
}

}  // namespace
}  // namespace kestrova
