// A store that starts from a desktop the test builds, and Tools > Import from Desktop
// refreshing it: the seeded keys, the backup first, and the user's edits left alone.

#include <QMenu>
#include <filesystem>

#include "app/DefaultStore.h"
#include "app/Main.h"
#include "platform/DesktopDatabases.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/TestDoubles.h"

namespace kestrova::test {
namespace {

// The desktop is built before any test reads the MIME database or GIO.
class DesktopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { FakeDesktop::Install(m_dir.Path()); }

 private:
  TempDir m_dir;
};
const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

// Reads a value of a store file that is not installed as the program's store.
std::string Stored(const std::string& path, const std::string& key, const std::string& name,
                   RootKey root = RootKey::ClassesRoot) {
  AssocStore store(OpenSqliteStore(path), AssocStore::Access::ReadOnly);
  store.SetRoot(root);
  if (!store.OpenPath(key, false)) return "(no key)";
  if (!store.HasValue(name)) return "(no value)";
  return store.GetText(name);
}

TEST(DesktopSeed, ANewStoreStartsFromTheDesktop) {
  TempDir dir;
  const std::string path = dir.File("data/registry.db");
  std::filesystem::create_directories(dir.File("data"));
  OpenDefaultStore(path);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));

  EXPECT_EQ(Stored(path, "\\.kdoc", ""), "Desktop.application.x-kestrova-doc");
  EXPECT_EQ(Stored(path, "\\.kdoc", "Content Type"), "application/x-kestrova-doc");
  EXPECT_EQ(Stored(path, "\\.kdoc.gz", ""), "Desktop.application.x-kestrova-doc");
  EXPECT_EQ(Stored(path, "\\.knote", ""), "Desktop.application.x-kestrova-note");
  const std::string doc = "\\Desktop.application.x-kestrova-doc";
  EXPECT_EQ(Stored(path, doc, ""), "Kestrova test document");
  EXPECT_EQ(Stored(path, doc + "\\DefaultIcon", ""), "kestrova-doc-icon");
  // mimeapps.list's default opens; the other application is offered by name; the hidden
  // one is not there.
  EXPECT_EQ(Stored(path, doc + "\\Shell\\open\\command", ""), R"("/bin/echo" "two words" "%1")");
  EXPECT_EQ(Stored(path, doc + "\\Shell\\openwith.kdocviewer", ""), "Open with Doc Viewer");
  EXPECT_EQ(Stored(path, doc + "\\Shell\\openwith.kdocviewer\\command", ""),
            R"("/bin/true" --view "%1")");
  EXPECT_EQ(Stored(path, doc + "\\Shell\\openwith.hidden", ""), "(no key)");
  // The note's default has an Exec line we cannot translate: the next application opens,
  // and a NoDisplay entry is still offered.
  const std::string note = "\\Desktop.application.x-kestrova-note";
  EXPECT_EQ(Stored(path, note + "\\Shell\\open\\command", ""), R"("/bin/true" --view "%1")");
  EXPECT_EQ(Stored(path, note + "\\Shell\\openwith.quiet", ""), "Open with Quiet Tool");
  EXPECT_EQ(Stored(path, note + "\\Shell\\openwith.bad", ""), "(no key)");

  EXPECT_EQ(Stored(path, layout::ContentTypeKey("application/x-kestrova-doc"), "Extension"),
            ".kdoc");
  EXPECT_EQ(Stored(path, layout::ContentTypeKey("text/x-kestrova-build"), "Extension"),
            "(no value)");
  // Not the hand-written classes, but the program's settings from them.
  EXPECT_EQ(Stored(path, "\\txtfile", ""), "(no key)");
  EXPECT_EQ(Stored(path, "\\.txt", ""), "(no key)");
  EXPECT_EQ(Stored(path, layout::SettingsKey, layout::HelpUrlName, RootKey::CurrentUser),
            "https://fileinfo.com/extension/");
  ReleaseSqliteStoreForThread(path);
}

class ImportCommand : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    m_opener = std::make_shared<ExportingOpener>();
    SetOpener(m_opener);
    SetClock(std::make_shared<FixedClock>());
    m_notifier = std::make_shared<CountingNotifier>();
    SetNotifier(m_notifier);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    SetOpener(nullptr);
    SetClock(nullptr);
    SetNotifier(nullptr);
  }

  std::shared_ptr<ExportingOpener> m_opener;
  std::shared_ptr<CountingNotifier> m_notifier;
};

TEST_F(ImportCommand, TheToolsMenuOffersItAndBacksUpAllClassesFirst) {
  TForm1& form = Form();
  ASSERT_TRUE(form.ools1->actions().contains(form.ImportFromDesktop1));
  EXPECT_EQ(form.ImportFromDesktop1->text(), "&Import from Desktop");

  WriteText("\\.mine", "", "minefile");  // something to back up
  form.ImportFromDesktop1->trigger();
  ASSERT_EQ(m_opener->requests.size(), 1u);
  EXPECT_EQ(m_opener->requests[0].command, "Regedit.exe");
  EXPECT_EQ(m_opener->requests[0].parameters,
            "/e \"" + QString(std::getenv("KESTROVA_BACKUP_DIR")) +
                "/desktop-import-20261207-113905.reg\" HKEY_CLASSES_ROOT");
  EXPECT_EQ(ReadValue("\\.kdoc", ""), "Desktop.application.x-kestrova-doc");
  EXPECT_EQ(ReadValue("\\.mine", ""), "minefile");
  EXPECT_TRUE(form.StatusText().startsWith("Imported from the desktop: "))
      << form.StatusText().toStdString();
  EXPECT_TRUE(form.StatusText().endsWith("; 1 applications left out."))
      << form.StatusText().toStdString();
  EXPECT_GE(m_notifier->count, 1);
  // The content types the window offers come from the refreshed database.
  EXPECT_GE(form.ContentType->findText("application/x-kestrova-doc"), 0);
}

TEST_F(ImportCommand, ARefreshKeepsWhatTheUserChanged) {
  TForm1& form = Form();
  form.ImportFromDesktop1->trigger();
  const std::string doc = "\\Desktop.application.x-kestrova-doc";
  WriteText(doc, "", "My documents");
  WriteText("\\.knote", "", "notefile");
  form.ImportFromDesktop1->trigger();
  EXPECT_EQ(ReadValue(doc, ""), "My documents");
  EXPECT_EQ(ReadValue("\\.knote", ""), "notefile");
  EXPECT_TRUE(form.StatusText().contains("2 left as you changed them"))
      << form.StatusText().toStdString();
}

TEST_F(ImportCommand, NoBackupNoImport) {
  m_opener->writeExports = false;
  WriteText("\\.mine", "", "minefile");
  Form().ImportFromDesktop1->trigger();
  EXPECT_FALSE(HasKey("\\.kdoc"));
  ASSERT_EQ(m_boxes->Messages().size(), 1u);
  EXPECT_TRUE(m_boxes->Messages()[0].contains("Nothing was changed."));
}

}  // namespace
}  // namespace kestrova::test
