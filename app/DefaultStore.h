#pragma once
// Opens the program's store, creating a new one from the bundled default classes.

#include <string>

namespace kestrova {

// Installs the store at path as the program's engine. A store that does not exist yet is
// created and filled from the default classes in one transaction. Throws StoreOpenError
// for a damaged or foreign file, which is left as it is.
void OpenDefaultStore(const std::string& path);

}  // namespace kestrova
