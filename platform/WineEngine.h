#pragma once
// The registry engine over a Wine prefix's registry files (internal to platform/; the
// public face is WinePrefixStore.h).

#include <memory>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova::wine {

// The prefix's three files in memory, shared by the engines of every thread.
class PrefixRegistry;

// Reads the prefix's files. Throws StoreOpenError naming the folder or the file.
std::shared_ptr<PrefixRegistry> LoadPrefixRegistry(const std::string& dir);

// An engine over the shared files. Each thread uses an engine of its own (transactions are
// per engine); all of them see every change at once.
std::shared_ptr<RegistryEngine> MakeEngine(std::shared_ptr<PrefixRegistry> registry);

}  // namespace kestrova::wine
