#pragma once
// The registry engine over one SQLite connection to a store file (internal to platform/).

#include <memory>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova::sqlite {

// Opens (creating it when missing) the store at path on a connection of its own; what
// cannot be written is opened read-only. Throws StoreOpenError.
std::shared_ptr<RegistryEngine> MakeEngine(const std::string& path);

}  // namespace kestrova::sqlite
