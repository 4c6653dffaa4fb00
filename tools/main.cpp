// kestrova-regedit: the store's own registry editor.

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/SqliteStore.h"
#include "tools/RegeditCommand.h"
#if KESTROVA_REGEDIT_WINDOW
#include "tools/RegeditWindow.h"
#endif
#if KESTROVA_REGEDIT_CHECK
#include <QDateTime>

#include "platform/BackupNames.h"
#include "platform/CheckProbesDesktop.h"
#include "platform/IconSourceFactory.h"
#include "regfile/RegKeyBackup.h"
#include "tools/CheckCommand.h"
#endif

#if KESTROVA_REGEDIT_CHECK
namespace {

// The check with the desktop's program lookup and icons; backups beside this program.
int RunCheckHere(const std::vector<std::string>& args) {
  auto engine = kestrova::AcquireEngine();
  kestrova::DesktopProgramResolver programs;
  kestrova::DesktopCheckFiles files(kestrova::AcquireIconSource());
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string dir = error ? std::string() : exe.parent_path().string();
  const std::string backups = kestrova::CheckBackupDir(dir);
  kestrova::RegKeyBackup backup(
      *engine,
      [&backups](const std::string& name) { return kestrova::CheckBackupFile(backups, name); },
      &std::cout);
  // The desktop's files take copies named the same way, in the same folder.
  const kestrova::DesktopFolders folders = kestrova::UserDesktopFolders();
  kestrova::DesktopCheckView desktop(folders);
  kestrova::DesktopCheckMends mends(
      folders, [&backups](const QString& name, const QString& suffix) {
        return kestrova::DesktopBackupFileName(QString::fromStdString(backups), name, suffix,
                                               QDateTime::currentDateTime());
      });
  const int status = kestrova::RunCheck(args, *engine, programs, files, backup, std::cout,
                                        std::cerr, &desktop, &mends);
  for (const QString& copy : mends.Backups()) std::cout << "backup\t" << copy.toStdString() << '\n';
  if (mends.RebuildMime() || mends.RebuildApplications()) {
    const QString failed = kestrova::RebuildDesktopDatabases(folders, mends.RebuildMime(),
                                                             mends.RebuildApplications());
    if (!failed.isEmpty()) {
      std::cerr << "kestrova-regedit: the desktop's databases were not rebuilt: "
                << failed.toStdString() << '\n';
    }
  }
  return status;
}

}  // namespace
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#if KESTROVA_REGEDIT_WINDOW
  // Only the window needs a display; /e and /s never create the application object.
  if (args.empty()) return kestrova::RunRegeditWindow(argc, argv);
#endif
  try {
    kestrova::UseSqliteStore(kestrova::DefaultStorePath());
#if KESTROVA_REGEDIT_CHECK
    if (std::find(args.begin(), args.end(), "--check") != args.end()) return RunCheckHere(args);
#endif
    return kestrova::RunRegedit(args, std::cout, std::cerr);
  } catch (const kestrova::StoreError& e) {
    std::cerr << "kestrova-regedit: " << e.what() << '\n';
    return 2;
  }
}
