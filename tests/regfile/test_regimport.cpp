// The import API: from bytes, a device or a path, with the report it returns (counts, the
// lines it skipped and why, the reading it chose, the failure by kind); the broken inputs
// kept as data files; the golden folders.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "regfile/RegExporter.h"
#include "regfile/RegImporter.h"
#include "tests/regfile/FailingEngine.h"
#include "tests/regfile/StoreDump.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using namespace std::string_literals;
using test::Dump;
using test::FailingEngine;
using test::ReadFile;
using test::TempDir;
using test::TestStore;

std::filesystem::path DataDir() {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  return std::filesystem::path(source ? source : ".") / "tests/regfile/data";
}

// The exit status kestrova-regedit gives a report.
int Status(const RegImportReport& report) { return report.Failed() ? 2 : report.Partial() ? 1 : 0; }

// A device that cannot seek, as a pipe is.
class SequentialBytes final : public QIODevice {
 public:
  explicit SequentialBytes(std::string bytes) : m_bytes(std::move(bytes)) {
    open(QIODevice::ReadOnly);
  }
  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char* data, qint64 max) override {
    // A few bytes at a time, as a pipe hands them over.
    const auto n =
        std::min<std::size_t>({static_cast<std::size_t>(max), 4093, m_bytes.size() - m_at});
    std::copy_n(m_bytes.data() + m_at, n, data);
    m_at += n;
    return static_cast<qint64>(n);
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  std::string m_bytes;
  std::size_t m_at = 0;
};

const std::string kBadLines =
    "REGEDIT4\r\n"
    "[HKEY_CURRENT_USER\\Imported]\r\n"
    "\"good\"=\"yes\"\r\n"
    "\"bad\"=dword:0x10\r\n"
    "[HKEY_NO_SUCH_ROOT\\x]\r\n"
    "\"lost\"=\"1\"\r\n"
    "[HKEY_CURRENT_USER\\Imported\\Sub]\r\n"
    "\"also good\"=dword:1\r\n"
    "\"gone\"=-\r\n"
    "[-HKEY_CURRENT_USER\\Old]\r\n";

TEST(RegImporter, ReportsCountsAndSkippedLinesFromBytesAndFromADevice) {
  TestStore store;
  auto engine = store.Engine();
  RegImporter importer(*engine);
  RegImportReport bytes = importer.Import(kBadLines, "bad.reg");
  QBuffer buffer;
  buffer.setData(QByteArray::fromStdString(kBadLines));
  buffer.open(QIODevice::ReadOnly);
  RegImportReport device = importer.Import(&buffer, "bad.reg");
  for (const RegImportReport* report : {&bytes, &device}) {
    EXPECT_FALSE(report->Failed()) << report->errorString;
    EXPECT_TRUE(report->Partial());
    EXPECT_EQ(report->source, "bad.reg");
    EXPECT_EQ(report->encoding, RegEncoding::Ascii);
    EXPECT_EQ(report->keysImported, 2u);
    EXPECT_EQ(report->valuesImported, 2u);
    EXPECT_EQ(report->valuesDeleted, 1u);
    EXPECT_EQ(report->keysDeleted, 1u);
    EXPECT_EQ(report->skippedLines, 3u);
    ASSERT_EQ(report->notes.size(), 3u);
    const std::vector<std::pair<uint64_t, std::string>> expected = {
        {4, "dword: needs 1 to 8 hex digits"},
        {5, "unknown root key 'HKEY_NO_SUCH_ROOT'; its values are skipped too"},
        {6, "value under the skipped key line 5"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(report->notes[i].kind, RegNote::Kind::Skipped);
      EXPECT_EQ(report->notes[i].line, expected[i].first);
      EXPECT_EQ(report->notes[i].text, expected[i].second);
    }
    EXPECT_EQ(report->SummaryText(), "bad.reg imported; 3 line(s) skipped.");
  }
  EXPECT_EQ(test::ReadValue("\\Imported\\Sub", "also good", RootKey::CurrentUser), "dword:1");
  EXPECT_EQ(test::ReadValue("\\Imported", "good", RootKey::CurrentUser), "yes");
  EXPECT_EQ(test::ReadValue("\\Imported", "lost", RootKey::CurrentUser), "(no value)");
  EXPECT_FALSE(test::HasKey("\\Old", RootKey::CurrentUser));
}

TEST(RegImporter, AFailingStoreGivesItsKindAndLeavesTheStoreAsItWas) {
  TestStore store;
  FailingEngine engine(store.Engine());
  const std::string before = Dump(engine);
  engine.FailOn(FailingEngine::Call::Write, StoreErrorKind::Full);
  RegImportReport report = RegImporter(engine).Import(kBadLines, "bad.reg");
  EXPECT_EQ(report.error, RegImportError::StoreFailure);
  EXPECT_EQ(report.storeError, StoreErrorKind::Full);
  EXPECT_EQ(report.errorLine, 2u);
  EXPECT_EQ(report.errorString, "bad.reg:2: The store failed on purpose. Nothing was imported.");
  EXPECT_EQ(report.keysImported + report.valuesImported, 0u);
  EXPECT_EQ(Dump(engine), before);

  // A registry limit on one value is a skipped line, not a failed import.
  engine.FailOn(FailingEngine::Call::None, StoreErrorKind::Other);
  TestStore limits;
  auto real = limits.Engine();
  report = RegImporter(*real).Import(
      "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"" + std::string(16384, 'n') + "\"=\"x\"\n\"ok\"=\"1\"\n",
      "limit.reg");
  EXPECT_FALSE(report.Failed()) << report.errorString;
  EXPECT_EQ(report.skippedLines, 1u);
  EXPECT_EQ(report.valuesImported, 1u);
}

TEST(RegImporter, EachFailureHasItsKind) {
  TestStore store;
  TempDir dir;
  auto engine = store.Engine();
  const std::string before = Dump(*engine);
  RegImportOptions strict;
  strict.strict = true;
  RegImportReport report = RegImporter(*engine, strict).Import(kBadLines, "bad.reg");
  EXPECT_EQ(report.error, RegImportError::StrictRefusal);
  EXPECT_EQ(report.errorString,
            "bad.reg: refused (--strict): 3 malformed line(s); nothing was imported.");
  EXPECT_EQ(report.notes.size(), 3u);  // every line is still reported
  EXPECT_EQ(report.keysImported, 0u);

  RegImporter importer(*engine);
  report = importer.Import("WINE REGISTRY Version 2\n"s, "wine.reg");
  EXPECT_EQ(report.error, RegImportError::NotARegFile);
  report = importer.Import("REGEDIT4\n[HKEY_CURRENT_USER\\k]\n\"a\"=\"1\"\n\0\0"s, "nul.reg");
  EXPECT_EQ(report.error, RegImportError::NotTextAfterAll);
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_EQ(report.notes[0].kind, RegNote::Kind::Refused);
  EXPECT_EQ(report.notes[0].line, 4u);
  report = importer.ImportFile(dir.File("missing.reg"));
  EXPECT_EQ(report.error, RegImportError::CannotRead);
  EXPECT_EQ(report.errorString, "cannot read " + dir.File("missing.reg") +
                                    ": No such file or directory; nothing was imported.");
  report = importer.ImportFile(dir.Path());
  EXPECT_EQ(report.error, RegImportError::CannotRead);
  QBuffer closed;
  report = importer.Import(&closed, "closed");
  EXPECT_EQ(report.error, RegImportError::CannotRead);
  EXPECT_EQ(Dump(*engine), before);
}

TEST(RegImporter, TellsTheReadingItChoseAndReadsDevicesThatCannotSeek) {
  TestStore store;
  auto engine = store.Engine();
  RegImporter importer(*engine);
  const std::string ansi = ReadFile((DataDir() / "files/ansi-1252.reg").string());
  const RegImportReport fromBytes = importer.Import(ansi, "ansi.reg");
  EXPECT_EQ(fromBytes.encoding, RegEncoding::Windows1252);
  EXPECT_EQ(fromBytes.firstNonUtf8Line, 4u);
  ASSERT_FALSE(fromBytes.notes.empty());
  EXPECT_EQ(fromBytes.NoteText(fromBytes.notes[0]),
            "ansi.reg: read as Windows-1252 (not valid UTF-8 at line 4)");
  // Read ahead to decide, then again from the start: a pipe gives the same.
  SequentialBytes pipe(ansi);
  const RegImportReport fromPipe = importer.Import(&pipe, "ansi.reg");
  EXPECT_EQ(fromPipe.Text(), fromBytes.Text());
  EXPECT_EQ(fromPipe.valuesImported, fromBytes.valuesImported);
  EXPECT_GT(fromPipe.valuesImported, 0u);

  const RegImportReport utf8 = importer.ImportFile((DataDir() / "files/utf8.reg").string());
  EXPECT_EQ(utf8.encoding, RegEncoding::Utf8);
  EXPECT_EQ(utf8.Text(), (DataDir() / "files/utf8.reg").string() + ": read as UTF-8");
  const RegImportReport utf16 = importer.Import(
      "\xFF\xFER\0E\0G\0E\0D\0I\0T\0"
      "4\0\r\0\n\0"s,
      "utf16.reg");
  EXPECT_EQ(utf16.encoding, RegEncoding::Utf16);
}

TEST(RegImporter, EveryNoteReachesTheListenerThoughTheReportKeepsTheFirst) {
  TestStore store;
  auto engine = store.Engine();
  std::string text = "REGEDIT4\n[HKEY_CURRENT_USER\\k]\n";
  const std::size_t bad = RegImportReport::kKeptNotes + 5;
  for (std::size_t i = 0; i < bad; ++i) text += "junk\n";
  std::vector<uint64_t> heard;
  RegImportOptions options;
  options.onNote = [&](const RegImportReport& report, const RegNote& note) {
    EXPECT_EQ(report.source, "junk.reg");
    heard.push_back(note.line);
  };
  const RegImportReport report = RegImporter(*engine, options).Import(text, "junk.reg");
  EXPECT_EQ(report.skippedLines, bad);
  EXPECT_EQ(heard.size(), bad);
  EXPECT_EQ(heard.back(), bad + 2);
  EXPECT_EQ(report.notes.size(), RegImportReport::kKeptNotes);
  EXPECT_TRUE(report.notesCut);
}

// Each broken input imports with the report kestrova-regedit always gave it: beside each
// NAME.reg, NAME.expected holds "exit N" and what the command says, the file named FILE.
TEST(RegImporter, BrokenInputsKeepTheirReports) {
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DataDir() / "broken")) {
    if (entry.path().extension() != ".reg") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::string expected =
        ReadFile(std::filesystem::path(entry.path()).replace_extension(".expected").string());
    ASSERT_EQ(expected.rfind("exit ", 0), 0u);
    const int status = expected[5] - '0';
    expected.erase(0, expected.find('\n') + 1);
    for (std::size_t at; (at = expected.find("kestrova-regedit: ")) != std::string::npos;)
      expected.erase(at, 18);
    while (!expected.empty() && expected.back() == '\n') expected.pop_back();

    TestStore store;
    auto engine = store.Engine();
    const std::string before = Dump(*engine);
    const RegImportReport report =
        RegImporter(*engine).Import(ReadFile(entry.path().string()), "FILE");
    EXPECT_EQ(Status(report), status);
    EXPECT_EQ(report.Text(), expected);
    if (report.Failed()) {
      EXPECT_EQ(Dump(*engine), before);
    }
    ++cases;
  }
  EXPECT_GE(cases, 8);
}

// Exports the whole store, imports the file into an empty store, and expects both stores to
// hold the same; a second export must then give the same bytes.
void ExpectRoundTrip(RegistryEngine& original, const std::string& dir) {
  const std::string first = dir + "/first.reg";
  ASSERT_FALSE(RegExporter(original).ExportFile(first, std::nullopt).Failed());
  TestStore copy;
  auto engine = copy.Engine();
  const RegImportReport imported = RegImporter(*engine).ImportFile(first);
  ASSERT_EQ(Status(imported), 0) << imported.Text();
  EXPECT_EQ(Dump(*engine), Dump(original));
  const std::string second = dir + "/second.reg";
  ASSERT_FALSE(RegExporter(*engine).ExportFile(second, std::nullopt).Failed());
  EXPECT_EQ(ReadFile(second), ReadFile(first));
}

TEST(RegImporter, GoldenFolders) {
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DataDir() / "golden")) {
    SCOPED_TRACE(entry.path().filename().string());
    TestStore store;
    TempDir dir;
    auto engine = store.Engine();
    const RegImportReport run =
        RegImporter(*engine).ImportFile((entry.path() / "input.reg").string());
    ASSERT_EQ(Status(run), 0) << run.Text();
    std::string key = ReadFile((entry.path() / "key").string());
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
    ASSERT_FALSE(RegExporter(*engine).ExportFile(dir.File("out.reg"), key).Failed());
    EXPECT_EQ(ReadFile(dir.File("out.reg")), ReadFile((entry.path() / "expected.reg").string()));
    ExpectRoundTrip(*engine, dir.Path());
    ++cases;
  }
  EXPECT_GE(cases, 2);
}

}  // namespace
}  // namespace kestrova
