// Reading a desktop of our own through QMimeDatabase and GIO: which extensions a type owns,
// which applications take it, and which the desktop itself leaves out.

#include "platform/DesktopDatabases.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/FakeDesktop.h"

namespace kestrova {
namespace {

class DesktopDatabases : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    test::FakeDesktop::Install(s_dir->Path());
    s_snapshot = new DesktopSnapshot(ReadDesktopDatabases());
  }
  static void TearDownTestSuite() {
    delete s_snapshot;
    delete s_dir;
  }

  static const DesktopMimeType& Type(const std::string& name) {
    const auto& types = s_snapshot->mimeTypes;
    const auto it = std::find_if(types.begin(), types.end(),
                                 [&](const DesktopMimeType& t) { return t.name == name; });
    static const DesktopMimeType kNone;
    EXPECT_NE(it, types.end()) << name;
    return it == types.end() ? kNone : *it;
  }
  static const DesktopApplication* App(const std::string& id) {
    for (const DesktopApplication& app : s_snapshot->applications)
      if (app.id == id) return &app;
    return nullptr;
  }

  static test::TempDir* s_dir;
  static DesktopSnapshot* s_snapshot;
};

test::TempDir* DesktopDatabases::s_dir = nullptr;
DesktopSnapshot* DesktopDatabases::s_snapshot = nullptr;

TEST_F(DesktopDatabases, TypesOwnTheExtensionsTheDesktopGivesThem) {
  const DesktopMimeType& doc = Type("application/x-kestrova-doc");
  EXPECT_EQ(doc.comment, "Kestrova test document");
  EXPECT_EQ(doc.icon, "kestrova-doc-icon");
  // The heavier claim on .kdoc wins; several dots are kept; letter case is folded.
  EXPECT_EQ(doc.extensions, (std::vector<std::string>{"kdoc", "kdoc.gz", "kdx"}));
  EXPECT_EQ(doc.preferredExtension, "kdoc");
  EXPECT_EQ(Type("application/x-kestrova-note").extensions, std::vector<std::string>{"knote"});
  // A literal name and a wildcard other than a leading "*." are no extensions.
  EXPECT_TRUE(Type("text/x-kestrova-build").extensions.empty());
  EXPECT_TRUE(Type("text/x-kestrova-build").preferredExtension.empty());
  EXPECT_TRUE(std::is_sorted(s_snapshot->mimeTypes.begin(), s_snapshot->mimeTypes.end(),
                             [](const auto& a, const auto& b) { return a.name < b.name; }));
}

TEST_F(DesktopDatabases, ApplicationsComeAsGioListsThem) {
  const DesktopMimeType& doc = Type("application/x-kestrova-doc");
  EXPECT_EQ(doc.defaultApplication, "kdoceditor.desktop");  // from mimeapps.list
  std::vector<std::string> docApps = doc.applications;
  std::sort(docApps.begin(), docApps.end());
  EXPECT_EQ(docApps, (std::vector<std::string>{"kdoceditor.desktop", "kdocviewer.desktop"}));
  const DesktopMimeType& note = Type("application/x-kestrova-note");
  EXPECT_EQ(note.defaultApplication, "bad.desktop");  // the first in the index
  // A NoDisplay entry still takes its types; a Hidden one is gone.
  EXPECT_NE(std::find(note.applications.begin(), note.applications.end(), "quiet.desktop"),
            note.applications.end());
  EXPECT_EQ(App("hidden.desktop"), nullptr);
  EXPECT_TRUE(s_snapshot->HasAssociations());

  const DesktopApplication* viewer = App("kdocviewer.desktop");
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->name, "Doc Viewer");
  EXPECT_EQ(viewer->exec, "/bin/true --view %f");
  EXPECT_EQ(viewer->icon, "viewer-icon");
  EXPECT_EQ(viewer->desktopFile, s_dir->Path() + "/applications/kdocviewer.desktop");
  EXPECT_TRUE(viewer->programPath.empty());  // named with its folder
  const DesktopApplication* quiet = App("quiet.desktop");
  ASSERT_NE(quiet, nullptr);
  EXPECT_TRUE(quiet->programPath.ends_with("/cat")) << quiet->programPath;
}

}  // namespace
}  // namespace kestrova
