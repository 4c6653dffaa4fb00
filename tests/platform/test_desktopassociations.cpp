// The reader works out GIO's application lists from the association files it reads once;
// here a desktop full of awkward cases is read both ways, and every answer must be the one
// GIO itself gives when asked type by type.

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/DesktopDatabases.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// The system's types: a document with an alias, a subclass of it and, in the user's own
// package, a subclass of that; a text type under text/plain; two types of their own.
constexpr char kSystemPackage[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-kt-doc">
    <comment>KT document</comment><alias type="application/x-kt-doc-alias"/>
    <glob pattern="*.ktdoc"/>
  </mime-type>
  <mime-type type="application/x-kt-sub">
    <comment>KT sub-document</comment><sub-class-of type="application/x-kt-doc"/>
    <glob pattern="*.ktsub"/>
  </mime-type>
  <mime-type type="text/x-kt-text">
    <comment>KT text</comment><sub-class-of type="text/plain"/>
    <glob pattern="*.kttext"/>
  </mime-type>
  <mime-type type="application/x-kt-note"><comment>KT note</comment><glob pattern="*.ktnote"/></mime-type>
  <mime-type type="application/x-kt-img"><comment>KT image</comment><glob pattern="*.ktimg"/></mime-type>
  <mime-type type="application/x-kt-old"><comment>KT old</comment><glob pattern="*.ktold"/></mime-type>
</mime-info>
)";

constexpr char kUserPackage[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-kt-user">
    <comment>KT user type</comment><sub-class-of type="application/x-kt-sub"/>
    <glob pattern="*.ktuser"/>
  </mime-type>
</mime-info>
)";

void RunTool(const std::string& command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

void Entry(const std::string& dir, const std::string& file, const std::string& keys) {
  fs::create_directories(fs::path(dir + "/" + file).parent_path());
  test::WriteFile(dir + "/" + file, "[Desktop Entry]\nType=Application\n" + keys);
}

// What the reader is compared with: GIO asked about one type, as the reader reports it (a
// hidden default is no default).
struct GioAnswer {
  std::string defaultApplication;
  std::vector<std::string> applications;
};

GioAnswer AskGio(const std::string& type) {
  GioAnswer answer;
  GList* all = g_app_info_get_all_for_type(type.c_str());
  for (GList* item = all; item; item = item->next)
    answer.applications.push_back(g_app_info_get_id(G_APP_INFO(item->data)));
  g_list_free_full(all, g_object_unref);
  if (GAppInfo* def = g_app_info_get_default_for_type(type.c_str(), FALSE)) {
    if (!g_desktop_app_info_get_is_hidden(G_DESKTOP_APP_INFO(def)))
      answer.defaultApplication = g_app_info_get_id(def);
    g_object_unref(def);
  }
  return answer;
}

class DesktopAssociations : public ::testing::Test {
 protected:
  // Every folder GIO reads is the test's own, set before anything reads GLib's folders.
  static void SetUpTestSuite() {
    s_dir = new test::TempDir;
    const std::string root = s_dir->Path();
    const std::string home = root + "/home", config = root + "/config",
                      sysConfig = root + "/sysconfig", sysA = root + "/sysA", sysB = root + "/sysB";
    for (const std::string& dir :
         {home + "/applications", home + "/mime/packages", config, sysConfig,
          sysA + "/applications", sysA + "/mime/packages", sysB + "/applications"})
      fs::create_directories(dir);
    if (fs::exists("/usr/share/mime"))
      fs::create_directory_symlink("/usr/share/mime", sysB + "/mime");

    test::WriteFile(sysA + "/mime/packages/kt.xml", kSystemPackage);
    test::WriteFile(home + "/mime/packages/kt-user.xml", kUserPackage);
    RunTool("PKGSYSTEM_ENABLE_FSYNC=0 update-mime-database '" + sysA + "/mime'");
    RunTool("PKGSYSTEM_ENABLE_FSYNC=0 update-mime-database '" + home + "/mime'");

    const std::string apps = sysA + "/applications";
    Entry(apps, "editor.desktop",
          "Name=Editor\nExec=/bin/true --edit %f\n"
          "MimeType=application/x-kt-doc;application/x-kt-img;text/plain;\n");
    Entry(apps, "viewer.desktop",
          "Name=Viewer\nExec=/bin/true %U\n"
          "MimeType=application/x-kt-doc;application/x-kt-sub;application/x-kt-note;\n");
    Entry(apps, "subonly.desktop",
          "Name=Sub Only\nExec=/bin/true %f\nMimeType=application/x-kt-sub;\n");
    Entry(apps, "hidden.desktop",
          "Name=Hidden\nHidden=true\nExec=/bin/true %f\nMimeType=application/x-kt-doc;\n");
    Entry(apps, "tryexec.desktop",
          "Name=Gone\nTryExec=/nonexistent/kt-tool\nExec=/bin/true %f\n"
          "MimeType=application/x-kt-doc;application/x-kt-note;\n");
    Entry(apps, "noprogram.desktop",
          "Name=No Program\nExec=kt-no-such-program %f\nMimeType=application/x-kt-note;\n");
    Entry(apps, "masked.desktop",
          "Name=Masked System\nExec=/bin/true %f\nMimeType=application/x-kt-img;\n");
    Entry(apps, "vendor/sub.desktop",
          "Name=Vendor Tool\nExec=/bin/true %f\nMimeType=text/x-kt-text;application/x-kt-user;\n");
    Entry(apps, "plain.desktop", "Name=Plain\nExec=cat %f\nMimeType=text/plain;\n");
    RunTool("update-desktop-database -q '" + apps + "'");
    // A folder's own deprecated list: a removal of an entry its cache lists, and a default.
    test::WriteFile(apps + "/mimeapps.list",
                    "[Removed Associations]\napplication/x-kt-img=editor.desktop;\n"
                    "[Default Applications]\napplication/x-kt-sub=subonly.desktop\n");
    test::WriteFile(apps + "/defaults.list",
                    "[Default Applications]\ntext/x-kt-text=plain.desktop\n");

    // The second system folder: a shadowed copy of editor.desktop, a hidden entry a stale
    // cache still names first, and an entry of its own.
    Entry(sysB + "/applications", "editor.desktop",
          "Name=Shadowed Editor\nExec=/bin/true %f\nMimeType=application/x-kt-note;\n");
    Entry(sysB + "/applications", "stale.desktop",
          "Name=Stale\nHidden=true\nExec=/bin/true %f\nMimeType=application/x-kt-img;\n");
    Entry(sysB + "/applications", "bonly.desktop",
          "Name=B Only\nExec=/bin/true %f\nMimeType=application/x-kt-img;application/x-kt-note;\n");
    test::WriteFile(sysB + "/applications/mimeinfo.cache",
                    "[MIME Cache]\napplication/x-kt-img=stale.desktop;bonly.desktop;\n"
                    "application/x-kt-note=editor.desktop;bonly.desktop;\n"
                    "application/x-kt-old=stale.desktop;bonly.desktop;\n");

    // The user's applications: one masking a system entry with Hidden, one of their own.
    Entry(home + "/applications", "masked.desktop",
          "Name=Masked\nHidden=true\nExec=/bin/true %f\nMimeType=application/x-kt-img;\n");
    Entry(home + "/applications", "mine.desktop",
          "Name=Mine\nExec=/bin/true %f\nMimeType=application/x-kt-note;application/x-kt-user;\n");
    RunTool("update-desktop-database -q '" + home + "/applications'");
    test::WriteFile(home + "/applications/mimeapps.list",
                    "[Default Applications]\napplication/x-kt-note=bonly.desktop\n");

    // The user's lists: a missing default before an installed one, an alias spelling, a
    // removal, an addition; a desktop-specific list (whose additions GIO ignores).
    test::WriteFile(config + "/mimeapps.list",
                    "[Default Applications]\n"
                    "application/x-kt-doc-alias=ghost.desktop;viewer.desktop;\n"
                    "application/x-kt-img=subonly.desktop\n"
                    "[Added Associations]\napplication/x-kt-doc-alias=subonly.desktop;\n"
                    "application/x-kt-note=plain.desktop;\n"
                    "[Removed Associations]\napplication/x-kt-doc=editor.desktop;\n"
                    "application/x-kt-note=bonly.desktop;\n");
    test::WriteFile(config + "/ktest-mimeapps.list",
                    "[Default Applications]\napplication/x-kt-note=mine.desktop\n"
                    "[Added Associations]\napplication/x-kt-img=plain.desktop;\n");
    test::WriteFile(sysConfig + "/mimeapps.list",
                    "[Default Applications]\napplication/x-kt-note=viewer.desktop\n"
                    "application/x-kt-user=vendor-sub.desktop\n"
                    "[Removed Associations]\ntext/plain=plain.desktop;\n");

    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", sysConfig.c_str(), 1);
    setenv("XDG_DATA_DIRS", (sysA + ":" + sysB).c_str(), 1);
    setenv("XDG_CURRENT_DESKTOP", "KTest:Other", 1);
  }
  static void TearDownTestSuite() { delete s_dir; }

  static test::TempDir* s_dir;
};

test::TempDir* DesktopAssociations::s_dir = nullptr;

TEST_F(DesktopAssociations, EveryTypeGetsTheApplicationsGioGives) {
  std::vector<std::string> types{"application/x-kt-doc-alias", "application/x-kt-unknown",
                                 "inode/directory"};
  GList* registered = g_content_types_get_registered();
  for (GList* item = registered; item; item = item->next)
    types.emplace_back(static_cast<const char*>(item->data));
  g_list_free_full(registered, g_free);
  ASSERT_TRUE(std::find(types.begin(), types.end(), "application/x-kt-user") != types.end());

  bool fromTables = false;
  const std::vector<DesktopMimeType> read = ReadDesktopApplications(types, &fromTables);
  EXPECT_TRUE(fromTables);  // else this compares GIO with itself
  ASSERT_EQ(read.size(), types.size());
  int withApplications = 0;
  for (size_t i = 0; i < types.size(); ++i) {
    const GioAnswer gio = AskGio(types[i]);
    EXPECT_EQ(read[i].defaultApplication, gio.defaultApplication) << types[i];
    EXPECT_EQ(read[i].applications, gio.applications) << types[i];
    withApplications += !gio.applications.empty();
  }
  EXPECT_GT(withApplications, 6);  // the cases above took part
}

// The cases spelled out, so that a change in GIO's rules shows which case moved.
TEST_F(DesktopAssociations, TheAwkwardCasesComeOutAsTheDesktopHasThem) {
  const std::vector<DesktopMimeType> read = ReadDesktopApplications(
      {"application/x-kt-doc", "application/x-kt-sub", "application/x-kt-user",
       "application/x-kt-note", "application/x-kt-img", "text/x-kt-text", "application/x-kt-old"});
  using Ids = std::vector<std::string>;
  const auto& [doc, sub, user, note, img, text, old] =
      std::tie(read[0], read[1], read[2], read[3], read[4], read[5], read[6]);
  // A missing default is passed over; an alias key counts; a removal, Hidden and a missing
  // TryExec program leave entries out.
  EXPECT_EQ(doc.defaultApplication, "viewer.desktop");
  EXPECT_EQ(doc.applications, (Ids{"subonly.desktop", "viewer.desktop"}));
  // A subclass: its own entries (its folder's default among them), then its parent's.
  EXPECT_EQ(sub.defaultApplication, "subonly.desktop");
  EXPECT_EQ(sub.applications, (Ids{"subonly.desktop", "viewer.desktop"}));
  // Two levels down, from the user's own MIME package; the admin's default.
  EXPECT_EQ(user.defaultApplication, "vendor-sub.desktop");
  EXPECT_EQ(user.applications,
            (Ids{"mine.desktop", "vendor-sub.desktop", "subonly.desktop", "viewer.desktop"}));
  // The desktop-specific default beats the user's plain list and the admin's; the user's
  // addition comes first; the copy of editor.desktop in the second system folder is
  // shadowed by the first; a missing program leaves its entry out.
  EXPECT_EQ(note.defaultApplication, "mine.desktop");
  EXPECT_EQ(note.applications, (Ids{"plain.desktop", "mine.desktop", "viewer.desktop"}));
  // A default need not list the type; the user's hidden entry masks the system one; a
  // folder's own list cannot remove what its own cache lists.
  EXPECT_EQ(img.defaultApplication, "subonly.desktop");
  EXPECT_EQ(img.applications, (Ids{"editor.desktop", "bonly.desktop"}));
  // defaults.list still counts; the admin's removal from text/plain shows in its subclass.
  EXPECT_EQ(text.defaultApplication, "plain.desktop");
  EXPECT_EQ(text.applications, (Ids{"vendor-sub.desktop", "editor.desktop"}));
  // GIO names the hidden entry a stale cache lists first as the default: no default here.
  EXPECT_EQ(old.defaultApplication, "");
  EXPECT_EQ(old.applications, (Ids{"bonly.desktop"}));
}

TEST_F(DesktopAssociations, TheSnapshotDescribesTheEntriesGioLoads) {
  const DesktopSnapshot snapshot = ReadDesktopDatabases();
  ASSERT_FALSE(snapshot.applications.empty());
  for (const DesktopApplication& app : snapshot.applications) {
    GDesktopAppInfo* info = g_desktop_app_info_new(app.id.c_str());
    ASSERT_NE(info, nullptr) << app.id;
    EXPECT_EQ(app.desktopFile, g_desktop_app_info_get_filename(info)) << app.id;
    EXPECT_EQ(app.name, g_app_info_get_name(G_APP_INFO(info))) << app.id;
    EXPECT_EQ(app.exec, g_app_info_get_commandline(G_APP_INFO(info))) << app.id;
    g_object_unref(info);
  }
  for (const DesktopMimeType& type : snapshot.mimeTypes) {
    if (type.extensions.empty()) continue;
    const GioAnswer gio = AskGio(type.name);
    EXPECT_EQ(type.defaultApplication, gio.defaultApplication) << type.name;
    EXPECT_EQ(type.applications, gio.applications) << type.name;
  }
}

}  // namespace
}  // namespace kestrova
