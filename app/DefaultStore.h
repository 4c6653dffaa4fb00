#pragma once
// Opens the program's store, creating a new one from the bundled default classes.

#include <QString>
#include <string>

namespace kestrova {

// Where the program's data (icons, help) lies: $KESTROVA_DATA_DIR, else the installed
// share/kestrova beside the program, else the source tree's data folder.
QString DataDir();

// Installs the store at path as the program's engine. A store that does not exist yet is
// created and filled from the default classes in one transaction. Throws StoreOpenError
// for a damaged or foreign file, which is left as it is.
void OpenDefaultStore(const std::string& path);

}  // namespace kestrova
