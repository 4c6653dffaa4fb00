#pragma once
// A Wine prefix's own registry (system.reg, user.reg, userdef.reg) as the store: the one
// real HKEY_CLASSES_ROOT on Linux. See docs/wine-prefix-store.md.

#include <memory>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova {

// Why `dir` is not a Wine prefix, in words for a message; empty when it is one. Creates nothing.
std::string WhyNotWinePrefix(const std::string& dir);
// Opens the prefix's registry as a store. Throws StoreOpenError (clear message naming the
// folder or file) when dir is not a prefix or a file is damaged; creates nothing.
std::shared_ptr<RegistryEngine> OpenWinePrefix(const std::string& dir);
// Makes the prefix the engine behind every AssocStore of every thread (as UseSqliteStore does).
void UseWinePrefix(const std::string& dir);
// True while a wineserver runs for the prefix (from its lock file).
bool WineServerRunning(const std::string& dir);

}  // namespace kestrova
