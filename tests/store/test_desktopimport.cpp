// The desktop import from a hand-made snapshot: the keys it writes, stable file type names,
// the content-type database, and refreshes that keep what the user made or changed.

#include "store/DesktopImport.h"

#include <gtest/gtest.h>

#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

using test::HasKey;
using test::ReadValue;
using test::WriteText;

DesktopApplication App(std::string id, std::string name, std::string exec) {
  DesktopApplication app;
  app.id = std::move(id);
  app.name = std::move(name);
  app.exec = std::move(exec);
  app.desktopFile = "/usr/share/applications/" + app.id;
  return app;
}

DesktopSnapshot Desktop() {
  DesktopSnapshot desktop;
  DesktopMimeType pdf;
  pdf.name = "application/pdf";
  pdf.comment = "PDF document";
  pdf.icon = "application-pdf";
  pdf.extensions = {"pdf"};
  pdf.preferredExtension = "pdf";
  pdf.defaultApplication = "org.viewer.desktop";
  pdf.applications = {"gimp.desktop", "org.viewer.desktop", "broken.desktop"};
  desktop.mimeTypes.push_back(pdf);

  DesktopMimeType tar;
  tar.name = "application/x-compressed-tar";
  tar.comment = "Tar archive (gzip-compressed)";
  tar.icon = "application-x-compressed-tar";
  tar.extensions = {"tar.gz", "tgz"};
  tar.preferredExtension = "tar.gz";
  desktop.mimeTypes.push_back(tar);

  DesktopMimeType readme;  // no extension of its own: only the content-type database
  readme.name = "text/x-readme";
  readme.comment = "README document";
  readme.applications = {"gimp.desktop"};
  desktop.mimeTypes.push_back(readme);

  desktop.applications.push_back(App("org.viewer.desktop", "Document Viewer", "viewer %U"));
  desktop.applications.back().programPath = "/usr/bin/viewer";
  desktop.applications.push_back(
      App("gimp.desktop", "GNU Image Manipulation Program", "/usr/bin/gimp-2.10 %U"));
  desktop.applications.push_back(App("broken.desktop", "Broken", "broken \"open"));
  return desktop;
}

DesktopImportReport Import(const test::TestStore& store, const DesktopSnapshot& desktop) {
  return ImportDesktop(*store.Engine(), desktop);
}

TEST(DesktopImport, WritesExtensionsFileTypesAndActions) {
  test::TestStore store;
  const DesktopImportReport report = Import(store, Desktop());
  EXPECT_EQ(report.kept, 0);
  ASSERT_EQ(report.skipped.size(), 1u);
  EXPECT_EQ(report.skipped[0], "broken.desktop: a double quote is not closed");

  EXPECT_EQ(ReadValue("\\.pdf", ""), "Desktop.application.pdf");
  EXPECT_EQ(ReadValue("\\.pdf", "Content Type"), "application/pdf");
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf", ""), "PDF document");
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\DefaultIcon", ""), "application-pdf");
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell", ""), "open");
  // The default application opens; every other one gets an action of its own.
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\open", ""), "&Open");
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\open\\command", ""),
            R"("/usr/bin/viewer" "%1")");
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\openwith.gimp", ""),
            "Open with GNU Image Manipulation Program");
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\openwith.gimp\\command", ""),
            R"("/usr/bin/gimp-2.10" "%1")");
  EXPECT_FALSE(HasKey("\\Desktop.application.pdf\\Shell\\openwith.org.viewer"));
  EXPECT_FALSE(HasKey("\\Desktop.application.pdf\\Shell\\openwith.broken"));

  // Several extensions share one file type; without applications it has no actions.
  EXPECT_EQ(ReadValue("\\.tar.gz", ""), "Desktop.application.x-compressed-tar");
  EXPECT_EQ(ReadValue("\\.tgz", ""), "Desktop.application.x-compressed-tar");
  EXPECT_FALSE(HasKey("\\Desktop.application.x-compressed-tar\\Shell"));
  // A type without an extension makes no file type.
  EXPECT_FALSE(HasKey("\\Desktop.text.x-readme"));
}

TEST(DesktopImport, FillsTheContentTypeDatabase) {
  test::TestStore store;
  Import(store, Desktop());
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("application/pdf"), "Extension"), ".pdf");
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("application/x-compressed-tar"), "Extension"),
            ".tar.gz");
  EXPECT_TRUE(HasKey(layout::ContentTypeKey("text/x-readme")));
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("text/x-readme"), "Extension"), "(no value)");
}

// A type whose preferred extension another type owns names one of its own, so that the
// database never gives it to an extension that has another type; a type with none of its own
// keeps the preferred one.
TEST(DesktopImport, TheDatabaseNamesAnExtensionTheTypeOwns) {
  DesktopSnapshot desktop;
  DesktopMimeType python;
  python.name = "text/x-python";
  python.extensions = {"py"};
  python.preferredExtension = "py";
  DesktopMimeType python3;
  python3.name = "text/x-python3";
  python3.extensions = {"py3", "pyi"};
  python3.preferredExtension = "py";
  DesktopMimeType lonely;
  lonely.name = "text/x-lonely";
  lonely.preferredExtension = "py";
  desktop.mimeTypes = {python, python3, lonely};
  test::TestStore store;
  Import(store, desktop);
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("text/x-python"), "Extension"), ".py");
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("text/x-python3"), "Extension"), ".py3");
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("text/x-lonely"), "Extension"), ".py");
  EXPECT_EQ(ReadValue(layout::ExtKey("pyi"), "Content Type"), "text/x-python3");
}

TEST(DesktopImport, FileTypeNamesAreStableAndValid) {
  EXPECT_EQ(layout::DesktopProgId("application/pdf"), "Desktop.application.pdf");
  EXPECT_EQ(layout::DesktopProgId("application/vnd.oasis.opendocument.text"),
            "Desktop.application.vnd.oasis.opendocument.text");
  EXPECT_EQ(layout::DesktopOpenWithVerb("org.gnome.gedit.desktop"), "openwith.org.gnome.gedit");
  // Two imports of the same desktop write the same keys: the second changes nothing.
  test::TestStore store;
  Import(store, Desktop());
  const DesktopImportReport again = Import(store, Desktop());
  EXPECT_EQ(again.written, 0);
  EXPECT_EQ(again.kept, 0);
  EXPECT_GT(again.unchanged, 0);
}

TEST(DesktopImport, RefreshUpdatesUntouchedKeysAndKeepsTheUsersEdits) {
  test::TestStore store;
  Import(store, Desktop());
  // The user changes the PDF file type's open command, deletes .tgz and makes .foo.
  WriteText("\\Desktop.application.pdf\\Shell\\open\\command", "", "\"/usr/bin/mine\" \"%1\"");
  {
    AssocStore s;
    s.SetRoot(RootKey::ClassesRoot);
    ASSERT_TRUE(s.RemovePath("\\.tgz"));
  }
  WriteText("\\.foo", "", "Desktop.application.pdf");

  // Meanwhile the desktop renamed the tar type, claims .foo and dropped the readme type.
  DesktopSnapshot desktop = Desktop();
  desktop.mimeTypes[0].extensions.push_back("foo");
  desktop.mimeTypes[1].comment = "Compressed tar archive";
  desktop.mimeTypes.pop_back();
  const DesktopImportReport report = Import(store, desktop);
  EXPECT_EQ(report.kept, 3);  // the PDF file type, .tgz and .foo
  EXPECT_EQ(report.removed, 1);

  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\open\\command", ""),
            "\"/usr/bin/mine\" \"%1\"");
  EXPECT_FALSE(HasKey("\\.tgz"));
  EXPECT_EQ(ReadValue("\\.foo", "Content Type"), "(no value)");
  EXPECT_EQ(ReadValue("\\Desktop.application.x-compressed-tar", ""), "Compressed tar archive");
  EXPECT_FALSE(HasKey(layout::ContentTypeKey("text/x-readme")));

  // The next refresh still leaves them: an edited key is the user's for good, and a
  // deleted one stays deleted.
  desktop.mimeTypes[0].comment = "Portable Document";
  Import(store, desktop);
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf", ""), "PDF document");
  EXPECT_FALSE(HasKey("\\.tgz"));
  EXPECT_EQ(ReadValue("\\.tar.gz", ""), "Desktop.application.x-compressed-tar");
}

TEST(DesktopImport, KeysTheUserMadeBeforeTheFirstImportAreLeftAlone) {
  test::TestStore store;
  WriteText("\\.pdf", "", "AcroExch.Document");
  WriteText(layout::ContentTypeKey("application/pdf"), "Extension", ".pdf");
  const DesktopImportReport report = Import(store, Desktop());
  EXPECT_EQ(report.kept, 1);
  EXPECT_EQ(ReadValue("\\.pdf", ""), "AcroExch.Document");
  // The same content as the import's counts as the import's from now on.
  EXPECT_EQ(report.unchanged, 1);
  DesktopSnapshot desktop = Desktop();
  desktop.mimeTypes[0].preferredExtension = "PDF";
  Import(store, desktop);
  EXPECT_EQ(ReadValue(layout::ContentTypeKey("application/pdf"), "Extension"), ".PDF");
  EXPECT_EQ(ReadValue("\\.pdf", ""), "AcroExch.Document");
}

TEST(DesktopImport, DigestsSeeEveryPartOfAKey) {
  test::TestStore store;
  WriteText("\\k\\sub", "a", "1");
  auto engine = store.Engine();
  const auto digestOfK = [&] {
    KeyRef classes = engine->Root(RootKey::ClassesRoot);
    return KeyDigest(*engine, *engine->FindChild(classes, "k"));
  };
  const std::string before = digestOfK();
  EXPECT_EQ(before, digestOfK());
  WriteText("\\k\\sub", "a", "2");
  const std::string changedData = digestOfK();
  EXPECT_NE(changedData, before);
  WriteText("\\k\\sub", "a", "1");
  EXPECT_EQ(digestOfK(), before);
  test::WriteDword("\\k\\sub", "a", 1);
  EXPECT_NE(digestOfK(), before);
  WriteText("\\k\\sub", "a", "1");
  WriteText("\\k\\sub\\deeper", "", "");
  EXPECT_NE(digestOfK(), before);
}

TEST(DesktopImport, TerminalApplicationsRunInTheDesktopsTerminal) {
  DesktopSnapshot desktop = Desktop();
  desktop.applications[0].terminal = true;  // the PDF viewer
  {
    test::TestStore store;
    const DesktopImportReport report = Import(store, desktop);
    EXPECT_EQ(report.skipped.front(),
              "org.viewer.desktop: it runs in a terminal, and the desktop has none");
    // The next application opens instead.
    EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\open\\command", ""),
              R"("/usr/bin/gimp-2.10" "%1")");
  }
  test::TestStore store;
  desktop.terminal = {"/usr/bin/xterm", "-e"};
  Import(store, desktop);
  EXPECT_EQ(ReadValue("\\Desktop.application.pdf\\Shell\\open\\command", ""),
            R"("/usr/bin/xterm" -e /usr/bin/viewer "%1")");
}

TEST(DesktopImport, OddNamesAreLeftOutNotFailed) {
  test::TestStore store;
  DesktopSnapshot desktop;
  DesktopMimeType odd;
  odd.name = "application/x-back\\slash";
  odd.extensions = {"ok", std::string(300, 'e')};
  odd.applications = {"a.desktop"};
  desktop.mimeTypes.push_back(odd);
  DesktopMimeType fine;
  fine.name = "text/x-fine";
  fine.extensions = {"ok", "fine"};
  desktop.mimeTypes.push_back(fine);
  desktop.applications.push_back(App("a.desktop", "A", "a %f"));
  Import(store, desktop);
  EXPECT_FALSE(HasKey(layout::ContentTypeKey("application/x-back\\slash")));
  // The backslash type makes no file type, so .ok goes to the next type that owns it.
  EXPECT_EQ(ReadValue("\\.ok", ""), "Desktop.text.x-fine");
  EXPECT_EQ(ReadValue("\\.fine", ""), "Desktop.text.x-fine");
  EXPECT_EQ(ReadValue("\\Desktop.text.x-fine", ""), "text/x-fine");
}

}  // namespace
}  // namespace kestrova
