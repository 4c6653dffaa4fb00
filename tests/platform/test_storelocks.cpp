// The store keeps its locks while the program looks at files: nothing in this process
// opens the store's files outside SQLite, so a backup run beside it never takes the store
// from under it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractFileIconProvider>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <cstdlib>

#include "platform/Boxes.h"
#include "platform/IconPickerDesktop.h"
#include "platform/IconSourceDesktop.h"
#include "platform/SqliteStore.h"
#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "tests/support/TestStore.h"

namespace kestrova {
namespace {

// True when another process sees this one holding SQLite's shared lock on the database,
// the lock that tells every other connection that this one is still there.
bool HoldsSharedLock(const std::string& path) {
  const pid_t self = getpid();
  const pid_t child = fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000002;  // SQLite's shared-lock range
    lock.l_len = 510;
    const bool held =
        fd >= 0 && fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK && lock.l_pid == self;
    _exit(held ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Outcome {
  int status;
  QString out;
};

Outcome RunProgram(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

TEST(StoreLocks, LookingAtTheStoresFilesKeepsItsLocksAndABackupTakesNothing) {
  test::TempDir dir;
  const std::string path = dir.File("registry.db");
  setenv("KESTROVA_STORE", path.c_str(), 1);
  const QString regedit = QStringLiteral(KESTROVA_REGEDIT_PATH);
  const QString key = QString::fromStdString(layout::ExtBackupKey("lock"));

  auto engine = OpenSqliteStore(path);
  AssocStore s(engine);
  s.SetRoot(RootKey::ClassesRoot);
  ASSERT_TRUE(s.OpenPath(layout::ExtKey("lock"), true));
  s.PutText(layout::DefaultValueName, "before");
  ASSERT_EQ(s.GetText(layout::DefaultValueName), "before");
  ASSERT_TRUE(HoldsSharedLock(path));

  // What a file dialog does for every entry of the folder it lists, and what the icon
  // picker does with a file the user names.
  const auto dialog = MakeFileDialog(nullptr, "Browse", QString::fromStdString(dir.Path()));
  QAbstractFileIconProvider* icons = dialog->iconProvider();
  ASSERT_NE(icons, nullptr);
  const auto source = CreateDesktopIconSource();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string file = path + suffix;
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(file))) << file;
    const QFileInfo info(QString::fromStdString(file));
    EXPECT_FALSE(icons->type(info).isEmpty());
    icons->icon(info);
    EXPECT_FALSE(source->Extract(file, 0)) << file;
    EXPECT_EQ(source->Count(file), 0) << file;
    IconPickerDialog picker;
    picker.SetChoice(file, 0);
    EXPECT_EQ(picker.IconList->count(), 0);
    EXPECT_TRUE(picker.Note->text().contains("association store"))
        << picker.Note->text().toStdString();
  }
  EXPECT_TRUE(HoldsSharedLock(path)) << "a file of the store was opened and closed outside SQLite";

  // The backup before a change, by the real registry editor in a process of its own.
  const std::string backup = dir.File("backup.reg");
  const Outcome exported = RunProgram(regedit, {"/e", QString::fromStdString(backup), key});
  ASSERT_EQ(exported.status, 0) << exported.out.toStdString();
  EXPECT_NE(test::ReadFile(backup).find("before"), std::string::npos);

  s.PutText(layout::DefaultValueName, "after");
  EXPECT_TRUE(HoldsSharedLock(path));

  // Another process sees the write, and the file is whole.
  const std::string check = dir.File("check.reg");
  const Outcome seen = RunProgram(regedit, {"/e", QString::fromStdString(check), key});
  ASSERT_EQ(seen.status, 0) << seen.out.toStdString();
  EXPECT_NE(test::ReadFile(check).find("\"after\""), std::string::npos) << test::ReadFile(check);
  const Outcome integrity =
      RunProgram(QStringLiteral(KESTROVA_INTEGRITY_CHECK_PATH), {QString::fromStdString(path)});
  EXPECT_EQ(integrity.status, 0);
  EXPECT_EQ(integrity.out.trimmed().toStdString(), "ok");
}

}  // namespace
}  // namespace kestrova
