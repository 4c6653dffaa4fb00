// The .reg writer: values in, text out; a key or the whole store out to a device or a file,
// the same bytes either way, and each failure of an export by its kind.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <filesystem>
#include <string>
#include <vector>

#include "regfile/RegExporter.h"
#include "regfile/RegValueText.h"
#include "store/RegistryRules.h"
#include "tests/regfile/FailingEngine.h"
#include "tests/regfile/RecordingSink.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using namespace std::string_literals;
using test::FailingEngine;
using test::Hex;
using test::Parse;
using test::Parsed;
using test::ReadFile;
using test::TempDir;
using test::TestStore;

std::string Value(std::string_view name, uint32_t type, std::string_view data) {
  std::string out;
  AppendRegValue(out, name, type, data);
  return out;
}

TEST(RegValueText, WritesEachTypeInItsForm) {
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

TEST(RegValueText, WrapsHexExactlyAsRegistryEditorsDo) {
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

// A small tree under HKEY_CLASSES_ROOT and HKEY_CURRENT_USER.
void Fill(RegistryEngine& engine) {
  const KeyRef txt = engine.CreateChild(engine.Root(RootKey::ClassesRoot), ".Txt");
  engine.SetValue(txt, "", RegType::Sz, "txtfile\0"s);
  engine.SetValue(txt, "Content Type", RegType::Sz, "text/plain\0"s);
  engine.CreateChild(txt, "ShellNew");
  const KeyRef user = engine.CreateChild(engine.Root(RootKey::CurrentUser), "Big");
  // Data beyond the writer's 1 MiB pieces: written out in several.
  engine.SetValue(user, "bytes", RegType::Binary, std::string(1 << 20, '\x5a'));
}

std::string ToBuffer(RegistryEngine& engine, const std::optional<std::string>& key,
                     RegExportReport* report = nullptr) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  const RegExportReport done = RegExporter(engine).Export(&buffer, key, "buffer");
  EXPECT_FALSE(done.Failed()) << done.errorString;
  if (report) *report = done;
  return buffer.data().toStdString();
}

TEST(RegExporter, ADeviceGetsTheBytesAFileGets) {
  TestStore store;
  TempDir dir;
  auto engine = store.Engine();
  Fill(*engine);
  for (std::optional<std::string> key :
       {std::optional<std::string>(), std::optional<std::string>("hkcr\\.TXT"),
        std::optional<std::string>("HKEY_CURRENT_USER")}) {
    SCOPED_TRACE(key.value_or("(whole store)"));
    const RegExportReport toFile = RegExporter(*engine).ExportFile(dir.File("out.reg"), key);
    ASSERT_FALSE(toFile.Failed()) << toFile.errorString;
    RegExportReport toDevice;
    EXPECT_EQ(ToBuffer(*engine, key, &toDevice), ReadFile(dir.File("out.reg")));
    EXPECT_EQ(toDevice.keysWritten, toFile.keysWritten);
    EXPECT_EQ(toDevice.valuesWritten, toFile.valuesWritten);
  }
}

TEST(RegExporter, CountsTheKeysAndValuesWritten) {
  TestStore store;
  auto engine = store.Engine();
  Fill(*engine);
  RegExportReport report;
  const std::string text = ToBuffer(*engine, "HKCR\\.txt"s, &report);
  EXPECT_EQ(report.keysWritten, 2u);  // .Txt and ShellNew
  EXPECT_EQ(report.valuesWritten, 2u);
  EXPECT_EQ(text,
            "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.Txt]\r\n@=\"txtfile\"\r\n"
            "\"Content Type\"=\"text/plain\"\r\n\r\n[HKEY_CLASSES_ROOT\\.Txt\\ShellNew]\r\n\r\n");
}

TEST(RegExporter, SaysWhyAnExportFailedByKind) {
  TestStore store;
  TempDir dir;
  auto engine = store.Engine();
  Fill(*engine);
  RegExporter exporter(*engine);
  const std::string file = dir.File("x.reg");

  RegExportReport report = exporter.ExportFile(file, "HKEY_NOWHERE\\x"s);
  EXPECT_EQ(report.error, RegExportError::UnknownRoot);
  EXPECT_EQ(report.errorString.rfind("HKEY_NOWHERE\\x: unknown root key", 0), 0u)
      << report.errorString;
  for (std::string missing : {"HKCR\\.none", "HKCR\\\\.txt"}) {
    report = exporter.ExportFile(file, missing);
    EXPECT_EQ(report.error, RegExportError::NoSuchKey) << missing;
    EXPECT_EQ(report.errorString, missing + ": no such key; no file was written.");
  }
  report = exporter.ExportFile(store.Path(), "HKCR"s);
  EXPECT_EQ(report.error, RegExportError::StoreFile);
  std::filesystem::create_directory(dir.File("folder.reg"));
  report = exporter.ExportFile(dir.File("folder.reg"), "HKCR"s);
  EXPECT_EQ(report.error, RegExportError::CannotWrite);
  EXPECT_EQ(report.errorString,
            "cannot write " + dir.File("folder.reg") + ": it is a folder; no file was written.");
  // A device not open for writing.
  QBuffer closed;
  report = exporter.Export(&closed, std::nullopt, "closed");
  EXPECT_EQ(report.error, RegExportError::CannotWrite);
  // No message of the codec carries a program's name: the front ends add their own.
  EXPECT_EQ(report.errorString.find("kestrova-regedit"), std::string::npos);
  EXPECT_EQ(std::vector<std::string>{"folder.reg"}, [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      names.push_back(e.path().filename().string());
    return names;
  }());
}

TEST(RegExporter, AStoreThatFailsToReadLeavesNoFileAndTellsTheKind) {
  TestStore store;
  TempDir dir;
  FailingEngine engine(store.Engine());
  Fill(engine);
  engine.FailOn(FailingEngine::Call::Read, StoreErrorKind::Damaged);
  RegExportReport report = RegExporter(engine).ExportFile(dir.File("x.reg"), std::nullopt);
  EXPECT_EQ(report.error, RegExportError::StoreFailure);
  EXPECT_EQ(report.storeError, StoreErrorKind::Damaged);
  EXPECT_EQ(report.errorString, "The store failed on purpose. No file was written.");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  report = RegExporter(engine).Export(&buffer, "HKCR\\.txt"s, "buffer");
  EXPECT_EQ(report.storeError, StoreErrorKind::Damaged);
}

}  // namespace
}  // namespace kestrova
