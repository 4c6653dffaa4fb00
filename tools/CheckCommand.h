#pragma once
// kestrova-regedit --check: the association check on the command line, and the backups
// its mends write.

#include <ostream>
#include <string>
#include <vector>

#include "store/AssociationCheck.h"

namespace kestrova {

// The path of a backup named `name` in `dir`, named as the program names its backups:
// <name>-yyyymmdd-hhmmss.reg, a "/" in the name made "_", cut to fit a file name.
std::string CheckBackupFile(const std::string& dir, const std::string& name);

// The program's backup folder for a program in `programDir`: $KESTROVA_BACKUP_DIR, else
// `programDir` when writable, else $XDG_DATA_HOME/kestrova/backups; with a trailing "/".
std::string CheckBackupDir(const std::string& programDir);

// `--check` prints every finding as KIND<TAB>SUBJECT<TAB>PROBLEM; exit 1 when any is a
// fault, else 0. `--check --fix KIND` (or `all`) mends that kind's findings, printing the
// backups written and what was done; exit 0 when all were mended, else 2. 2 for a usage or
// store failure. `args` are kestrova-regedit's arguments, with --check among them. With
// `desktop` the desktop's kinds are checked too, and mended through `mends`.
int RunCheck(const std::vector<std::string>& args, RegistryEngine& engine,
             ProgramResolver& programs, CheckFiles& files, KeyBackup& backup, std::ostream& out,
             std::ostream& err, DesktopProbe* desktop = nullptr, DesktopMends* mends = nullptr);

}  // namespace kestrova
