// Find on its own, against a fresh store: what matches (key names, value names, text data, in
// any letter case), the order it goes in, the way round past the end, and a big subtree.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regfile/RegRoots.h"
#include "store/RegistryRules.h"
#include "tests/support/TestStore.h"
#include "tools/KeySearch.h"

namespace kestrova {
namespace {

using namespace std::string_literals;
using test::TestStore;

class KeySearchTest : public ::testing::Test {
 protected:
  // Creates the key (a path below `root`) and its missing parents.
  KeyRef Key(const std::string& path, RootKey root = RootKey::ClassesRoot) {
    std::vector<std::string_view> names;
    EXPECT_TRUE(SplitKeyPath(path, names)) << path;
    KeyRef key = m_engine->Root(root);
    for (std::string_view name : names) key = m_engine->CreateChild(key, name);
    return key;
  }
  void Text(const std::string& path, const std::string& name, const std::string& text,
            RootKey root = RootKey::ClassesRoot) {
    m_engine->SetValue(Key(path, root), name, RegType::Sz, text + '\0');
  }

  // Where the search that starts at `from` (after the value in row `valueRow`) stops:
  // "ROOT\path" for a key's name, "ROOT\path : row" for a value, "" for nothing found.
  std::string Next(const FindQuery& query, const std::string& from = "HKEY_CLASSES_ROOT",
                   int valueRow = -1) {
    RootKey root = RootKey::ClassesRoot;
    std::vector<KeyRef> path;
    std::vector<std::string_view> names;
    EXPECT_TRUE(SplitKeyPath(from, names));
    for (RootKey r : {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine}) {
      if (names.front() == RegRootName(r)) root = r;
    }
    KeyRef key = m_engine->Root(root);
    for (std::size_t i = 1; i < names.size(); ++i) {
      key = *m_engine->FindChild(key, names[i]);
      path.push_back(key);
    }
    return Run(KeySearch(*m_engine, query, root, path, valueRow));
  }

  std::string Run(KeySearch search) {
    while (!search.Run(1000)) {
    }
    m_wrapped = search.Wrapped();
    if (!search.Result()) return {};
    const KeySearch::Hit& hit = *search.Result();
    std::string where(RegRootName(hit.root));
    KeyRef key = m_engine->Root(hit.root);
    for (KeyRef step : hit.path) {
      std::vector<ChildKey> children;
      m_engine->Children(key, children);
      for (const ChildKey& c : children) {
        if (c.ref.id == step.id) where += "\\" + c.name;
      }
      key = step;
    }
    m_lastHit = hit;
    if (hit.valueRow >= 0) where += " : " + std::to_string(hit.valueRow);
    return where;
  }

  TestStore m_store;
  std::shared_ptr<RegistryEngine> m_engine = m_store.Engine();
  bool m_wrapped = false;
  std::optional<KeySearch::Hit> m_lastHit;
};

TEST_F(KeySearchTest, MatchesKeyNamesValueNamesAndTextDataInAnyCase) {
  Key("alpha\\NeedleKey");
  Text("beta", "hasNEEDLEname", "x");
  Text("charlie", "plain", "some nEeDlE text");
  m_engine->SetValue(Key("delta"), "list", RegType::MultiSz, "one\0needle two\0\0"s);
  m_engine->SetValue(Key("epsilon"), "bytes", RegType::Binary, "needle");  // no text: no match

  EXPECT_EQ(Next(FindQuery{"needle", true, false, false}), "HKEY_CLASSES_ROOT\\alpha\\NeedleKey");
  EXPECT_EQ(Next(FindQuery{"needle", false, true, false}), "HKEY_CLASSES_ROOT\\beta : 0");
  EXPECT_EQ(Next(FindQuery{"needle", false, false, true}), "HKEY_CLASSES_ROOT\\charlie : 0");
  // A REG_MULTI_SZ matches by any of its strings.
  EXPECT_EQ(Next(FindQuery{"NEEDLE TWO", false, false, true}), "HKEY_CLASSES_ROOT\\delta : 0");
  // Whole strings only: the whole name or string, still in any case.
  EXPECT_EQ(Next(FindQuery{"needlekey", true, true, true, true}),
            "HKEY_CLASSES_ROOT\\alpha\\NeedleKey");
  EXPECT_EQ(Next(FindQuery{"needle", true, true, true, true}), "");
}

TEST_F(KeySearchTest, NextGoesOnFromTheHitAndComesRoundPastTheEnd) {
  Text(".a", "Content Type", "text/needle");
  Key("b\\needles");
  Text("c", "needle1", "x");
  Text("c", "needle2", "x");
  Key("Software\\Needle", RootKey::CurrentUser);

  std::vector<std::string> order;
  std::string from = "HKEY_CLASSES_ROOT";
  int row = -1;
  for (int i = 0; i < 10; ++i) {
    order.push_back(Next(FindQuery{"needle"}, from, row));
    from = order.back().substr(0, order.back().find(" : "));
    row = m_lastHit->valueRow;
  }
  const std::vector<std::string> expected = {
      "HKEY_CLASSES_ROOT\\.a : 0", "HKEY_CLASSES_ROOT\\b\\needles", "HKEY_CLASSES_ROOT\\c : 0",
      "HKEY_CLASSES_ROOT\\c : 1", "HKEY_CURRENT_USER\\Software\\Needle",
      // The classes again, where HKEY_LOCAL_MACHINE holds them.
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.a : 0",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\b\\needles",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\c : 0",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\c : 1",
      "HKEY_CLASSES_ROOT\\.a : 0",  // round past the end
  };
  EXPECT_EQ(order, expected);
  EXPECT_TRUE(m_wrapped);
}

TEST_F(KeySearchTest, NoMatchEndsWhereItBeganAndTheStartItselfIsFoundLast) {
  Text("Software\\Only", "v", "unique", RootKey::CurrentUser);
  Key("two\\three");
  EXPECT_EQ(Next(FindQuery{"nowhere"}), "");
  EXPECT_TRUE(m_wrapped);
  // Starting after the only match: everything else first, then the match once more.
  EXPECT_EQ(Next(FindQuery{"unique", false, false, true}, "HKEY_CURRENT_USER\\Software\\Only", 0),
            "HKEY_CURRENT_USER\\Software\\Only : 0");
  EXPECT_TRUE(m_wrapped);
  // A key given that is gone meanwhile: the search starts at the nearest one still there.
  KeySearch gone(*m_engine, FindQuery{"three"}, RootKey::ClassesRoot, {KeyRef{999999, 3}}, 2);
  EXPECT_EQ(Run(std::move(gone)), "HKEY_CLASSES_ROOT\\two\\three");
}

TEST_F(KeySearchTest, GoesThroughABigSubtreeInSlices) {
  {
    EngineTransaction tx(*m_engine, true);
    for (int i = 0; i < 3000; ++i) {
      const KeyRef key = Key("big\\k" + std::to_string(i));
      m_engine->SetValue(key, "v", RegType::Sz, "value " + std::to_string(i) + '\0');
    }
    tx.Commit();
  }
  EXPECT_EQ(Next(FindQuery{"VALUE 2999", false, false, true, true}),
            "HKEY_CLASSES_ROOT\\big\\k2999 : 0");
  // Run in the shortest slices the window could give it, it still comes to its end.
  KeySearch search(*m_engine, FindQuery{"none of these"}, RootKey::ClassesRoot, {}, -1);
  while (!search.Run(0)) {
    EXPECT_TRUE(search.Where().startsWith("HKEY_")) << search.Where().toStdString();
  }
  EXPECT_TRUE(search.Wrapped());
  EXPECT_FALSE(search.Result());
}

}  // namespace
}  // namespace kestrova
