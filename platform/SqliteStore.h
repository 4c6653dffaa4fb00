#pragma once
// The SQLite store engine: one database file holding the registry's standard roots.

#include <memory>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova {

// $KESTROVA_STORE, else $XDG_DATA_HOME/kestrova/registry.db (~/.local/share when unset).
std::string DefaultStorePath();

// True when $KESTROVA_STORE_READONLY is "1".
bool StoreReadOnlyRequested();

// Opens (creating it and its directories when missing) the store at path, on a connection
// of its own. Throws StoreOpenError naming the file when it is damaged or not a store.
std::shared_ptr<RegistryEngine> OpenSqliteStore(const std::string& path);

// This thread's connection to the store at path, opened at the first call and reused, so
// that creating an AssocStore per handler costs no file open.
std::shared_ptr<RegistryEngine> SqliteStoreForThread(const std::string& path);

// Closes this thread's connection to the store at path (tests that remove the file).
void ReleaseSqliteStoreForThread(const std::string& path);

// Makes the store at path the engine behind every AssocStore of every thread.
void UseSqliteStore(const std::string& path);

}  // namespace kestrova
