// The .reg reader and writer on their own: bytes in, operations out; values in, text out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/RegistryRules.h"
#include "tools/RegReader.h"
#include "tools/RegRoots.h"
#include "tools/RegWriter.h"

namespace kestrova {
namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ',';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Writes each operation as one line of text, so that a test compares what it expects at a
// glance.
class Recorder : public RegSink {
 public:
  std::vector<std::string> ops;
  std::vector<std::string> skips;
  std::vector<uint64_t> skipLines;
  std::vector<std::string> warnings;
  std::vector<std::string> incomplete;
  std::vector<std::string> refused;

  void OpenKey(RootKey root, std::string_view path, uint64_t line) override {
    ops.push_back("open " + std::string(RegRootName(root)) + "\\" + std::string(path) + " @" +
                  std::to_string(line));
  }
  void DeleteKey(RootKey root, std::string_view path, uint64_t line) override {
    ops.push_back("delete " + std::string(RegRootName(root)) + "\\" + std::string(path) + " @" +
                  std::to_string(line));
  }
  void SetValue(std::string_view name, uint32_t type, std::string_view data,
                uint64_t line) override {
    ops.push_back("set '" + std::string(name) + "' " + std::to_string(type) + " [" + Hex(data) +
                  "] @" + std::to_string(line));
  }
  void DeleteValue(std::string_view name, uint64_t line) override {
    ops.push_back("unset '" + std::string(name) + "' @" + std::to_string(line));
  }
  void ValueTooLarge(std::string_view name, uint64_t line) override {
    ops.push_back("too large '" + std::string(name) + "' @" + std::to_string(line));
  }
  void Skipped(uint64_t line, std::string_view reason) override {
    skips.push_back(std::to_string(line) + ": " + std::string(reason));
    skipLines.push_back(line);
  }
  void Warning(uint64_t line, std::string_view message) override {
    warnings.push_back(std::to_string(line) + ": " + std::string(message));
  }
  void Incomplete(uint64_t line, std::string_view message) override {
    incomplete.push_back(std::to_string(line) + ": " + std::string(message));
  }
  void Refused(uint64_t line, std::string_view reason) override {
    refused.push_back(std::to_string(line) + ": " + std::string(reason));
  }
};

struct Parsed {
  RegFormat format;
  Recorder rec;
};

Parsed Parse(std::string_view text) {
  Parsed p;
  p.format = ParseRegBytes(text, p.rec);
  return p;
}

std::string Utf16(std::string_view ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST(RegReader, RecognisesOnlyTheHeadersRegistryEditorsAccept) {
  const std::string body = "\r\n[HKEY_CURRENT_USER\\k]\r\n@=\"v\"\r\n";
  EXPECT_EQ(Parse("REGEDIT4" + body).format, RegFormat::Regedit4);
  EXPECT_EQ(Parse(" \tREGEDIT4" + body).format, RegFormat::Regedit4);
  EXPECT_EQ(Parse("Windows Registry Editor Version 5.00" + body).format, RegFormat::Version5);
  EXPECT_EQ(Parse("\xEF\xBB\xBFREGEDIT4" + body).format, RegFormat::Regedit4);
  EXPECT_EQ(Parse(Utf16("Windows Registry Editor Version 5.00" + body)).format,
            RegFormat::Version5);
  EXPECT_EQ(Parse("REGEDIT\r\n").format, RegFormat::Win31);
  for (std::string bad :
       {"regedit4", "REGEDIT4FOO", "REGEDIT 4", "REGEDIT5", "Windows Registry Editor Version 4.00",
        "\nREGEDIT4", "", "; c\nREGEDIT4"}) {
    Parsed p = Parse(bad + body);
    EXPECT_EQ(p.format, RegFormat::Unrecognised) << bad;
    EXPECT_TRUE(p.rec.ops.empty()) << bad;
  }
  // Big-endian UTF-16 is not a registry script.
  EXPECT_EQ(Parse("\xFE\xFF\0R\0E").format, RegFormat::Unrecognised);
}

TEST(RegReader, ReadsKeysValuesAndDeletionsInFileOrder) {
  Parsed p = Parse(
      "REGEDIT4\n"
      "  ; comment\n"
      "\t[HKEY_CLASSES_ROOT\\.txt]\n"
      "   @ = \"txtfile\"  ; trailing comment\n"
      "\"Content Type\"=\"text/plain\"\n"
      "\"a\\\"b\\\\c=d\"=dword:1f\n"
      "\"gone\" = - ;bye\n"
      "[hkey_current_user\\Soft]ware\\x \\]\n"
      "\"\"=hex(0):\n"
      "[-HKEY_CURRENT_USER\\Old\\Tree]\n");
  EXPECT_EQ(p.format, RegFormat::Regedit4);
  const std::vector<std::string> expected = {
      "open HKEY_CLASSES_ROOT\\.txt @3",
      "set '' 1 [74,78,74,66,69,6c,65,00] @4",
      "set 'Content Type' 1 [74,65,78,74,2f,70,6c,61,69,6e,00] @5",
      "set 'a\"b\\c=d' 4 [1f,00,00,00] @6",
      "unset 'gone' @7",
      "open HKEY_CURRENT_USER\\Soft]ware\\x  @8",
      "set '' 0 [] @9",
      "delete HKEY_CURRENT_USER\\Old\\Tree @10",
  };
  EXPECT_EQ(p.rec.ops, expected);
  EXPECT_TRUE(p.rec.skips.empty());
}

TEST(RegReader, AcceptsCrLfAndCrLineEndsSplitAnywhere) {
  const std::string text =
      "REGEDIT4\r\r\n[HKEY_CURRENT_USER\\k]\r\"a\"=hex:01,\\\r\n\r\n  ;c\r  02\n\"b\"=\"x\"";
  Parsed whole = Parse(text);
  const std::vector<std::string> expected = {"open HKEY_CURRENT_USER\\k @3", "set 'a' 3 [01,02] @4",
                                             "set 'b' 1 [78,00] @8"};
  EXPECT_EQ(whole.rec.ops, expected);
  // Chunk boundaries (inside CRLF, inside a BOM, inside a UTF-16 unit) change nothing.
  for (const std::string& input : {text, Utf16(text)}) {
    Recorder rec;
    RegParser parser(rec);
    for (char c : input) parser.Feed(std::string_view(&c, 1));
    parser.Finish();
    EXPECT_EQ(rec.ops, expected);
  }
}

TEST(RegReader, HexContinuationFollowsTheRegistryEditorsRules) {
  Parsed p = Parse(
      "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n"
      "\"a\"=hex(2):\\\n  41,42\n"      // all data on the next line; terminator added
      "\"b\"=hex(7):61,00,\\ ;c\n62\n"  // comment after the backslash
      "\"c\"=hex:01,\\\n# not hex\n"    // broken off: skipped
      "\"d\"=hex:01,\\\n,02\n"          // a leading comma breaks it off too
      "\"e\"=hex:01,\\\n[HKEY_CURRENT_USER\\next]\n\"f\"=\"in next\"\n"
      "\"g\"=hex:05,06,\\");  // end of file after the backslash keeps the bytes
  const std::vector<std::string> expected = {"open HKEY_CURRENT_USER\\k @2",
                                             "set 'a' 2 [41,42,00] @3",
                                             "set 'b' 7 [61,00,62,00] @5",
                                             "open HKEY_CURRENT_USER\\next @12",
                                             "set 'f' 1 [69,6e,20,6e,65,78,74,00] @13",
                                             "set 'g' 3 [05,06] @14"};
  EXPECT_EQ(p.rec.ops, expected);
  // The broken values are reported at their own lines, the non-hex lines at theirs.
  EXPECT_EQ(p.rec.skipLines, (std::vector<uint64_t>{7, 8, 9, 10, 11}));
}

TEST(RegReader, SkipsAndReportsEveryMalformedLine) {
  const std::vector<std::string> bad = {"\"a\"=dword:0x1",
                                        "\"a\"=dword:123456789",
                                        "\"a\"=dword:",
                                        "\"a\"=dword:1 #c",
                                        "\"a\"=hex(0x2):00",
                                        "\"a\"=hex(100000000):00",
                                        "\"a\"=hex:100",
                                        "\"a\"=hex:01 ,02",
                                        "\"a\"=hex:01,02\\",
                                        "\"a\"=\"x\" #c",
                                        "\"a\"=\"x\\0y\"",
                                        "\"a\"=\"open",
                                        "\"a\"=-\"x\"",
                                        "\"a\"=- #c",
                                        "\"a\"=",
                                        "\"a\" \"x\"",
                                        "\"a\"=str:\"x\"",
                                        "@x=\"y\"",
                                        "Name=\"no quotes\"",
                                        "#hash",
                                        "\"a\"=HEX:01",
                                        "\"a\"=hex(000000001):00"};
  for (const std::string& line : bad) {
    Parsed p = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n" + line + "\n\"ok\"=dword:2\n");
    ASSERT_EQ(p.rec.skipLines, std::vector<uint64_t>{3}) << line;
    ASSERT_EQ(p.rec.ops.size(), 2u) << line;
    EXPECT_EQ(p.rec.ops[1], "set 'ok' 4 [02,00,00,00] @4") << line;
  }
}

TEST(RegReader, ValuesOfAnUnreadableKeyLineAreDroppedNotGivenToThePreviousKey) {
  for (std::string keyLine : {"[HKEY_CURRENT_USERS\\x]", "[ HKEY_CURRENT_USER\\x]",
                              "[HKEY_CURRENT_USER\\x", "[HKEY_CURRENT_USER\\a\\\\b]"}) {
    Parsed p = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n" + keyLine +
                     "\n\"a\"=\"1\"\n@=-\n[-HKEY_CURRENT_USER\\gone]\n\"b\"=\"2\"\n");
    EXPECT_EQ(p.rec.ops, (std::vector<std::string>{"open HKEY_CURRENT_USER\\k @2",
                                                   "delete HKEY_CURRENT_USER\\gone @6"}))
        << keyLine;
    EXPECT_EQ(p.rec.skipLines, (std::vector<uint64_t>{3, 4, 5, 7})) << keyLine;
  }
  Parsed early = Parse("REGEDIT4\n\"a\"=\"1\"\n[-HKEY_CLASSES_ROOT]\n");
  EXPECT_TRUE(early.rec.ops.empty());
  EXPECT_EQ(early.rec.skipLines, (std::vector<uint64_t>{2, 3}));
}

TEST(RegReader, TrailingBackslashesOfAKeyAreDropped) {
  Parsed p = Parse("REGEDIT4\n[HKEY_USERS\\a\\b\\\\]\n[HKEY_CURRENT_CONFIG\\]\n");
  EXPECT_EQ(p.rec.ops, (std::vector<std::string>{"open HKEY_USERS\\a\\b @2",
                                                 "open HKEY_CURRENT_CONFIG\\ @3"}));
}

TEST(RegReader, EscapesInQuotes) {
  Parsed p = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"x\\r\\ny\"=\"D:\\Projects\\q\"\n");
  ASSERT_EQ(p.rec.ops.size(), 2u);
  EXPECT_EQ(p.rec.ops[1], "set 'x\r\ny' 1 [44,3a,50,72,6f,6a,65,63,74,73,71,00] @3");
  // An unknown escape keeps its character, as registry editors do, with a warning.
  EXPECT_EQ(p.rec.warnings.size(), 2u);
  EXPECT_TRUE(p.rec.skips.empty());
}

TEST(RegReader, Version5TextInHexIsUtf16) {
  const std::string body =
      "\r\n[HKEY_CURRENT_USER\\k]\r\n"
      "\"e\"=hex(2):25,00,e9,00,3d,d8,00,de,00,00\r\n"  // "%é😀" with terminator
      "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"u\"=hex(2):41,00,42,00\r\n"  // no terminator: one is added
      "\"s\"=hex(1):41,00\r\n"        // "A", no terminator added to REG_SZ
      "\"8\"=hex(2):40,25,31,00\r\n"  // 8-bit text in a v5 file
      "\"o\"=hex(2):41,42,43\r\n"     // odd size: cannot be UTF-16
      "\"b\"=hex:41,00\r\n";
  const std::vector<std::string> expected = {"open HKEY_CURRENT_USER\\k @2",
                                             "set 'e' 2 [25,c3,a9,f0,9f,98,80,00] @3",
                                             "set 'm' 7 [61,00,62,00,00] @4",
                                             "set 'u' 2 [41,42,00] @5",
                                             "set 's' 1 [41] @6",
                                             "set '8' 2 [40,25,31,00] @7",
                                             "set 'o' 2 [41,42,43,00] @8",
                                             "set 'b' 3 [41,00] @9"};
  EXPECT_EQ(Parse("Windows Registry Editor Version 5.00" + body).rec.ops, expected);
  // In a REGEDIT4 file the same bytes are 8-bit text (which already ends in a NUL).
  Parsed four = Parse("REGEDIT4\r\n[HKEY_CURRENT_USER\\k]\r\n\"u\"=hex(2):41,00,42,00\r\n");
  EXPECT_EQ(four.rec.ops[1], "set 'u' 2 [41,00,42,00] @3");

  // One UTF-16 character is text, never a raw byte; an unpaired surrogate is no text.
  Parsed one = Parse(
      "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\k]\r\n"
      "\"e\"=hex(2):e9,00\r\n\"s\"=hex(1):e9,00\r\n\"lone\"=hex(2):41,00,00,d8,42,00\r\n"
      "\"after\"=dword:1\r\n");
  EXPECT_EQ(one.rec.ops,
            (std::vector<std::string>{"open HKEY_CURRENT_USER\\k @2", "set 'e' 2 [c3,a9,00] @3",
                                      "set 's' 1 [c3,a9] @4", "set 'after' 4 [01,00,00,00] @6"}));
  EXPECT_EQ(one.rec.skipLines, std::vector<uint64_t>{5});
}

TEST(RegReader, EightBitFilesAreUtf8OnlyWhenAllOfThemIs) {
  // "Café" in the ANSI code page, a euro sign (0x80) and the five bytes the code page
  // leaves undefined, which become C1 controls.
  Parsed ansi = Parse(
      "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\Caf\xE9]\r\n@=\"\x80 \x81\x8D\x8F\x90\x9D\"\r\n"
      "\"x\"=hex(2):e9,00\r\n");
  EXPECT_EQ(ansi.rec.ops,
            (std::vector<std::string>{"open HKEY_CLASSES_ROOT\\Caf\xC3\xA9 @2",
                                      "set '' 1 [e2,82,ac,20,c2,81,c2,8d,c2,8f,c2,90,c2,9d,00] @3",
                                      "set 'x' 2 [c3,a9,00] @4"}));
  EXPECT_TRUE(ansi.rec.warnings.empty());

  // Valid UTF-8 stays as it is, hex text included.
  Parsed utf8 = Parse("REGEDIT4\r\n[HKEY_CLASSES_ROOT\\Caf\xC3\xA9]\r\n\"x\"=hex(2):c3,a9,00\r\n");
  EXPECT_EQ(utf8.rec.ops, (std::vector<std::string>{"open HKEY_CLASSES_ROOT\\Caf\xC3\xA9 @2",
                                                    "set 'x' 2 [c3,a9,00] @3"}));

  // One byte that is not UTF-8, however late, makes the whole file Windows-1252.
  Parsed mixed = Parse("REGEDIT4\r\n[HKEY_CLASSES_ROOT\\\xC3\xA9]\r\n@=\"\xE9\"\r\n");
  EXPECT_EQ(mixed.rec.ops, (std::vector<std::string>{"open HKEY_CLASSES_ROOT\\\xC3\x83\xC2\xA9 @2",
                                                     "set '' 1 [c3,a9,00] @3"}));

  // Hex text that is not UTF-8 in a UTF-8 file is read in the code page, with a warning.
  Parsed hex = Parse("REGEDIT4\r\n[HKEY_CLASSES_ROOT\\k]\r\n\"x\"=hex(7):e9,00,00\r\n");
  EXPECT_EQ(hex.rec.ops[1], "set 'x' 7 [c3,a9,00,00] @3");
  EXPECT_EQ(hex.rec.warnings.size(), 1u);

  // The scan that decides stops at the first byte that is not UTF-8 and names its line.
  ByteTextScan scan;
  scan.Feed("REGEDIT4\r\n\r\n\xC3\xA9\n\xE9\n" + std::string(1000, 'x'));
  EXPECT_TRUE(scan.Done());
  EXPECT_EQ(scan.Result(), ByteText::Windows1252);
  EXPECT_EQ(scan.InvalidLine(), 4u);
  ByteTextScan cut;
  cut.Feed("REGEDIT4\n\xE2\x82");  // a sequence cut off by the end
  EXPECT_EQ(cut.Result(), ByteText::Utf8);
  cut.Finish();
  EXPECT_EQ(cut.Result(), ByteText::Windows1252);
}

TEST(RegReader, AStrayByteInUtf16LosesOneReportedLine) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < 1000; ++i) text += "[HKEY_CURRENT_USER\\k" + std::to_string(i) + "]\r\n";
  const std::string file = Utf16(text);
  const std::size_t at = file.find(Utf16("k100]").substr(2));
  for (bool dropped : {true, false}) {
    SCOPED_TRACE(dropped ? "a byte lost" : "a byte added");
    std::string damaged = file;
    if (dropped)
      damaged.erase(at + 1, 1);
    else
      damaged.insert(at + 1, 1, 'x');
    Recorder rec;
    RegParser parser(rec);
    for (std::size_t i = 0; i < damaged.size(); i += 7)
      parser.Feed(std::string_view(damaged).substr(i, 7));
    parser.Finish();
    EXPECT_EQ(rec.ops.size(), 999u);
    ASSERT_EQ(rec.skipLines, std::vector<uint64_t>{103});
    EXPECT_NE(rec.skips[0].find("stray byte"), std::string::npos);
    EXPECT_EQ(rec.ops.back(), "open HKEY_CURRENT_USER\\k999 @1002");
  }
}

TEST(RegReader, UnpairedSurrogatesInAUtf16FileAreRefusedByLine) {
  std::string file = Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\a");
  file += std::string("\x00\xD8", 2);  // a high surrogate with no partner
  file += Utf16("]\r\n\"v\"=\"1\"\r\n[HKEY_CURRENT_USER\\b]\r\n@=\"x").substr(2);
  file += std::string("\x00\xDC", 2);  // a low one alone
  file += Utf16("\"\r\n").substr(2);
  Parsed p = Parse(file);
  EXPECT_EQ(p.rec.ops, std::vector<std::string>{"open HKEY_CURRENT_USER\\b @4"});
  EXPECT_EQ(p.rec.skipLines, (std::vector<uint64_t>{2, 3, 5}));
}

TEST(RegReader, StopsAtTheFirstSignOfAFileThatIsNotText) {
  // Without a header line nothing past the first bytes is read.
  Recorder none;
  RegParser zeros(none);
  zeros.Feed(std::string(4096, '\0'));
  EXPECT_TRUE(zeros.HeaderRead());
  EXPECT_EQ(zeros.Format(), RegFormat::Unrecognised);
  RegParser blanks(none);
  blanks.Feed(std::string(300, ' '));
  EXPECT_TRUE(blanks.HeaderRead());
  EXPECT_EQ(SniffRegHeader("REGEDI", false).decided, false);
  EXPECT_EQ(SniffRegHeader("REGEDIT4\r\n", false).format, RegFormat::Regedit4);
  EXPECT_TRUE(SniffRegHeader(Utf16("Windows Registry Editor Version 5.00\r\n"), false).utf16);
  EXPECT_EQ(SniffRegHeader("REGEDIT4", true).format, RegFormat::Regedit4);

  // A NUL byte after a good header ends the reading: no later line reaches the sink.
  Recorder rec;
  RegParser parser(rec);
  parser.Feed(
      std::string("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"a\"=\"x\0\"\n[HKEY_CURRENT_USER\\z]\n", 45));
  EXPECT_TRUE(parser.Stopped());
  parser.Finish();
  EXPECT_EQ(rec.ops, std::vector<std::string>{"open HKEY_CURRENT_USER\\k @2"});
  ASSERT_EQ(rec.refused.size(), 1u);
  EXPECT_EQ(rec.refused[0].substr(0, 3), "3: ");
}

TEST(RegReader, AFileCutInsideHexDataKeepsTheBytesAndSaysSo) {
  Parsed p = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"g\"=hex:05,06,\\\n  07,\\");
  EXPECT_EQ(p.rec.ops.back(), "set 'g' 3 [05,06,07] @3");
  ASSERT_EQ(p.rec.incomplete.size(), 1u);
  EXPECT_EQ(p.rec.incomplete[0].substr(0, 3), "3: ");
  EXPECT_TRUE(Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"g\"=hex:05\n").rec.incomplete.empty());
}

TEST(RegReader, ReportsCutLongNamesWithoutBreakingACharacter) {
  std::string root;
  for (int i = 0; i < 50; ++i) root += "\xC3\xA9";
  Parsed p = Parse("REGEDIT4\n[x" + root + "\\k]\n");
  ASSERT_EQ(p.rec.skips.size(), 1u);
  EXPECT_NE(p.rec.skips[0].find("..."), std::string::npos);
  EXPECT_TRUE(IsUtf8(p.rec.skips[0])) << p.rec.skips[0];
}

TEST(RegReader, TextDataIsMeasuredInUtf16AsTheRegistryCountsIt) {
  // 400,000 CJK characters: 1.2 MB as UTF-8 but 800 KB as the registry holds them.
  std::string cjk;
  for (int i = 0; i < 400000; ++i) cjk += "\xE6\x97\xA5";
  Parsed fits = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"t\"=\"" + cjk + "\"\n");
  ASSERT_EQ(fits.rec.ops.size(), 2u);
  EXPECT_EQ(fits.rec.ops[1].substr(0, 10), "set 't' 1 ");
  for (int i = 0; i < 200000; ++i) cjk += "\xE6\x97\xA5";  // 1.2 MB as UTF-16
  Parsed over = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"t\"=\"" + cjk + "\"\n");
  EXPECT_EQ(over.rec.ops[1], "too large 't' @3");
  // Four characters, one of them a surrogate pair, and the terminator.
  EXPECT_EQ(RegistryDataSize(RegType::Sz, "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"), 12u);
}

TEST(RegReader, Utf16FileBecomesUtf8) {
  std::string file = "\xFF\xFE";
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.ü]\r\n@=\"日本\"\r\n";
  for (char16_t c : text) {
    file += static_cast<char>(c & 0xFF);
    file += static_cast<char>(c >> 8);
  }
  Parsed p = Parse(file);
  EXPECT_EQ(p.rec.ops, (std::vector<std::string>{"open HKEY_CLASSES_ROOT\\.\xC3\xBC @3",
                                                 "set '' 1 [e6,97,a5,e6,9c,ac,00] @4"}));
}

TEST(RegReader, OldRegeditForm) {
  Parsed p = Parse(
      "REGEDIT\n"
      "HKEY_CLASSES_ROOT\\.dnm = DnFamiTracker.Document\n"
      "    ; indented comment\n"
      "HKEY_CLASSES_ROOT\\x\\ddeexec = [open(\"%1\")]  \n"
      "HKEY_CLASSES_ROOT\\y =\n"
      "HKEY_CURRENT_USER\\z = no\n"
      "hkey_classes_root\\z = no\n");
  EXPECT_EQ(p.format, RegFormat::Win31);
  const std::vector<std::string> expected = {
      "open HKEY_CLASSES_ROOT\\.dnm @2",
      "set '' 1 [44,6e,46,61,6d,69,54,72,61,63,6b,65,72,2e,44,6f,63,75,6d,65,6e,74,00] @2",
      "open HKEY_CLASSES_ROOT\\x\\ddeexec @4",
      "set '' 1 [5b,6f,70,65,6e,28,22,25,31,22,29,5d,20,20,00] @4",
      "open HKEY_CLASSES_ROOT\\y @5",
      "set '' 1 [00] @5"};
  EXPECT_EQ(p.rec.ops, expected);
  EXPECT_EQ(p.rec.skipLines, (std::vector<uint64_t>{6, 7}));
}

TEST(RegReader, BoundsHostileSizes) {
  // Hex data past the registry's limit is not kept in memory; the sink hears it is too large.
  std::string big = "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"big\"=hex:00,\\\n";
  const std::string row = "  01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n";
  for (std::size_t bytes = 0; bytes <= 2 * 1024 * 1024 + 100; bytes += 20) big += row;
  big += "  ff\n\"after\"=dword:1\n";
  Parsed p = Parse(big);
  ASSERT_EQ(p.rec.ops.size(), 3u);
  EXPECT_EQ(p.rec.ops[1], "too large 'big' @3");
  EXPECT_EQ(p.rec.ops[2].substr(0, 9), "set 'afte");

  // A line longer than any valid entry refuses the file without being kept whole.
  std::string longLine = "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"a\"=\"" +
                         std::string(9 * 1024 * 1024, 'x') + "\"\n\"b\"=dword:1\n";
  Recorder rec;
  RegParser parser(rec);
  for (std::size_t at = 0; at < longLine.size(); at += 4096)
    parser.Feed(std::string_view(longLine).substr(at, 4096));
  parser.Finish();
  ASSERT_EQ(rec.refused.size(), 1u);
  EXPECT_EQ(rec.refused[0].substr(0, 3), "3: ");
  ASSERT_EQ(rec.ops.size(), 1u);
}

std::string Value(std::string_view name, uint32_t type, std::string_view data) {
  std::string out;
  AppendRegValue(out, name, type, data);
  return out;
}

TEST(RegWriter, WritesEachTypeInItsForm) {
  using namespace std::string_literals;
  EXPECT_EQ(Value("", RegType::Sz, "a\"b\\c\r\nd\0"s), "@=\"a\\\"b\\\\c\\r\\nd\"\r\n");
  EXPECT_EQ(Value("q\"n", RegType::Sz, "\0"s), "\"q\\\"n\"=\"\"\r\n");
  // Text whose bytes would not survive the quotes keeps them as hex(1).
  EXPECT_EQ(Value("a", RegType::Sz, ""), "\"a\"=hex(1):\r\n");
  EXPECT_EQ(Value("a", RegType::Sz, "ab"), "\"a\"=hex(1):61,62\r\n");
  EXPECT_EQ(Value("a", RegType::Sz, "a\0b\0"s), "\"a\"=hex(1):61,00,62,00\r\n");
  EXPECT_EQ(Value("d", RegType::Dword, "\x78\x56\x34\x12"), "\"d\"=dword:12345678\r\n");
  EXPECT_EQ(Value("d", RegType::Dword, "\x01\x02"), "\"d\"=hex(4):01,02\r\n");
  EXPECT_EQ(Value("b", RegType::Binary, "\x38\x07\0\0"s), "\"b\"=hex:38,07,00,00\r\n");
  EXPECT_EQ(Value("b", RegType::Binary, ""), "\"b\"=hex:\r\n");
  EXPECT_EQ(Value("x", RegType::ExpandSz, "%a%\0"s), "\"x\"=hex(2):25,61,25,00\r\n");
  EXPECT_EQ(Value("n", RegType::None, "\xff"), "\"n\"=hex(0):ff\r\n");
  EXPECT_EQ(Value("q", RegType::Qword, "\1\0\0\0\0\0\0\0"s),
            "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n");
  EXPECT_EQ(Value("t", 0xabcd, ""), "\"t\"=hex(abcd):\r\n");
  EXPECT_EQ(Value("t", 0xffffffffu, "\1"), "\"t\"=hex(ffffffff):01\r\n");
}

TEST(RegWriter, WrapsHexExactlyAsRegistryEditorsDo) {
  // The reference's example: 26 columns of name and tag, 38 bytes: 17 on the first line,
  // the remaining 21 on the second.
  std::string data;
  for (int i = 0; i < 38; ++i) data += static_cast<char>(0x41 + i % 26);
  const std::string text = Value("Multiple strings", RegType::MultiSz, data);
  const std::size_t firstEnd = text.find("\r\n");
  ASSERT_NE(firstEnd, std::string::npos);
  const std::string first = text.substr(0, firstEnd);
  EXPECT_EQ(first.size(), 26u + 17 * 3 + 1);  // 17 bytes with commas, then the backslash
  EXPECT_EQ(first.back(), '\\');
  const std::string second = text.substr(firstEnd + 2);
  EXPECT_EQ(second.size(), 2u + 21 * 3 - 1 + 2);  // indent, 21 bytes, no trailing comma, CRLF
  EXPECT_EQ(second.substr(0, 2), "  ");

  // "@=hex:" is 6 columns: the first line breaks after 24 bytes (column 78), every
  // continuation line after 25 (column 77), and the last line holds what is left.
  const std::string long_ = Value("", RegType::Binary, std::string(1000, '\x5a'));
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < long_.size();) {
    const std::size_t end = long_.find("\r\n", start);
    lines.push_back(long_.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[0].size(), 6u + 24 * 3 + 1);
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, 3), "  5");
    EXPECT_EQ(lines[i].size(), 2u + 25 * 3 + 1);
    EXPECT_EQ(lines[i].substr(lines[i].size() - 2), ",\\");
  }
  EXPECT_EQ(lines.back(), "  5a");  // 1000 = 24 + 39 * 25 + 1

  // Read back, the wrapped text gives the same bytes.
  Parsed p = Parse("REGEDIT4\r\n[HKEY_CURRENT_USER\\k]\r\n" + text + long_);
  ASSERT_EQ(p.rec.ops.size(), 3u);
  EXPECT_EQ(p.rec.ops[1], "set 'Multiple strings' 7 [" + Hex(data + '\0') + "] @3");
  EXPECT_TRUE(p.rec.skips.empty());
}

}  // namespace
}  // namespace kestrova
