#pragma once
// Opens the program's store, creating a new one from the desktop's databases or, when the
// desktop has no associations, from the bundled default classes.

#include <QString>
#include <stdexcept>
#include <string>

#include "store/DesktopSnapshot.h"

namespace kestrova {

// Where the program's data (icons, help) lies: $KESTROVA_DATA_DIR, else the installed
// share/kestrova beside the program, else the source tree's data folder.
QString DataDir();

// The default classes bundled with the program.
inline constexpr char kDefaultClassesFile[] = ":/kestrova/default-classes.reg";

// A new store could not be filled with the default classes. Nothing was left at its path,
// so the next start tries again.
class SeedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Creates the store at path filled from seedFile in one piece: it is built beside path and
// moved into place only when whole. Throws SeedError saying what failed.
void CreateSeededStore(const std::string& path, const QString& seedFile = kDefaultClassesFile);

// Creates the store at path, in one piece as above, from the desktop's file types and
// applications (store/DesktopImport), with the program's settings of the default classes.
void CreateDesktopStore(const std::string& path, const DesktopSnapshot& desktop);

// Installs the store at path as the program's engine. A store that does not exist yet is
// created from the desktop's databases, or from the default classes when the desktop knows
// no application for any type (SeedError when that fails). Throws StoreOpenError for a
// damaged or foreign file, which is left as it is.
void OpenDefaultStore(const std::string& path);

}  // namespace kestrova
