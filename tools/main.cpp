// kestrova-regedit: the store's own registry editor.

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/SqliteStore.h"
#include "platform/WinePrefixStore.h"
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

namespace {

enum class PrefixArgument { None, Missing, Given };

// Takes "--prefix DIR" (or "--prefix=DIR") out of args, wherever it stands, so that the
// rest reads as it does for the default store. DIR becomes absolute.
PrefixArgument TakePrefix(std::vector<std::string>& args, std::string& prefix) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == "--prefix") {
      if (std::next(it) == args.end()) return PrefixArgument::Missing;
      prefix = *std::next(it);
      args.erase(it, std::next(it, 2));
    } else if (it->starts_with("--prefix=")) {
      prefix = it->substr(std::string_view("--prefix=").size());
      args.erase(it);
    } else {
      continue;
    }
    if (prefix.empty()) return PrefixArgument::Missing;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(prefix, error);
    if (!error) prefix = absolute.lexically_normal().string();
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    return PrefixArgument::Given;
  }
  return PrefixArgument::None;
}

}  // namespace

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
  std::string prefix;
  switch (TakePrefix(args, prefix)) {
    case PrefixArgument::None:
      break;
    case PrefixArgument::Missing:
      std::cerr << "kestrova-regedit: --prefix needs a folder\n";
      return kestrova::kExitFailed;
    case PrefixArgument::Given:
      if (const std::string why = kestrova::WhyNotWinePrefix(prefix); !why.empty()) {
        // Said before anything else is looked at, and nothing is created in the folder.
        std::cerr << "kestrova-regedit: " << why << '\n';
        return kestrova::kExitFailed;
      }
      break;
  }
#if KESTROVA_REGEDIT_WINDOW
  // Only the window needs a display; /e and /s never create the application object.
  if (args.empty()) return kestrova::RunRegeditWindow(argc, argv, prefix);
#endif
  try {
    if (prefix.empty()) {
      kestrova::UseSqliteStore(kestrova::DefaultStorePath());
    } else {
      if (std::find(args.begin(), args.end(), "--import-desktop") != args.end()) {
        std::cerr << "kestrova-regedit: --import-desktop fills Kestrova's own store only, "
                     "never a Wine prefix\n";
        return kestrova::kExitFailed;
      }
      // The check finds programs the way Linux starts them: every Windows program a
      // prefix's commands name would be "missing", and --fix would remove the actions.
      if (std::find(args.begin(), args.end(), "--check") != args.end()) {
        std::cerr << "kestrova-regedit: --check judges commands as Linux programs and does "
                     "not look at a Wine prefix\n";
        return kestrova::kExitFailed;
      }
      kestrova::UseWinePrefix(prefix);
    }
#if KESTROVA_REGEDIT_CHECK
    if (std::find(args.begin(), args.end(), "--check") != args.end()) return RunCheckHere(args);
#endif
    return kestrova::RunRegedit(args, std::cout, std::cerr);
  } catch (const kestrova::StoreError& e) {
    std::cerr << "kestrova-regedit: " << e.what() << '\n';
    return 2;
  }
}
