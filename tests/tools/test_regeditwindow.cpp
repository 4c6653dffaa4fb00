// kestrova-regedit's window against a fresh store: the lazy key tree, the values list, find,
// refresh after changes made elsewhere, and export.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdlib>
#include <sstream>

#include "platform/SqliteStore.h"
#include "store/RegistryRules.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/TestStore.h"
#include "tools/RegeditCommand.h"
#include "tools/RegeditWindow.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << '[' << l.join(", ").toStdString() << ']';
}
QT_END_NAMESPACE

namespace kestrova {
namespace {

using namespace std::string_literals;
using test::RecordingBoxes;
using test::TempDir;
using test::TestStore;

// Handles events until `done` holds, for at most five seconds.
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.hasExpired(5000)) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

class RegeditWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_boxes = std::make_shared<RecordingBoxes>();
    SetBoxes(m_boxes);
    m_engine = m_store.Engine();
  }
  void TearDown() override {
    m_window.reset();
    SetBoxes(nullptr);
  }

  // Creates the key (a path below `root`) and its missing parents.
  KeyRef Key(const std::string& path, RootKey root = RootKey::ClassesRoot) {
    return Key(*m_engine, path, root);
  }
  static KeyRef Key(RegistryEngine& engine, const std::string& path, RootKey root) {
    std::vector<std::string_view> names;
    EXPECT_TRUE(SplitKeyPath(path, names)) << path;
    KeyRef key = engine.Root(root);
    for (std::string_view name : names) key = engine.CreateChild(key, name);
    return key;
  }
  void Text(const std::string& path, const std::string& name, const std::string& text) {
    m_engine->SetValue(Key(path), name, RegType::Sz, text + '\0');
  }

  RegeditWindow& Window() {
    if (!m_window) m_window = std::make_unique<RegeditWindow>(m_engine);
    return *m_window;
  }

  // Opens the key as a click on its expander does; a hidden view would only note it.
  void Expand(const QModelIndex& index) {
    RegistryKeyModel& model = Window().Model();
    if (model.canFetchMore(index)) model.fetchMore(index);
    Window().KeyTree->expand(index);
  }

  QModelIndex At(const QString& path) {
    RegistryKeyModel& model = Window().Model();
    const QStringList parts = path.split('\\');
    QModelIndex at;
    for (int r = 0; r < model.rowCount(); ++r) {
      if (model.index(r, 0).data().toString() == parts[0]) at = model.index(r, 0);
    }
    for (int i = 1; i < parts.size() && at.isValid(); ++i) {
      Expand(at);
      QModelIndex next;
      for (int r = 0; r < model.rowCount(at); ++r) {
        if (model.index(r, 0, at).data().toString() == parts[i]) next = model.index(r, 0, at);
      }
      at = next;
    }
    return at;
  }
  void Select(const QString& path) {
    const QModelIndex at = At(path);
    ASSERT_TRUE(at.isValid()) << path.toStdString();
    Window().KeyTree->setCurrentIndex(at);
  }

  QStringList Rows(const QModelIndex& parent) {
    QStringList names;
    RegistryKeyModel& model = Window().Model();
    for (int r = 0; r < model.rowCount(parent); ++r)
      names << model.index(r, 0, parent).data().toString();
    return names;
  }
  // The subkeys of the key at `path`, opening it.
  QStringList Subkeys(const QString& path) {
    const QModelIndex at = At(path);
    Expand(at);
    return Rows(at);
  }
  QStringList Values() {
    QStringList rows;
    QTreeWidget* list = Window().ValueList;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = list->topLevelItem(i);
      rows << item->text(0) + " | " + item->text(1) + " | " + item->text(2);
    }
    return rows;
  }
  QString SelectedValue() {
    QTreeWidgetItem* item = Window().ValueList->currentItem();
    return item && item->isSelected() ? item->text(0) : QString();
  }

  // Runs a search to its end; true when it found something.
  bool Find(const std::function<void()>& start) {
    QSignalSpy finished(&Window(), &RegeditWindow::FindFinished);
    start();
    if (finished.isEmpty()) finished.wait(20000);
    EXPECT_EQ(finished.size(), 1);
    return !finished.isEmpty() && finished.front().front().toBool();
  }
  bool Find(const FindQuery& query) {
    return Find([&] { Window().StartFind(query); });
  }
  bool FindNext() {
    return Find([&] { Window().FindNextAction->trigger(); });
  }
  QString Where() {
    return Window().KeyPath->text() + (SelectedValue().isEmpty() ? "" : " : " + SelectedValue());
  }

  TestStore m_store;
  std::shared_ptr<RegistryEngine> m_engine;
  std::shared_ptr<RecordingBoxes> m_boxes;
  std::unique_ptr<RegeditWindow> m_window;
};

TEST_F(RegeditWindowTest, TreeShowsTheRootsAndReadsSubkeysOnlyWhenExpanded) {
  Key(".b");
  Key(".C\\shell\\open\\command");
  Key(".a");
  Key("Software\\Kestrova", RootKey::CurrentUser);

  RegeditWindow& w = Window();
  EXPECT_EQ(w.windowTitle(), "Kestrova Registry Editor");
  EXPECT_EQ(w.KeyTree->accessibleName(), "Keys");
  EXPECT_EQ(w.ValueList->accessibleName(), "Values");
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  RegistryKeyModel& model = w.Model();
  EXPECT_EQ(Rows({}), QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                   "HKEY_USERS", "HKEY_CURRENT_CONFIG"}));
  EXPECT_EQ(w.KeyPath->text(), "HKEY_CLASSES_ROOT");

  // Nothing below the roots is read until a root is expanded; once shown, only keys with
  // subkeys keep their expander.
  const QModelIndex classes = model.RootIndex(RootKey::ClassesRoot);
  const QModelIndex users = model.RootIndex(RootKey::Users);
  EXPECT_TRUE(WaitFor([&] { return !model.hasChildren(users); }));
  EXPECT_EQ(model.rowCount(classes), 0);
  EXPECT_TRUE(model.hasChildren(classes));
  Expand(classes);
  // The store's order: case-folded names, so .C after .b.
  EXPECT_EQ(Rows(classes), QStringList({".a", ".b", ".C"}));
  const QModelIndex a = model.index(0, 0, classes), c = model.index(2, 0, classes);
  EXPECT_TRUE(WaitFor([&] { return !model.hasChildren(a); }));
  EXPECT_TRUE(model.hasChildren(c));
  EXPECT_EQ(model.rowCount(c), 0);
  EXPECT_TRUE(w.KeyTree->isExpanded(classes));

  // HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\SOFTWARE\Classes; the status bar names
  // the key by the path it was reached through.
  Select("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.C\\shell\\open");
  EXPECT_EQ(w.KeyPath->text(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.C\\shell\\open");
  EXPECT_EQ(Subkeys("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"), Rows(classes));
  Select("HKEY_CURRENT_USER\\Software\\Kestrova");
  EXPECT_EQ(w.CurrentPath(), "HKEY_CURRENT_USER\\Software\\Kestrova");
}

TEST_F(RegeditWindowTest, ExpandingARootOfFiftyThousandKeysStaysFast) {
  {
    EngineTransaction t(*m_engine, true);
    const KeyRef classes = m_engine->Root(RootKey::ClassesRoot);
    for (int i = 0; i < 50000; ++i) {
      const KeyRef key = m_engine->CreateChild(classes, "ext" + std::to_string(i));
      if (i % 10 == 0) m_engine->CreateChild(key, "shell");
    }
    t.Commit();
  }
  RegeditWindow& w = Window();
  w.resize(900, 600);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QElapsedTimer timer;
  timer.start();
  const QModelIndex classes = w.Model().RootIndex(RootKey::ClassesRoot);
  w.KeyTree->expand(classes);
  w.KeyTree->scrollTo(w.Model().index(49999, 0, classes));
  QCoreApplication::processEvents();
  w.KeyTree->repaint();
  // Generous for a loaded machine; reading every key's subkeys up front takes far longer.
  EXPECT_LT(timer.elapsed(), 3000);
  RecordProperty("expand_ms", static_cast<int>(timer.elapsed()));
  EXPECT_EQ(w.Model().rowCount(classes), 50000);
  EXPECT_EQ(w.Model().rowCount(w.Model().index(0, 0, classes)), 0);  // ext0 not read
  // Rows on screen are asked whether they have subkeys; rows never shown are not.
  EXPECT_TRUE(WaitFor([&] { return !w.Model().hasChildren(w.Model().index(49999, 0, classes)); }));
  EXPECT_TRUE(w.Model().hasChildren(w.Model().index(25001, 0, classes)));

  // A search through all of it (twice: the classes appear under HKEY_LOCAL_MACHINE too)
  // leaves the window handling its events as it goes.
  w.KeyTree->setCurrentIndex(classes);
  ASSERT_TRUE(Find(FindQuery{"ext49999", true, false, false, true}));
  EXPECT_EQ(w.CurrentPath(), "HKEY_CLASSES_ROOT\\ext49999");
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout,
                   [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
  ticker.start(1);
  sinceTick.start();
  timer.restart();
  EXPECT_FALSE(Find(FindQuery{"nowhere"}));
  longestGap = std::max(longestGap, sinceTick.elapsed());  // the stretch up to the end
  RecordProperty("find_ms", static_cast<int>(timer.elapsed()));
  RecordProperty("longest_gap_ms", static_cast<int>(longestGap));
  EXPECT_LT(longestGap, 500);  // one unsliced pass takes a second or more
}

TEST_F(RegeditWindowTest, ValuesListShowsEveryType) {
  const KeyRef key = Key("kinds");
  m_engine->SetValue(key, "text", RegType::Sz, "hello world\0"s);
  m_engine->SetValue(key, "expand", RegType::ExpandSz, "%HOME%\\x\0"s);
  m_engine->SetValue(key, "bytes", RegType::Binary, "\x01\x02\xff"s);
  m_engine->SetValue(key, "nothing", RegType::Binary, "");
  m_engine->SetValue(key, "count", RegType::Dword, Le32(0x12345678));
  m_engine->SetValue(key, "short dword", RegType::Dword, "\x01\x02"s);
  m_engine->SetValue(key, "list", RegType::MultiSz, "one\0two\0\0"s);
  m_engine->SetValue(key, "big", RegType::Qword, Le32(1) + Le32(2));
  m_engine->SetValue(key, "none", RegType::None, "\x00\x10"s);
  m_engine->SetValue(key, "other", 5, Le32(7));
  m_engine->SetValue(key, "", RegType::Sz, "default\0"s);  // listed first all the same
  m_engine->SetValue(key, "long", RegType::Binary, std::string(5000, '\xab'));

  Select("HKEY_CLASSES_ROOT\\kinds");
  QStringList rows = Values();
  ASSERT_EQ(rows.size(), 12);
  const QString longRow = rows.takeLast();
  EXPECT_EQ(rows, QStringList({
                      "(Default) | REG_SZ | default",
                      "text | REG_SZ | hello world",
                      "expand | REG_EXPAND_SZ | %HOME%\\x",
                      "bytes | REG_BINARY | 01 02 ff",
                      "nothing | REG_BINARY | (zero-length binary value)",
                      "count | REG_DWORD | 0x12345678 (305419896)",
                      "short dword | REG_DWORD | 01 02",
                      "list | REG_MULTI_SZ | one two",
                      "big | REG_QWORD | 0x0000000200000001 (8589934593)",
                      "none | REG_NONE | 00 10",
                      "other | 5 | 07 00 00 00",
                  }));
  // Long data shows its start only.
  EXPECT_TRUE(longRow.startsWith("long | REG_BINARY | ab ab ab"));
  EXPECT_TRUE(longRow.endsWith(" ..."));
  EXPECT_LT(longRow.size(), 4000);

  // Another key's values replace these.
  Select("HKEY_CLASSES_ROOT");
  EXPECT_TRUE(Values().isEmpty());
}

TEST_F(RegeditWindowTest, FindGoesThroughKeysValuesAndDataInTheTreesOrder) {
  Text(".alpha", "Content Type", "text/Needle");
  Key("beta\\needles");
  Text("gamma", "needleName", "x");
  Text("gamma", "other", "no needle here");
  Key("Software\\Needle", RootKey::CurrentUser);
  RegeditWindow& w = Window();

  FindQuery query{"needle"};
  ASSERT_TRUE(Find(query));
  EXPECT_EQ(Where(), "HKEY_CLASSES_ROOT\\.alpha : Content Type");  // data, any letter case
  ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_CLASSES_ROOT\\beta\\needles");  // a key's name
  ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_CLASSES_ROOT\\gamma : needleName");  // a value's name
  ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_CLASSES_ROOT\\gamma : other");  // the next value of the same key
  ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_CURRENT_USER\\Software\\Needle");
  // The classes again, as the tree shows them under HKEY_LOCAL_MACHINE.
  ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.alpha : Content Type");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\gamma : other");
  EXPECT_TRUE(w.findChild<QLabel*>("FindStatus")->text().isEmpty());
  // Past the end it goes on from the top, and says so.
  ASSERT_TRUE(FindNext());
  EXPECT_EQ(Where(), "HKEY_CLASSES_ROOT\\.alpha : Content Type");
  EXPECT_FALSE(w.findChild<QLabel*>("FindStatus")->text().isEmpty());
  EXPECT_TRUE(w.KeyTree->isExpanded(At("HKEY_CLASSES_ROOT")));

  // Where to look and how to match.
  Select("HKEY_CLASSES_ROOT");
  ASSERT_TRUE(Find(FindQuery{"needle", true, false, false}));
  EXPECT_EQ(Where(), "HKEY_CLASSES_ROOT\\beta\\needles");
  Select("HKEY_CLASSES_ROOT");
  ASSERT_TRUE(Find(FindQuery{"needle", true, false, false, true}));
  EXPECT_EQ(Where(), "HKEY_CURRENT_USER\\Software\\Needle");
  EXPECT_TRUE(m_boxes->Messages().empty());
}

TEST_F(RegeditWindowTest, FindThatMatchesNothingSaysSoAndLeavesTheSelection) {
  Text(".alpha", "Content Type", "text/plain");
  RegeditWindow& w = Window();
  Select("HKEY_CLASSES_ROOT\\.alpha");
  EXPECT_FALSE(Find(FindQuery{"nowhere"}));
  EXPECT_EQ(m_boxes->Messages(), std::vector<QString>{"\"nowhere\" was not found."});
  EXPECT_EQ(w.CurrentPath(), "HKEY_CLASSES_ROOT\\.alpha");
  EXPECT_FALSE(w.Searching());
  EXPECT_FALSE(w.StopFindAction->isEnabled());

  // The only match is where the search starts: it comes round to it again.
  m_engine->SetValue(Key("Software\\Only", RootKey::CurrentUser), "v", RegType::Sz, "unique\0"s);
  Select("HKEY_CURRENT_USER\\Software\\Only");
  w.ValueList->setCurrentItem(w.ValueList->topLevelItem(0));
  ASSERT_TRUE(Find(FindQuery{"unique", false, false, true}));
  EXPECT_EQ(Where(), "HKEY_CURRENT_USER\\Software\\Only : v");
  EXPECT_EQ(m_boxes->Messages().size(), 1u);
}

TEST_F(RegeditWindowTest, FindIsReachedFromTheKeyboardAndCanBeStopped) {
  for (int i = 0; i < 3000; ++i) Key("k" + std::to_string(i) + "\\sub");
  RegeditWindow& w = Window();
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(w.FindDialog->isVisible());
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.FindDialog));
  QTest::keyClicks(w.FindDialog->FindWhat, "k2999");
  EXPECT_TRUE(Find([&] { QTest::keyClick(w.FindDialog->FindWhat, Qt::Key_Return); }));
  EXPECT_FALSE(w.FindDialog->isVisible());
  EXPECT_EQ(w.CurrentPath(), "HKEY_CLASSES_ROOT\\k2999");

  // A search that has not finished yet stops on request and leaves the window as it was.
  Select("HKEY_CLASSES_ROOT");
  w.StartFind(FindQuery{"not anywhere"});
  EXPECT_TRUE(w.Searching());
  EXPECT_TRUE(w.StopFindAction->isEnabled());
  w.StopFindAction->trigger();
  EXPECT_FALSE(w.Searching());
  QTest::qWait(50);
  EXPECT_TRUE(m_boxes->Messages().empty());
  EXPECT_EQ(w.CurrentPath(), "HKEY_CLASSES_ROOT");
}

TEST_F(RegeditWindowTest, RefreshPicksUpChangesMadeElsewhere) {
  Text(".a", "Content Type", "text/a");
  Text(".a", "PerceivedType", "text");
  Key(".a\\OpenWithList");
  Key(".b");
  Key(".d");
  RegeditWindow& w = Window();
  Select("HKEY_CLASSES_ROOT\\.a\\OpenWithList");
  Select("HKEY_CLASSES_ROOT\\.a");
  w.ValueList->setCurrentItem(w.ValueList->topLevelItem(0));
  EXPECT_FALSE(w.Model().hasChildren(At("HKEY_CLASSES_ROOT\\.d")));

  {
    // Another program (another connection) changes the store.
    auto other = OpenSqliteStore(m_store.Path());
    const KeyRef classes = other->Root(RootKey::ClassesRoot);
    other->DeleteChild(classes, ".b");
    other->CreateChild(classes, ".c");
    other->CreateChild(classes, ".0");
    Key(*other, "HKCU-new", RootKey::CurrentUser);
    const KeyRef a = *other->FindChild(classes, ".a");
    other->SetValue(a, "Content Type", RegType::Sz, "text/changed\0"s);
    other->SetValue(a, "", RegType::Sz, "afile\0"s);
    Key(*other, ".d\\shell", RootKey::ClassesRoot);
  }
  const QModelIndex classes = w.Model().RootIndex(RootKey::ClassesRoot);
  EXPECT_EQ(Rows(classes), QStringList({".a", ".b", ".d"}));  // not yet
  w.RefreshAction->trigger();

  EXPECT_EQ(Rows(classes), QStringList({".0", ".a", ".c", ".d"}));
  const QModelIndex d = w.Model().index(3, 0, classes);
  EXPECT_EQ(d.data().toString(), ".d");  // shown again, so asked again
  EXPECT_TRUE(w.Model().hasChildren(d));
  EXPECT_TRUE(w.KeyTree->isExpanded(w.Model().index(1, 0, classes)));  // .a stays open
  EXPECT_EQ(w.CurrentPath(), "HKEY_CLASSES_ROOT\\.a");
  EXPECT_EQ(Values(),
            QStringList({"(Default) | REG_SZ | afile", "Content Type | REG_SZ | text/changed",
                         "PerceivedType | REG_SZ | text"}));
  EXPECT_EQ(SelectedValue(), "Content Type");  // the value selected stays selected
  EXPECT_EQ(Subkeys("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"), Rows(classes));

  // The selected key deleted elsewhere: the tree moves on and the list follows it.
  OpenSqliteStore(m_store.Path())->DeleteChild(m_engine->Root(RootKey::ClassesRoot), ".a");
  w.RefreshAction->trigger();
  EXPECT_EQ(Rows(classes), QStringList({".0", ".c", ".d"}));
  EXPECT_NE(w.CurrentPath(), "HKEY_CLASSES_ROOT\\.a");
  EXPECT_EQ(w.KeyPath->text(), w.CurrentPath());
  EXPECT_TRUE(Values().isEmpty());
  EXPECT_TRUE(m_boxes->Messages().empty());
}

TEST_F(RegeditWindowTest, ExportWritesTheSelectedKeyAsTheCommandLineDoes) {
  Text(".txt", "", "txtfile");
  Text(".txt\\ShellNew", "NullFile", "");
  Text("txtfile", "", "Text Document");
  TempDir dir;
  RegeditWindow& w = Window();
  Select("HKEY_CLASSES_ROOT\\.txt");
  ASSERT_TRUE(w.ExportKey(QString::fromStdString(dir.File("window.reg"))));
  std::ostringstream err;
  ASSERT_EQ(ExportRegFile(*m_engine, dir.File("line.reg"), "HKEY_CLASSES_ROOT\\.txt"s, err),
            kExitOk);
  EXPECT_EQ(test::ReadFile(dir.File("window.reg")), test::ReadFile(dir.File("line.reg")));
  EXPECT_NE(test::ReadFile(dir.File("window.reg")).find("[HKEY_CLASSES_ROOT\\.txt\\ShellNew]"),
            std::string::npos);

  EXPECT_FALSE(w.ExportKey(QString::fromStdString(dir.File("missing/dir/x.reg"))));
  ASSERT_EQ(m_boxes->Messages().size(), 1u);
  EXPECT_TRUE(m_boxes->Messages()[0].startsWith("cannot write"))
      << m_boxes->Messages()[0].toStdString();

  // The menu command asks for the file through the boxes; cancelling writes nothing.
  m_boxes->saveAnswers = {QString::fromStdString(dir.File("menu.reg"))};
  w.ExportAction->trigger();
  EXPECT_EQ(m_boxes->lastSaveRequest.initialPath, QDir::home().filePath(".txt.reg"));
  EXPECT_EQ(m_boxes->lastSaveRequest.defaultSuffix, "reg");
  EXPECT_EQ(test::ReadFile(dir.File("menu.reg")), test::ReadFile(dir.File("line.reg")));
  w.ExportAction->trigger();
  EXPECT_EQ(m_boxes->shown.back().kind, "save");
  EXPECT_EQ(m_boxes->Messages().size(), 1u);
}

// A store that cannot be written is browsed whole, and the status bar says it is read-only.
TEST_F(RegeditWindowTest, AReadOnlyStoreIsShownWithANote) {
  Text(".txt", "", "txtfile");
  EXPECT_FALSE(Window().ReadOnlyNote->isVisibleTo(&Window()));
  m_window.reset();
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  auto readOnly = OpenSqliteStore(m_store.Path());
  unsetenv("KESTROVA_STORE_READONLY");
  ASSERT_FALSE(readOnly->Writable());
  m_engine = readOnly;
  RegeditWindow& w = Window();
  EXPECT_TRUE(w.ReadOnlyNote->isVisibleTo(&w));
  EXPECT_EQ(w.ReadOnlyNote->text(), "The store is read-only.");
  Select("HKEY_CLASSES_ROOT\\.txt");
  ASSERT_EQ(w.ValueList->topLevelItemCount(), 1);
  EXPECT_EQ(w.ValueList->topLevelItem(0)->text(2), "txtfile");
  EXPECT_TRUE(m_boxes->Messages().empty());
}

}  // namespace
}  // namespace kestrova
