// One Wine registry file: the text format both ways, bytes kept where nothing changed, new
// keys and values placed as Wine places them, and damaged files read without harm.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/WineRegistryFile.h"
#include "store/RegistryEngine.h"
#include "tests/support/TestStore.h"

namespace kestrova::wine {
namespace {

using test::ReadFile;

std::string Data(const std::string& name) {
  return std::string(std::getenv("KESTROVA_SOURCE_DIR")) + "/tests/platform/data/wine/" + name;
}

// Wine's time for Unix second 1800000000 (and its FILETIME), so written files are known.
constexpr uint64_t kFixedTime = (1800000000ULL + 11644473600ULL) * 10000000ULL;
constexpr const char* kFixedLines = " 1800000000\n#time=1dda4c66b338000\n";
uint64_t FixedClock() { return kFixedTime; }

class FixedClockTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClock(&FixedClock); }
  void TearDown() override { SetClock(nullptr); }
};

uint32_t Path(RegistryFile& f, std::initializer_list<const char*> parts) {
  uint32_t n = f.Root();
  for (const char* p : parts) {
    n = f.FindChild(n, p);
    if (n == RegistryFile::kNone) return n;
  }
  return n;
}

const RegistryFile::Value* ValueOf(RegistryFile& f, uint32_t node, std::string_view name) {
  for (const auto& v : f.Values(node)) {
    if (CompareFolded(v.name, name) == 0) return &v;
  }
  return nullptr;
}

std::string Utf8(const char* s) { return s; }

TEST(WineFormat, ReadsEveryValueFormAndOddName) {
  RegistryFile f(ReadFile(Data("prefix/system.reg")), "system.reg");
  EXPECT_EQ(f.RelativeTo(), "REGISTRY\\Machine");
  const uint32_t doc = Path(f, {"Software", "Classes", "reftest.doc"});
  ASSERT_NE(doc, RegistryFile::kNone);
  EXPECT_EQ(f.Name(doc), "RefTest.Doc");  // the case it was written with
  EXPECT_EQ(ValueOf(f, doc, "EDITFLAGS")->type, RegType::Dword);
  EXPECT_EQ(ValueOf(f, doc, "EditFlags")->data, std::string("\0\0\1\0", 4));
  EXPECT_EQ(ValueOf(f, doc, "expand")->type, RegType::ExpandSz);
  EXPECT_EQ(ValueOf(f, doc, "expand")->data, std::string("%SystemRoot%\\x\0", 15));
  EXPECT_EQ(ValueOf(f, doc, "multi")->type, RegType::MultiSz);
  EXPECT_EQ(ValueOf(f, doc, "multi")->data, std::string("one\0two\0three\0\0", 15));
  std::string bytes;
  for (int i = 0; i < 26; ++i) bytes += static_cast<char>(i);
  EXPECT_EQ(ValueOf(f, doc, "bin")->data, bytes);  // continued over two lines
  EXPECT_EQ(ValueOf(f, doc, "none")->type, RegType::None);
  EXPECT_EQ(ValueOf(f, doc, "qword")->type, RegType::Qword);
  EXPECT_EQ(ValueOf(f, doc, "qword")->data, std::string("\1\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(ValueOf(f, doc, "custom")->type, 0x1234u);
  EXPECT_EQ(ValueOf(f, doc, "custom")->data, "\xff");
  // Odd-length UTF-16 text: the stray byte shows as a replacement character.
  EXPECT_EQ(ValueOf(f, doc, "odd")->data, Utf8("A\xef\xbf\xbd"));
  EXPECT_FALSE(f.IsLink(doc));

  const uint32_t clsid =
      Path(f, {"Software", "Classes", "CLSID", "{00000000-0000-0000-0000-000000000001}"});
  EXPECT_EQ(ValueOf(f, clsid, "")->data,
            Utf8("Quote \"and\" back\\slash\ttab caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac "
                 "\xf0\x9f\x98\x80") +
                std::string(1, '\0'));
  EXPECT_EQ(ValueOf(f, clsid,
                    Utf8("fr\xc3\xa9"
                         "d"))
                ->data,
            std::string("\x01"
                        "7 bell\a\0",
                        9));

  EXPECT_TRUE(f.IsLink(Path(f, {"Software", "Wow6432Node", "Classes"})));
  EXPECT_NE(Path(f, {"Software", "Odd", "q\"uote key"}), RegistryFile::kNone);
  EXPECT_NE(Path(f, {"Software", "Odd", "tab\tkey"}), RegistryFile::kNone);
  // A key with no block of its own, implied by its subkey's path.
  EXPECT_NE(Path(f, {"Software", "Odd", "Sub[1]", "Deep"}), RegistryFile::kNone);
  // Children in folded order: '*' and '.' before letters.
  std::vector<std::string> names;
  for (const uint32_t c : f.Children(Path(f, {"Software", "Classes"})))
    names.emplace_back(f.Name(c));
  EXPECT_EQ(names, (std::vector<std::string>{"*", ".kbq", "CLSID", "RefTest.Doc"}));
}

TEST(WineFormat, WritesValuesAsWineDoes) {
  EXPECT_EQ(FormatWineValue("", RegType::Sz, std::string("a\"b\\c\td\0", 8)),
            "@=\"a\\\"b\\\\c\\td\"\n");
  EXPECT_EQ(FormatWineValue("n\"x", RegType::ExpandSz, std::string("%A%\0", 4)),
            "\"n\\\"x\"=str(2):\"%A%\"\n");
  EXPECT_EQ(FormatWineValue("m", RegType::MultiSz, std::string("one\0two\0\0", 9)),
            "\"m\"=str(7):\"one\\0two\\0\"\n");
  EXPECT_EQ(FormatWineValue("d", RegType::Dword, std::string("\x78\x56\x34\x12", 4)),
            "\"d\"=dword:12345678\n");
  EXPECT_EQ(FormatWineValue("d", RegType::Dword, std::string("\1\2", 2)), "\"d\"=hex(4):01,02\n");
  EXPECT_EQ(FormatWineValue("e", RegType::Binary, ""), "\"e\"=hex:\n");
  // Text without its terminator is not written in quotes.
  EXPECT_EQ(FormatWineValue("u", RegType::Sz, "AB"), "\"u\"=hex(1):41,00,42,00\n");
  // \x is padded to four digits before an ASCII hex digit; octal to three before a digit.
  EXPECT_EQ(FormatWineValue("", RegType::Sz,
                            Utf8("caf\xc3\xa9|fr\xc3\xa9"
                                 "d|\x01"
                                 "7|\x01x") +
                                std::string(1, '\0')),
            "@=\"caf\\xe9|fr\\x00e9d|\\0017|\\1x\"\n");
  EXPECT_EQ(FormatWineValue("", RegType::Sz, Utf8("\xf0\x9f\x98\x80") + std::string(1, '\0')),
            "@=\"\\xd83d\\xde00\"\n");
  // Hex wraps after 76 columns: 23 bytes on the first line of "bin", 25 on the next.
  const std::string line = FormatWineValue("bin", RegType::Binary, std::string(48, '\x11'));
  EXPECT_EQ(
      line.substr(0, line.find('\n') + 1), "\"bin\"=hex:" + [] {
        std::string s;
        for (int i = 0; i < 23; ++i) s += "11,";
        return s + "\\\n";
      }());
  EXPECT_EQ(line.find("\n  ") + 3 + 25 * 3, line.find('\n', line.find('\n') + 1) + 1);

  // Every form reads back as written.
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
  } cases[] = {
      {"s", RegType::Sz, std::string("tab\t\"q\" caf\xc3\xa9 \xe6\x97\xa5\0", 19)},
      {"", RegType::ExpandSz, std::string("%x%\0", 4)},
      {"m\\", RegType::MultiSz, std::string("a\0b\0\0", 5)},
      {"q", RegType::Qword, std::string("\1\2\3\4\5\6\7\x08", 8)},
      {"b", RegType::Binary, std::string(100, '\xfe')},
      {"n", 0x1234, "x"},
      {"h", RegType::Sz, "no terminator"},
  };
  for (const Case& c : cases) {
    std::string name, data;
    uint32_t type = 0;
    ASSERT_TRUE(ParseWineValue(FormatWineValue(c.name, c.type, c.data), name, type, data));
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
}

TEST(WineFormat, KeyPathsAreEscapedAsWineDoes) {
  EXPECT_EQ(EscapeWine("Sub[1]", true), "Sub\\[1\\]");
  EXPECT_EQ(EscapeWine("q\"uote", true), "q\"uote");
  EXPECT_EQ(EscapeWine("tab\tkey", true), "tab\\tkey");
  EXPECT_EQ(EscapeWine("q\"uote", false), "q\\\"uote");
  EXPECT_EQ(EscapeWine("[x]", false), "[x]");
  // Wine's name order: lower case first, so '_' comes before letters.
  EXPECT_LT(CompareWineOrder("_x", "a"), 0);
  EXPECT_LT(CompareWineOrder("A1", "ab"), 0);
  EXPECT_LT(CompareWineOrder("ab", "B"), 0);
  EXPECT_LT(CompareFolded("a", "_x"), 0);  // the store's order differs
}

TEST(WinePreservation, UntouchedFilesAreWrittenByteForByte) {
  for (const char* name :
       {"prefix/system.reg", "prefix/user.reg", "prefix/userdef.reg", "broken/hostile.reg"}) {
    const std::string bytes = ReadFile(Data(name));
    RegistryFile f(bytes, name);
    f.Values(f.Root());
    EXPECT_FALSE(f.Changed());
    EXPECT_EQ(f.Serialize(), bytes) << name;
  }
}

TEST_F(FixedClockTest, OneChangedValueChangesItsLineAndTheKeysTimeOnly) {
  const std::string bytes = ReadFile(Data("prefix/system.reg"));
  RegistryFile f(bytes, "system.reg");
  const uint32_t kbq = Path(f, {"Software", "Classes", ".kbq"});
  f.SetValue(kbq, "content type", RegType::Sz, std::string("text/plain\0", 11));
  std::string expected = bytes;
  const std::string oldKey = " 1700000002\n#time=1da1747c7b10387\n";
  expected.replace(expected.find(oldKey), oldKey.size(), kFixedLines);
  const std::string oldValue = "\"Content Type\"=\"text/x-kbq\"\n";
  expected.replace(expected.find(oldValue), oldValue.size(), "\"Content Type\"=\"text/plain\"\n");
  const std::string written = f.Serialize();
  EXPECT_EQ(written, expected);
  f.Saved(FileBytes(written));
  EXPECT_FALSE(f.Changed());
  // The next change starts from the written text, with the value's new place.
  f.SetValue(kbq, "Content Type", RegType::Sz, std::string("text/x-kbq\0", 11));
  f.Values(kbq);
  std::string back = bytes;
  back.replace(back.find(oldKey), oldKey.size(), kFixedLines);
  EXPECT_EQ(f.Serialize(), back);
}

TEST_F(FixedClockTest, NewKeysAndValuesGoWhereWinePutsThem) {
  const std::string bytes = ReadFile(Data("prefix/system.reg"));
  RegistryFile f(bytes, "system.reg");
  const uint32_t classes = Path(f, {"Software", "Classes"});
  const uint32_t abc = f.CreateChild(classes, ".abc");
  f.SetValue(abc, "", RegType::Sz, std::string("Abc.Doc\0", 8));
  const uint32_t odd = Path(f, {"Software", "Odd"});
  f.CreateChild(odd, "R");  // an empty key: a block with no values
  const uint32_t kbq = Path(f, {"Software", "Classes", ".kbq"});
  f.SetValue(kbq, "Zed", RegType::Sz, std::string("z\0", 2));
  f.SetValue(kbq, "Alpha", RegType::Sz, std::string("a\0", 2));
  const std::string out = f.Serialize();
  const auto at = [&](const std::string& s) { return out.find(s); };
  EXPECT_LT(at("[Software\\\\Classes\\\\*]"), at("[Software\\\\Classes\\\\.abc]"));
  EXPECT_LT(at("[Software\\\\Classes\\\\.abc]"), at("[Software\\\\Classes\\\\.kbq]"));
  EXPECT_NE(out.find("\n\n[Software\\\\Classes\\\\.abc]" + std::string(kFixedLines) +
                     "@=\"Abc.Doc\"\n\n[Software\\\\Classes\\\\.kbq]"),
            std::string::npos);
  EXPECT_NE(
      out.find("[Software\\\\Odd\\\\R]" + std::string(kFixedLines) + "\n[Software\\\\Odd\\\\Sub"),
      std::string::npos);
  EXPECT_NE(out.find(kFixedLines + std::string("@=\"RefTest.Doc\"\n\"Alpha\"=\"a\"\n\"Content "
                                               "Type\"=\"text/x-kbq\"\n\"Zed\"=\"z\"\n")),
            std::string::npos);
  // The contract's order stays creation order for the values.
  std::vector<std::string> names;
  for (const auto& v : f.Values(kbq)) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"", "Content Type", "Zed", "Alpha"}));
  // Read back, the new file holds the same keys and values.
  RegistryFile again(out, "system.reg");
  EXPECT_EQ(ValueOf(again, Path(again, {"Software", "Classes", ".ABC"}), "")->data,
            std::string("Abc.Doc\0", 8));
  EXPECT_NE(Path(again, {"Software", "Odd", "r"}), RegistryFile::kNone);
}

TEST_F(FixedClockTest, DeletionsDropOnlyTheirLinesAndALeftLeafGetsABlock) {
  const std::string bytes = ReadFile(Data("prefix/system.reg"));
  RegistryFile f(bytes, "system.reg");
  const uint32_t doc = Path(f, {"Software", "Classes", "RefTest.Doc"});
  EXPECT_TRUE(f.DeleteValue(doc, "NONE"));
  EXPECT_FALSE(f.DeleteValue(doc, "none"));
  const uint32_t sub = Path(f, {"Software", "Odd", "Sub[1]"});
  f.DeleteChild(sub, Path(f, {"Software", "Odd", "Sub[1]", "Deep"}));
  const std::string out = f.Serialize();
  EXPECT_EQ(out.find("\"none\"=hex(0):"), std::string::npos);
  EXPECT_NE(out.find("#class=\"MyClass\"\n@=\"Reference document\"\n\"EditFlags\"=dword:00010000\n"
                     "\"expand\""),
            std::string::npos);
  EXPECT_EQ(out.find("Deep"), std::string::npos);
  // Sub[1] lost its only subkey: Wine writes an empty leaf as a block of its own.
  EXPECT_NE(out.find("\n\n[Software\\\\Odd\\\\Sub\\[1\\]]" + std::string(kFixedLines) +
                     "\n[Software\\\\Odd\\\\tab\\tkey]"),
            std::string::npos);
  // Everything else is as it was.
  std::string rest = out;
  for (const char* gone : {"\"none\"=hex(0):\n"}) EXPECT_EQ(rest.find(gone), std::string::npos);
  EXPECT_NE(out.find("[Software\\\\Wow6432Node\\\\Classes] 1700000009\n"), std::string::npos);
}

TEST(WinePreservation, UndoRestoresTheFileAsItWas) {
  const std::string bytes = ReadFile(Data("prefix/system.reg"));
  RegistryFile f(bytes, "system.reg");
  const std::size_t mark = f.UndoMark();
  const uint32_t classes = Path(f, {"Software", "Classes"});
  const uint32_t n = f.CreateChild(classes, ".new");
  f.SetValue(n, "", RegType::Sz, std::string("x\0", 2));
  f.DeleteChild(classes, Path(f, {"Software", "Classes", ".kbq"}));
  f.SetValue(Path(f, {"Software", "Classes", "*"}), "", RegType::Sz, std::string("y\0", 2));
  EXPECT_TRUE(f.Changed());
  f.UndoTo(mark);
  EXPECT_FALSE(f.Changed());
  EXPECT_EQ(Path(f, {"Software", "Classes", ".new"}), RegistryFile::kNone);
  EXPECT_NE(Path(f, {"Software", "Classes", ".kbq"}), RegistryFile::kNone);
  EXPECT_EQ(f.Serialize(), bytes);
}

TEST(WineHostile, DamagedLinesAreSkippedAsWineSkipsThem) {
  const std::string bytes = ReadFile(Data("broken/hostile.reg"));
  RegistryFile f(bytes, "hostile.reg");
  // The root's own block ("[]") holds its value; the value before any key belongs to none.
  ASSERT_EQ(f.Values(f.Root()).size(), 1u);
  EXPECT_EQ(f.Values(f.Root())[0].data, std::string("root value\0", 11));
  const uint32_t ok = Path(f, {"Software", "Ok"});
  ASSERT_NE(ok, RegistryFile::kNone);
  for (const char* broken : {"huge", "longdword", "open", "cont"}) {
    ASSERT_NE(ValueOf(f, ok, broken), nullptr) << broken;
    EXPECT_EQ(ValueOf(f, ok, broken)->type, RegType::None) << broken;
    EXPECT_EQ(ValueOf(f, ok, broken)->data, "") << broken;
  }
  EXPECT_EQ(ValueOf(f, ok, "raw")->data, Utf8("caf\xc3\xa9 \xef\xbf\xbd bytes") + '\0');
  EXPECT_EQ(ValueOf(f, ok, "dup")->data, std::string("second\0", 7));
  EXPECT_EQ(ValueOf(f, ok, "again")->data, std::string("merged\0", 7));  // a block named twice
  // A continued line is no key line, and an unterminated key line makes no key.
  std::vector<std::string> names;
  for (const uint32_t c : f.Children(Path(f, {"Software"}))) names.emplace_back(f.Name(c));
  EXPECT_EQ(names, (std::vector<std::string>{"Escapex", "Ok"}));
  EXPECT_EQ(ValueOf(f, Path(f, {"Software", "Escapex"}), "end")->data, "\x01");

  // A change keeps every other line, CR LF and all.
  f.SetValue(Path(f, {"Software", "Escapex"}), "new", RegType::Dword, std::string(4, '\0'));
  const std::string out = f.Serialize();
  EXPECT_EQ(out.substr(0, bytes.find("[Software\\\\Escape")),
            bytes.substr(0, bytes.find("[Software\\\\Escape")));
}

TEST(WineHostile, AFileWineRefusesIsRefused) {
  try {
    RegistryFile f(ReadFile(Data("broken/bad-header.reg")), "bad-header.reg");
    FAIL() << "read a file with a wrong header";
  } catch (const StoreOpenError& e) {
    EXPECT_EQ(e.Kind(), StoreErrorKind::Damaged);
    EXPECT_NE(std::string(e.what()).find("bad-header.reg"), std::string::npos);
  }
  EXPECT_THROW(RegistryFile(std::string(), "empty.reg"), StoreOpenError);
}

}  // namespace
}  // namespace kestrova::wine
