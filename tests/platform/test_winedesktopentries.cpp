// Wine's entries on a desktop of the test's own: found with the prefix each opens files in,
// removed one by one or all with backups, and the desktop's own choice back afterwards as
// GIO and xdg-utils report it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <filesystem>

#include "platform/WineDesktopEntries.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/QtFiles.h"
#include "tests/support/TestStore.h"

namespace kestrova::test {
namespace {

QByteArray Data(const QString& name) {
  return ReadAll(qEnvironmentVariable("KESTROVA_SOURCE_DIR") + "/tests/platform/data/wine/" + name);
}

TEST(WinePrefixOf, ReadsTheCommandLinesWineWrites) {
  const QString home = QDir::homePath();
  struct Case {
    const char* exec;
    QString prefix;  // empty: not Wine
    bool named;
  } cases[] = {
      {R"(env WINEPREFIX="/home/u/.wine" wine start /ProgIDOpen txtfile %f)", "/home/u/.wine",
       true},
      {R"(env WINEPREFIX="/home/u/Wine Games/pfx/" wine start /ProgIDOpen x %f)",
       "/home/u/Wine Games/pfx", true},
      {R"(env WINEPREFIX="/p/say \"hi\"" wine start /ProgIDOpen x %f)", "/p/say \"hi\"", true},
      {R"(env LANG=C WINEPREFIX=/p WINEDEBUG=-all /usr/bin/wine64 start x %f)", "/p", true},
      {"wine start /ProgIDOpen KnoteFile %f", home + "/.wine", false},
      {"env WINEPREFIX=games wine-stable start x %f", home + "/games", true},
      {"env WINEPREFIX=/p gedit %f", "", false},
      {"winecfg", "", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exec);
    const auto prefix = WinePrefixOf(c.exec);
    if (c.prefix.isEmpty()) {
      EXPECT_FALSE(prefix.has_value());
      continue;
    }
    ASSERT_TRUE(prefix.has_value());
    EXPECT_EQ(prefix->path, c.prefix);
    EXPECT_EQ(prefix->named, c.named);
  }
}

TEST(WithoutId, DropsOnlyThatIdAndKeepsTheListsShape) {
  EXPECT_EQ(WithoutId("a.desktop;b.desktop;", "a.desktop"), "b.desktop;");
  EXPECT_EQ(WithoutId("b.desktop;a.desktop", "a.desktop"), "b.desktop");
  EXPECT_EQ(WithoutId("a.desktop", "a.desktop"), "");
  EXPECT_EQ(WithoutId("a.desktop;", "a.desktop"), "");
  EXPECT_EQ(WithoutId("xa.desktop;b.desktop;", "a.desktop"), "xa.desktop;b.desktop;");
}

class WineDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_live = QString::fromStdString(m_dir.File("prefixes/live"));
    QDir().mkpath(m_live);
    m_gone = QString::fromStdString(m_dir.File("prefixes/gone"));
    for (const char* name : {"wine-extension-kbq.desktop", "wine-extension-txt.desktop",
                             "wine-extension-knote.desktop"}) {
      QByteArray text = Data(name);
      text.replace("@LIVE@", m_live.toUtf8()).replace("@GONE@", m_gone.toUtf8());
      WriteAll(m_folders.Applications() + '/' + name, text);
    }
    WriteAll(Package("x-wine-extension-kbq.xml"), Data("x-wine-extension-kbq.xml"));
    WriteAll(Package("x-wine-extension-old.xml"), Data("x-wine-extension-old.xml"));
    // Named like Wine's, but not Wine's: never touched.
    WriteAll(m_folders.Applications() + "/wine-extension-mine.desktop",
             "[Desktop Entry]\nType=Application\nName=Mine\nExec=gedit %f\n"
             "MimeType=text/x-mine;\n");
    WriteAll(m_folders.MimeAppsList(), Data("mimeapps.list"));
    m_home = qgetenv("HOME");
    setenv("HOME", m_dir.File("home").c_str(), 1);
  }
  void TearDown() override { setenv("HOME", m_home.constData(), 1); }

  QString Package(const QString& name) const {
    return QFileInfo(m_folders.MimePackage()).absolutePath() + '/' + name;
  }
  QString Entry(const QString& id) const { return m_folders.Applications() + '/' + id; }
  BackupNamer Namer() {
    return [this](const QString& name, const QString& suffix) {
      return QString::fromStdString(m_dir.File("backups/")) + name + '.' + suffix;
    };
  }
  QString Backup(const QString& name) const {
    return QString::fromStdString(m_dir.File("backups/")) + name;
  }

  TempDir m_dir;
  DesktopFolders m_folders{QString::fromStdString(m_dir.File("data")),
                           QString::fromStdString(m_dir.File("config"))};
  QString m_live;
  QString m_gone;
  QByteArray m_home;
};

TEST_F(WineDesktopTest, FindsEachEntryWithItsPrefixTypesAndTheLinesChoosingIt) {
  const WineDesktop desktop = ReadWineDesktop(m_folders);
  EXPECT_TRUE(desktop.problems.isEmpty());
  ASSERT_EQ(desktop.entries.size(), 3u);

  const WineEntry& kbq = desktop.entries[0];
  EXPECT_EQ(kbq.id, "wine-extension-kbq.desktop");
  EXPECT_EQ(kbq.name, "Kbq Viewer");
  EXPECT_EQ(kbq.prefix.path, m_live);
  EXPECT_TRUE(kbq.prefix.named);
  EXPECT_TRUE(kbq.prefixExists);
  EXPECT_EQ(kbq.extensions, QStringList{".kbq"});
  EXPECT_EQ(kbq.ownTypes, QStringList{"application/x-wine-extension-kbq"});
  EXPECT_EQ(kbq.defaults, QStringList{"application/x-wine-extension-kbq"});
  EXPECT_EQ(kbq.added, QStringList{"application/x-wine-extension-kbq"});

  const WineEntry& knote = desktop.entries[1];
  EXPECT_EQ(knote.prefix.path, QDir::homePath() + "/.wine");
  EXPECT_FALSE(knote.prefix.named);
  EXPECT_FALSE(knote.prefixExists);
  EXPECT_EQ(knote.defaults, QStringList{"application/x-kestrova-note"});
  EXPECT_TRUE(knote.ownTypes.isEmpty());

  const WineEntry& txt = desktop.entries[2];
  EXPECT_EQ(txt.prefix.path, m_gone);
  EXPECT_FALSE(txt.prefixExists);
  EXPECT_EQ(txt.mimeTypes, QStringList{"text/plain"});
  EXPECT_TRUE(txt.ownTypes.isEmpty());  // the desktop's own type is never Wine's to remove
  EXPECT_EQ(txt.defaults, QStringList{"text/plain"});
  EXPECT_EQ(txt.added, QStringList{"text/plain"});

  EXPECT_EQ(desktop.orphanTypes, QStringList{"application/x-wine-extension-old"});
}

TEST_F(WineDesktopTest, RemovingOneTakesItsFilesAndItsIdsOnlyAfterCopyingThem) {
  const QByteArray listBefore = ReadAll(m_folders.MimeAppsList());
  const QByteArray entryBefore = ReadAll(Entry("wine-extension-kbq.desktop"));
  const WineRemoval removal = RemoveWineEntries(m_folders, ReadWineDesktop(m_folders),
                                                {"wine-extension-kbq.desktop"}, {}, Namer());
  EXPECT_TRUE(removal.problems.isEmpty()) << removal.problems.join(' ').toStdString();
  EXPECT_EQ(removal.removedEntries, 1);
  EXPECT_EQ(removal.removedTypes, 1);
  EXPECT_TRUE(removal.rebuildMime);
  EXPECT_TRUE(removal.rebuildApplications);

  EXPECT_FALSE(QFile::exists(Entry("wine-extension-kbq.desktop")));
  EXPECT_FALSE(QFile::exists(Package("x-wine-extension-kbq.xml")));
  EXPECT_TRUE(QFile::exists(Package("x-wine-extension-old.xml")));  // not asked for
  EXPECT_TRUE(QFile::exists(Entry("wine-extension-txt.desktop")));
  EXPECT_TRUE(QFile::exists(Entry("wine-extension-mine.desktop")));
  EXPECT_EQ(ReadAll(m_folders.MimeAppsList()),
            "# the user's own choices stay as they are\n"
            "[Default Applications]\n"
            "text/plain=wine-extension-txt.desktop\n"
            "application/pdf=viewer.desktop\n"
            "application/x-kestrova-note=wine-extension-knote.desktop;quiet.desktop;\n"
            "\n"
            "[Added Associations]\n"
            "text/plain=gedit.desktop;wine-extension-txt.desktop;\n"
            "\n"
            "[Removed Associations]\n"
            "text/plain=wine-extension-txt.desktop;\n");

  // Every file it changed or removed, as it was.
  EXPECT_EQ(removal.backups.size(), 3);
  EXPECT_EQ(ReadAll(Backup("mimeapps.list")), listBefore);
  EXPECT_EQ(ReadAll(Backup("wine-extension-kbq.desktop")), entryBefore);
  EXPECT_EQ(ReadAll(Backup("x-wine-extension-kbq.xml")), Data("x-wine-extension-kbq.xml"));
}

TEST_F(WineDesktopTest, RemovingAllLeavesOnlyTheUsersOwnLines) {
  const WineDesktop desktop = ReadWineDesktop(m_folders);
  QStringList ids;
  for (const WineEntry& entry : desktop.entries) ids << entry.id;
  const WineRemoval removal =
      RemoveWineEntries(m_folders, desktop, ids, desktop.orphanTypes, Namer());
  EXPECT_TRUE(removal.problems.isEmpty());
  EXPECT_EQ(removal.removedEntries, 3);
  EXPECT_EQ(removal.removedTypes, 2);
  const WineDesktop after = ReadWineDesktop(m_folders);
  EXPECT_TRUE(after.entries.empty());
  EXPECT_TRUE(after.orphanTypes.isEmpty());
  EXPECT_TRUE(QFile::exists(Entry("wine-extension-mine.desktop")));
  // A list naming only Wine goes; one naming others keeps them; [Removed Associations] and
  // comments stay.
  EXPECT_EQ(ReadAll(m_folders.MimeAppsList()),
            "# the user's own choices stay as they are\n"
            "[Default Applications]\n"
            "application/pdf=viewer.desktop\n"
            "application/x-kestrova-note=quiet.desktop;\n"
            "\n"
            "[Added Associations]\n"
            "text/plain=gedit.desktop;\n"
            "\n"
            "[Removed Associations]\n"
            "text/plain=wine-extension-txt.desktop;\n");
  EXPECT_EQ(removal.backups.size(), 6);
}

TEST_F(WineDesktopTest, NothingChangesWhenACopyCannotBeWritten) {
  const QByteArray listBefore = ReadAll(m_folders.MimeAppsList());
  WriteAll(QString::fromStdString(m_dir.File("blocker")), "a file, not a folder");
  const WineDesktop desktop = ReadWineDesktop(m_folders);
  const WineRemoval removal =
      RemoveWineEntries(m_folders, desktop, {"wine-extension-txt.desktop"}, {},
                        [this](const QString& n, const QString&) {
                          return QString::fromStdString(m_dir.File("blocker/")) + n;
                        });
  ASSERT_EQ(removal.problems.size(), 1);
  EXPECT_TRUE(removal.problems[0].endsWith("Nothing was removed."));
  EXPECT_FALSE(removal.rebuildApplications);
  EXPECT_TRUE(QFile::exists(Entry("wine-extension-txt.desktop")));
  EXPECT_EQ(ReadAll(m_folders.MimeAppsList()), listBefore);
}

TEST_F(WineDesktopTest, ATypeThatWouldLeaveThePackagesFolderIsNotWines) {
  WriteAll(QString::fromStdString(m_dir.File("data/mime/victim.xml")), "keep me");
  WriteAll(Entry("wine-extension-evil.desktop"),
           "[Desktop Entry]\nType=Application\nName=Evil\n"
           "MimeType=application/x-wine-extension-a/../../victim;\n"
           "Exec=wine start /ProgIDOpen x %f\n");
  const WineDesktop desktop = ReadWineDesktop(m_folders);
  const auto evil = std::find_if(desktop.entries.begin(), desktop.entries.end(),
                                 [](const WineEntry& e) { return e.id.contains("evil"); });
  ASSERT_NE(evil, desktop.entries.end());
  EXPECT_TRUE(evil->ownTypes.isEmpty());
  RemoveWineEntries(m_folders, desktop, {evil->id}, {}, Namer());
  EXPECT_EQ(ReadAll(QString::fromStdString(m_dir.File("data/mime/victim.xml"))), "keep me");
}

// What the desktop's tools say is the default and the applications of a type.
QString Ask(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  process.waitForFinished(20000);
  return QString::fromUtf8(process.readAllStandardOutput());
}

TEST(WineRemovalOnTheDesktop, GioAndXdgMimeReportTheSystemsChoiceAgain) {
  for (const char* tool : {"gio", "xdg-mime", "update-desktop-database", "update-mime-database"}) {
    if (QStandardPaths::findExecutable(tool).isEmpty()) {
      GTEST_SKIP() << tool << " is not installed";
    }
  }
  unsetenv("XDG_CURRENT_DESKTOP");
  TempDir dir;
  FakeDesktop::Install(dir.File("system"));
  const DesktopFolders folders = UserDesktopFolders();
  const QString type = "application/x-kestrova-note";
  const QString gioBefore = Ask("gio", {"mime", type});
  const QString xdgBefore = Ask("xdg-mime", {"query", "default", type});
  ASSERT_FALSE(gioBefore.contains("wine"));

  // Wine takes the type over: its entry, indexed, and the user's default naming it.
  WriteAll(folders.Applications() + "/wine-extension-knote.desktop",
           Data("wine-extension-knote.desktop"));
  QByteArray list = ReadAll(folders.MimeAppsList());
  list +=
      "application/x-kestrova-note=wine-extension-knote.desktop\n"
      "[Added Associations]\n"
      "application/x-kestrova-note=wine-extension-knote.desktop;\n";
  WriteAll(folders.MimeAppsList(), list);
  ASSERT_TRUE(RebuildDesktopDatabases(folders, false, true).isEmpty());
  ASSERT_TRUE(Ask("gio", {"mime", type}).contains("wine-extension-knote.desktop"));
  ASSERT_EQ(Ask("xdg-mime", {"query", "default", type}).trimmed(), "wine-extension-knote.desktop");

  const WineDesktop desktop = ReadWineDesktop(folders);
  ASSERT_EQ(desktop.entries.size(), 1u);
  const WineRemoval removal = RemoveWineEntries(
      folders, desktop, {desktop.entries[0].id}, {}, [&dir](const QString& n, const QString& s) {
        return QString::fromStdString(dir.File("backups/")) + n + '.' + s;
      });
  ASSERT_TRUE(removal.problems.isEmpty());
  ASSERT_TRUE(
      RebuildDesktopDatabases(folders, removal.rebuildMime, removal.rebuildApplications).isEmpty());
  EXPECT_EQ(Ask("gio", {"mime", type}), gioBefore);
  EXPECT_EQ(Ask("xdg-mime", {"query", "default", type}), xdgBefore);
}

}  // namespace
}  // namespace kestrova::test
