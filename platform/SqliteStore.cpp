#include "platform/SqliteStore.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/SqliteEngine.h"
#include "store/UserFolders.h"

namespace kestrova {
namespace {

std::mutex g_pathMutex;
std::string g_storePath;

std::shared_ptr<RegistryEngine> InstalledStore() {
  std::string path;
  {
    std::lock_guard lock(g_pathMutex);
    path = g_storePath;
  }
  return SqliteStoreForThread(path);
}

thread_local std::unordered_map<std::string, std::shared_ptr<RegistryEngine>> t_stores;

}  // namespace

std::string DefaultStorePath() {
  if (const char* env = std::getenv("KESTROVA_STORE"); env && *env) return env;
  return KestrovaDataDir() + "/registry.db";
}

bool StoreReadOnlyRequested() {
  const char* env = std::getenv("KESTROVA_STORE_READONLY");
  return env && std::strcmp(env, "1") == 0;
}

std::shared_ptr<RegistryEngine> OpenSqliteStore(const std::string& path) {
  // SQLite's allocation statistics take a global mutex on every allocation; we read none.
  // This must precede SQLite's initialisation, so it is done before the first connection.
  static std::once_flag configured;
  std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  return sqlite::MakeEngine(path);
}

std::shared_ptr<RegistryEngine> SqliteStoreForThread(const std::string& path) {
  auto& slot = t_stores[path];
  if (!slot) slot = OpenSqliteStore(path);
  return slot;
}

void ReleaseSqliteStoreForThread(const std::string& path) { t_stores.erase(path); }

void UseSqliteStore(const std::string& path) {
  {
    std::lock_guard lock(g_pathMutex);
    g_storePath = path;
  }
  SetEngineFactory(&InstalledStore);
}

}  // namespace kestrova