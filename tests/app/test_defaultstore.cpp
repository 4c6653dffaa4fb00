// The fallback to the hand-written default classes when the desktop knows no association,
// and a store made from a desktop snapshot by hand.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/DefaultStore.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"

namespace kestrova::test {
namespace {

std::string Stored(const std::string& path, const std::string& key, const std::string& name,
                   RootKey root = RootKey::ClassesRoot) {
  AssocStore store(OpenSqliteStore(path), AssocStore::Access::ReadOnly);
  store.SetRoot(root);
  if (!store.OpenPath(key, false)) return "(no key)";
  if (!store.HasValue(name)) return "(no value)";
  return store.GetText(name);
}

// The tests' desktop (XDG_DATA_DIRS is an empty folder) has Qt's MIME types but no
// application: the hand-written classes stand in.
TEST(DefaultStore, ADesktopWithoutApplicationsFallsBackToTheDefaultClasses) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  OpenDefaultStore(path);
  EXPECT_EQ(Stored(path, "\\.txt", ""), "txtfile");
  EXPECT_EQ(Stored(path, "\\Desktop.text.plain", ""), "(no key)");
  ReleaseSqliteStoreForThread(path);
}

TEST(DefaultStore, ADesktopStoreIsBuiltBesideAndMovedIntoPlace) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  DesktopSnapshot desktop;
  DesktopMimeType type;
  type.name = "text/x-sample";
  type.comment = "Sample";
  type.extensions = {"smp"};
  type.applications = {"s.desktop"};
  desktop.mimeTypes.push_back(type);
  desktop.applications.push_back({"s.desktop", "S", "/usr/bin/s %f", "", "", "", false});
  CreateDesktopStore(path, desktop);
  for (const char* left : {".new", ".new-wal", ".new-shm"})
    EXPECT_FALSE(std::filesystem::exists(path + left)) << left;
  EXPECT_EQ(Stored(path, "\\.smp", ""), "Desktop.text.x-sample");
  EXPECT_EQ(Stored(path, "\\Desktop.text.x-sample\\Shell\\open\\command", ""),
            R"("/usr/bin/s" "%1")");
  EXPECT_EQ(Stored(path, "\\.txt", ""), "(no key)");
  EXPECT_EQ(Stored(path, layout::SettingsKey, layout::HelpUrlName, RootKey::CurrentUser),
            "https://fileinfo.com/extension/");
}

}  // namespace
}  // namespace kestrova::test
