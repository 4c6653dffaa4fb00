// AssocLookup: the DefaultIcon forms, the same-text shortcut, the ProgID retry, the stock
// icon in every case that finds none, and errors that arrive after it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/IconSourceFactory.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "store/IconLookup.h"
#include "store/RegistryRules.h"
#include "tests/support/ScriptedIconSource.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using Call = ScriptedIconSource::Call;

constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kGreen = 0xff00ff00;
constexpr QRgb kDocument = 0xff101010;
constexpr QRgb kProgram = 0xff202020;

TEST(ParseDefaultIcon, ReadsEveryFormOfTheValue) {
  struct Row {
    std::string stored;
    std::string file;
    int32_t index;
  };
  const std::vector<Row> rows = {
      {"C:\\Apps\\view.exe,2", "C:\\Apps\\view.exe", 2},
      {"C:\\Apps\\view.exe", "C:\\Apps\\view.exe", 0},
      {"C:\\WINDOWS\\system32\\shell32.dll,-154", "C:\\WINDOWS\\system32\\shell32.dll", -154},
      {"view.dll, 3", "view.dll", 3},
      {"view.dll,3 ", "view.dll,3 ", 0},
      {"view.dll,$1A", "view.dll", 26},
      {"view.dll,7,9", "view.dll", 7},
      {"my,view.dll,9", "my,view.dll", 0},
      {"%1", "%1", 0},
      // Prefixes and signs of the number.
      {"v.dll,x1a", "v.dll", 26},
      {"v.dll,0X1F", "v.dll", 31},
      {"v.dll,-$10", "v.dll", -16},
      {"v.dll,+5", "v.dll", 5},
      {"v.dll,   -0", "v.dll", 0},
      {",4", "", 4},
      // Unreadable: the whole text is the file.
      {"v.dll,", "v.dll,", 0},
      {"v.dll,$", "v.dll,$", 0},
      {"v.dll,0x", "v.dll,0x", 0},
      {"v.dll,-", "v.dll,-", 0},
      {"v.dll,\t3", "v.dll,\t3", 0},
      {"v.dll,3a", "v.dll,3a", 0},
      {"v.dll,$1G", "v.dll,$1G", 0},
      {"v.dll,- 3", "v.dll,- 3", 0},
      // The 32-bit range, and the unreadable mark itself.
      {"v.dll,2147483647", "v.dll", std::numeric_limits<int32_t>::max()},
      {"v.dll,-2147483648", "v.dll", std::numeric_limits<int32_t>::min()},
      {"v.dll,2147483648", "v.dll,2147483648", 0},
      {"v.dll,99999999999999999999", "v.dll,99999999999999999999", 0},
      {"v.dll,$FFFFFFFF", "v.dll,$FFFFFFFF", 0},
      {"v.dll,-65535", "v.dll,-65535", 0},
  };
  for (const Row& row : rows) {
    const IconLocation parsed = ParseDefaultIcon(row.stored);
    EXPECT_EQ(parsed.file, row.file) << row.stored;
    EXPECT_EQ(parsed.index, row.index) << row.stored;
  }
}

class IconLookupTest : public ::testing::Test {
 protected:
  IconLookupTest() : m_source(std::make_shared<ScriptedIconSource>()), m_lookup(m_source) {
    m_source->SetStock(IconSource::kStockDocument, ScriptedIconSource::Solid(kDocument));
    m_source->SetStock(IconSource::kStockApplication, ScriptedIconSource::Solid(kProgram));
  }

  static void Put(const std::string& path, const std::string& text) {
    test::WriteText(path, layout::DefaultValueName, text);
  }
  // A default value of a raw type, as other programs store them.
  void PutRaw(const std::string& path, uint32_t type, const std::string& data) {
    Put(path, "");
    auto engine = m_store.Engine();
    KeyRef key = engine->Root(RootKey::ClassesRoot);
    std::vector<std::string_view> parts;
    ASSERT_TRUE(SplitKeyPath(std::string_view(path).substr(1), parts)) << path;
    for (const auto part : parts) key = *engine->FindChild(key, part);
    engine->SetValue(key, layout::DefaultValueName, type, data);
  }
  // ".txt" -> "txtfile" -> DefaultIcon `icon`.
  void TextFileType(const std::string& icon) {
    Put(layout::ExtKey("txt"), "txtfile");
    Put(layout::DefaultIconKey("txtfile"), icon);
  }

  QRgb LargeColour() const {
    return m_lookup.LargeIcon().isNull() ? 0 : m_lookup.LargeIcon().pixel(0, 0);
  }
  QRgb SmallColour() const {
    return m_lookup.SmallIcon().isNull() ? 0 : m_lookup.SmallIcon().pixel(0, 0);
  }

  test::TestStore m_store;
  std::shared_ptr<ScriptedIconSource> m_source;
  AssocLookup m_lookup;
};

TEST_F(IconLookupTest, FindsTheIconThroughTheFileType) {
  TextFileType("C:\\Apps\\view.exe,-3");
  m_source->SetIcon("C:\\Apps\\view.exe", -3, ScriptedIconSource::Solid(kRed));
  m_lookup.SetExtension("txt");
  EXPECT_EQ(m_lookup.Extension(), ".txt");
  EXPECT_EQ(m_lookup.ExtDescription(), "txtfile");
  EXPECT_EQ(m_lookup.IconFile(), "C:\\Apps\\view.exe");
  EXPECT_EQ(m_lookup.IconIndex(), -3);
  EXPECT_EQ(LargeColour(), kRed);
  EXPECT_EQ(SmallColour(), kRed);
  EXPECT_EQ(m_source->Calls(), (std::vector<Call>{{"C:\\Apps\\view.exe", -3, false}}));
}

TEST_F(IconLookupTest, SameTextAgainReadsNothing) {
  TextFileType("old.ico");
  m_source->SetIcon("old.ico", 0, ScriptedIconSource::Solid(kRed));
  m_source->SetIcon("new.ico", 0, ScriptedIconSource::Solid(kGreen));
  m_lookup.SetExtension(".txt");
  Put(layout::DefaultIconKey("txtfile"), "new.ico");
  m_lookup.SetExtension(".txt");
  EXPECT_EQ(m_source->Calls().size(), 1u);
  EXPECT_EQ(m_lookup.IconFile(), "old.ico");
  EXPECT_EQ(LargeColour(), kRed);

  // The comparison is byte for byte, before the dot is added: these look up again.
  m_lookup.SetExtension("txt");
  EXPECT_EQ(m_lookup.IconFile(), "new.ico");
  m_lookup.SetExtension(".TXT");
  EXPECT_EQ(m_lookup.Extension(), ".TXT");
  EXPECT_EQ(m_source->Calls().size(), 3u);
  EXPECT_EQ(LargeColour(), kGreen);
}

TEST_F(IconLookupTest, DotOrNothingClearsEverythingAndReadsNothing) {
  TextFileType("a.ico,1");
  m_source->SetIcon("a.ico", 1, ScriptedIconSource::Solid(kRed));
  m_lookup.SetExtension(".txt");
  for (const char* text : {".", ""}) {
    m_source->ClearCalls();
    m_lookup.SetExtension(text);
    EXPECT_EQ(m_lookup.Extension(), text);
    EXPECT_EQ(m_lookup.ExtDescription(), "");
    EXPECT_EQ(m_lookup.IconFile(), "");
    EXPECT_EQ(m_lookup.IconIndex(), 0);
    EXPECT_TRUE(m_lookup.LargeIcon().isNull());
    EXPECT_TRUE(m_lookup.SmallIcon().isNull());
    EXPECT_TRUE(m_source->Calls().empty()) << "no stock icon for '" << text << "'";
  }
}

TEST_F(IconLookupTest, StockIconWheneverNoIconIsFound) {
  Put(layout::ExtKey("noprogid"), "");
  Put(layout::ExtKey("dangling"), "gone");
  Put(layout::ExtKey("bare"), "barefile");
  Put(layout::ProgIdKey("barefile"), "A file type with no DefaultIcon");
  Put(layout::ExtKey("blank"), "blankfile");
  Put(layout::DefaultIconKey("blankfile"), "");
  Put(layout::ExtKey("arg"), "argfile");
  Put(layout::DefaultIconKey("argfile"), "%1");
  struct Case {
    const char* ext;
    const char* description;
    const char* iconFile;
  };
  const std::vector<Case> cases = {
      {".nokey", "", ""},        {".noprogid", "", ""},       {".dangling", "gone", ""},
      {".bare", "barefile", ""}, {".blank", "blankfile", ""}, {".arg", "argfile", "%1"},
  };
  for (const Case& c : cases) {
    m_source->ClearCalls();
    m_lookup.SetExtension(c.ext);
    EXPECT_EQ(m_lookup.ExtDescription(), c.description) << c.ext;
    EXPECT_EQ(m_lookup.IconFile(), c.iconFile) << c.ext;
    EXPECT_EQ(m_lookup.IconIndex(), 0) << c.ext;
    EXPECT_EQ(LargeColour(), kDocument) << c.ext;
    EXPECT_EQ(SmallColour(), kDocument) << c.ext;
    ASSERT_FALSE(m_source->Calls().empty());
    EXPECT_EQ(m_source->Calls().back(), (Call{"", IconSource::kStockDocument, true})) << c.ext;
  }
}

TEST_F(IconLookupTest, ProgramsGetTheApplicationStockIconInAnyLetterCase) {
  for (const char* ext : {".exe", ".EXE", "eXe"}) {
    m_lookup.SetExtension(ext);
    EXPECT_EQ(LargeColour(), kProgram) << ext;
  }
  for (const char* ext : {".com", ".bat", ".exe2", ".ex"}) {
    m_lookup.SetExtension(ext);
    EXPECT_EQ(LargeColour(), kDocument) << ext;
  }
  // A stock icon that cannot be had leaves the icons empty.
  auto empty = std::make_shared<ScriptedIconSource>();
  AssocLookup lookup(empty);
  lookup.SetExtension(".exe");
  EXPECT_TRUE(lookup.LargeIcon().isNull());
  EXPECT_TRUE(lookup.SmallIcon().isNull());
}

TEST_F(IconLookupTest, ProgIdThatIsAPathIsRetriedAsItStands) {
  // "\" + "\Outer" names no key (an empty first component); the ProgID alone names Outer.
  Put(layout::ExtKey("odd"), "\\Outer");
  Put(layout::DefaultIconKey("Outer"), "outer.ico,2");
  // A ProgID with a backslash inside addresses a deeper key directly.
  Put(layout::ExtKey("deep"), "Vendor\\Type");
  Put(layout::DefaultIconKey("Vendor\\Type"), "deep.ico");
  m_source->SetIcon("outer.ico", 2, ScriptedIconSource::Solid(kRed));
  m_source->SetIcon("deep.ico", 0, ScriptedIconSource::Solid(kGreen));

  m_lookup.SetExtension(".odd");
  EXPECT_EQ(m_lookup.ExtDescription(), "\\Outer");
  EXPECT_EQ(m_lookup.IconFile(), "outer.ico");
  EXPECT_EQ(LargeColour(), kRed);
  m_lookup.SetExtension(".deep");
  EXPECT_EQ(LargeColour(), kGreen);
}

TEST_F(IconLookupTest, ExpandableTextIsPassedOnUnexpanded) {
  Put(layout::ExtKey("cfg"), "cfgfile");
  PutRaw(layout::DefaultIconKey("cfgfile"), RegType::ExpandSz,
         std::string("%SystemRoot%\\x.dll,4\0", 21));
  m_lookup.SetExtension(".cfg");
  EXPECT_EQ(m_lookup.IconFile(), "%SystemRoot%\\x.dll");
  EXPECT_EQ(m_lookup.IconIndex(), 4);
  EXPECT_EQ(m_source->Calls().front(), (Call{"%SystemRoot%\\x.dll", 4, false}));
}

TEST_F(IconLookupTest, StoreErrorsArriveAfterTheStockIcon) {
  Put(layout::ExtKey("bin"), "binfile");
  PutRaw(layout::DefaultIconKey("binfile"), RegType::Dword, std::string("\1\0\0\0", 4));
  PutRaw(layout::ExtKey("num"), RegType::Dword, std::string("\1\0\0\0", 4));
  TextFileType("a.ico");
  m_source->SetIcon("a.ico", 0, ScriptedIconSource::Solid(kRed));
  m_lookup.SetExtension(".txt");

  try {
    m_lookup.SetExtension(".bin");
    FAIL() << "nothing raised";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for ''");
  }
  EXPECT_EQ(m_lookup.ExtDescription(), "binfile") << "what was read before the failure stays";
  EXPECT_EQ(m_lookup.IconFile(), "");
  EXPECT_EQ(LargeColour(), kDocument);

  EXPECT_THROW(m_lookup.SetExtension(".num"), ERegistryException);
  EXPECT_EQ(m_lookup.ExtDescription(), "");
  EXPECT_EQ(LargeColour(), kDocument);
  // The failed extension is held: setting it again is the shortcut, and raises nothing.
  EXPECT_NO_THROW(m_lookup.SetExtension(".num"));
}

TEST_F(IconLookupTest, ShownIconOutlivesTheNextLookup) {
  TextFileType("a.ico");
  m_source->SetIcon("a.ico", 0, ScriptedIconSource::Solid(kRed));
  m_lookup.SetExtension(".txt");
  // The window keeps its own reference, as the icon box does.
  const QImage shown = m_lookup.LargeIcon();
  const qint64 key = shown.cacheKey();
  m_source.reset();  // the source's table no longer holds it either
  m_lookup.SetExtension(".none");
  m_lookup.SetExtension(".");
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.cacheKey(), key);
  EXPECT_EQ(shown.pixel(5, 5), kRed);
}

std::shared_ptr<RegistryEngine> g_readOnlyEngine;

TEST_F(IconLookupTest, ReadsThroughAReadOnlyStore) {
  TextFileType("a.ico");
  m_source->SetIcon("a.ico", 0, ScriptedIconSource::Solid(kRed));
  // An engine that refuses full access: a lookup asking for it would find no key.
  setenv("KESTROVA_STORE_READONLY", "1", 1);
  g_readOnlyEngine = OpenSqliteStore(m_store.Path());
  unsetenv("KESTROVA_STORE_READONLY");
  ASSERT_FALSE(g_readOnlyEngine->Writable());
  SetEngineFactory([] { return g_readOnlyEngine; });
  m_lookup.SetExtension(".txt");
  UseSqliteStore(m_store.Path());
  g_readOnlyEngine.reset();
  EXPECT_EQ(LargeColour(), kRed);
}

TEST(IconSourcePick, TheInstalledFactoryServesNewLookups) {
  static std::shared_ptr<ScriptedIconSource> scripted;
  scripted = std::make_shared<ScriptedIconSource>();
  scripted->SetStock(IconSource::kStockDocument, ScriptedIconSource::Solid(kGreen));
  SetIconSourceFactory([]() -> std::shared_ptr<IconSource> { return scripted; });
  test::TestStore store;
  AssocLookup lookup(AcquireIconSource());
  lookup.SetExtension(".nothing");
  SetIconSourceFactory(nullptr);
  EXPECT_EQ(scripted->Calls().size(), 1u);
  EXPECT_EQ(lookup.LargeIcon().pixel(0, 0), kGreen);
  scripted.reset();
}

}  // namespace
}  // namespace kestrova
