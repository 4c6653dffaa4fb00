// The .reg reader on its own: bytes in, operations out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regfile/RegParser.h"
#include "store/RegistryRules.h"
#include "tests/regfile/RecordingSink.h"

namespace kestrova {
namespace {

using test::Hex;
using test::Parse;
using test::Parsed;
using test::RecordingSink;
using test::Utf16;

TEST(RegParser, RecognisesOnlyTheHeadersRegistryEditorsAccept) {
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

TEST(RegParser, ReadsKeysValuesAndDeletionsInFileOrder) {
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

TEST(RegParser, AcceptsCrLfAndCrLineEndsSplitAnywhere) {
  const std::string text =
      "REGEDIT4\r\r\n[HKEY_CURRENT_USER\\k]\r\"a\"=hex:01,\\\r\n\r\n  ;c\r  02\n\"b\"=\"x\"";
  Parsed whole = Parse(text);
  const std::vector<std::string> expected = {"open HKEY_CURRENT_USER\\k @3", "set 'a' 3 [01,02] @4",
                                             "set 'b' 1 [78,00] @8"};
  EXPECT_EQ(whole.rec.ops, expected);
  // Chunk boundaries (inside CRLF, inside a BOM, inside a UTF-16 unit) change nothing.
  for (const std::string& input : {text, Utf16(text)}) {
    RecordingSink rec;
    RegParser parser(rec);
    for (char c : input) parser.Feed(std::string_view(&c, 1));
    parser.Finish();
    EXPECT_EQ(rec.ops, expected);
  }
}

TEST(RegParser, HexContinuationFollowsTheRegistryEditorsRules) {
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

TEST(RegParser, SkipsAndReportsEveryMalformedLine) {
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

TEST(RegParser, ValuesOfAnUnreadableKeyLineAreDroppedNotGivenToThePreviousKey) {
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

TEST(RegParser, TrailingBackslashesOfAKeyAreDropped) {
  Parsed p = Parse("REGEDIT4\n[HKEY_USERS\\a\\b\\\\]\n[HKEY_CURRENT_CONFIG\\]\n");
  EXPECT_EQ(p.rec.ops, (std::vector<std::string>{"open HKEY_USERS\\a\\b @2",
                                                 "open HKEY_CURRENT_CONFIG\\ @3"}));
}

TEST(RegParser, EscapesInQuotes) {
  Parsed p = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"x\\r\\ny\"=\"D:\\Projects\\q\"\n");
  ASSERT_EQ(p.rec.ops.size(), 2u);
  EXPECT_EQ(p.rec.ops[1], "set 'x\r\ny' 1 [44,3a,50,72,6f,6a,65,63,74,73,71,00] @3");
  // An unknown escape keeps its character, as registry editors do, with a warning.
  EXPECT_EQ(p.rec.warnings.size(), 2u);
  EXPECT_TRUE(p.rec.skips.empty());
}

TEST(RegParser, Version5TextInHexIsUtf16) {
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

TEST(RegParser, EightBitFilesAreUtf8OnlyWhenAllOfThemIs) {
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

TEST(RegParser, AStrayByteInUtf16LosesOneReportedLine) {
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
    RecordingSink rec;
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

TEST(RegParser, UnpairedSurrogatesInAUtf16FileAreRefusedByLine) {
  std::string file = Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\a");
  file += std::string("\x00\xD8", 2);  // a high surrogate with no partner
  file += Utf16("]\r\n\"v\"=\"1\"\r\n[HKEY_CURRENT_USER\\b]\r\n@=\"x").substr(2);
  file += std::string("\x00\xDC", 2);  // a low one alone
  file += Utf16("\"\r\n").substr(2);
  Parsed p = Parse(file);
  EXPECT_EQ(p.rec.ops, std::vector<std::string>{"open HKEY_CURRENT_USER\\b @4"});
  EXPECT_EQ(p.rec.skipLines, (std::vector<uint64_t>{2, 3, 5}));
}

TEST(RegParser, StopsAtTheFirstSignOfAFileThatIsNotText) {
  // Without a header line nothing past the first bytes is read.
  RecordingSink none;
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
  RecordingSink rec;
  RegParser parser(rec);
  parser.Feed(
      std::string("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"a\"=\"x\0\"\n[HKEY_CURRENT_USER\\z]\n", 45));
  EXPECT_TRUE(parser.Stopped());
  parser.Finish();
  EXPECT_EQ(rec.ops, std::vector<std::string>{"open HKEY_CURRENT_USER\\k @2"});
  ASSERT_EQ(rec.refused.size(), 1u);
  EXPECT_EQ(rec.refused[0].substr(0, 3), "3: ");
}

TEST(RegParser, AFileCutInsideHexDataKeepsTheBytesAndSaysSo) {
  Parsed p = Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"g\"=hex:05,06,\\\n  07,\\");
  EXPECT_EQ(p.rec.ops.back(), "set 'g' 3 [05,06,07] @3");
  ASSERT_EQ(p.rec.incomplete.size(), 1u);
  EXPECT_EQ(p.rec.incomplete[0].substr(0, 3), "3: ");
  EXPECT_TRUE(Parse("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"g\"=hex:05\n").rec.incomplete.empty());
}

TEST(RegParser, ReportsCutLongNamesWithoutBreakingACharacter) {
  std::string root;
  for (int i = 0; i < 50; ++i) root += "\xC3\xA9";
  Parsed p = Parse("REGEDIT4\n[x" + root + "\\k]\n");
  ASSERT_EQ(p.rec.skips.size(), 1u);
  EXPECT_NE(p.rec.skips[0].find("..."), std::string::npos);
  EXPECT_TRUE(IsUtf8(p.rec.skips[0])) << p.rec.skips[0];
}

TEST(RegParser, TextDataIsMeasuredInUtf16AsTheRegistryCountsIt) {
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

TEST(RegParser, Utf16FileBecomesUtf8) {
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

TEST(RegParser, OldRegeditForm) {
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

TEST(RegParser, BoundsHostileSizes) {
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
  RecordingSink rec;
  RegParser parser(rec);
  for (std::size_t at = 0; at < longLine.size(); at += 4096)
    parser.Feed(std::string_view(longLine).substr(at, 4096));
  parser.Finish();
  ASSERT_EQ(rec.refused.size(), 1u);
  EXPECT_EQ(rec.refused[0].substr(0, 3), "3: ");
  ASSERT_EQ(rec.ops.size(), 1u);
}

}  // namespace
}  // namespace kestrova
