#include "platform/WinePrefixStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/WineEngine.h"
#include "platform/WineServerLock.h"

namespace kestrova {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::mutex g_mutex;
std::string g_prefix;
// One in-memory registry per prefix for the whole process, so that every thread's engine
// sees the others' changes.
std::map<std::string, std::weak_ptr<wine::PrefixRegistry>> g_registries;
thread_local std::unordered_map<std::string, std::shared_ptr<RegistryEngine>> t_engines;

std::shared_ptr<wine::PrefixRegistry> SharedRegistry(const std::string& dir) {
  std::lock_guard lock(g_mutex);
  auto& slot = g_registries[dir];
  if (auto live = slot.lock()) return live;
  auto made = wine::LoadPrefixRegistry(dir);
  slot = made;
  return made;
}

std::shared_ptr<RegistryEngine> InstalledPrefix() {
  std::string dir;
  {
    std::lock_guard lock(g_mutex);
    dir = g_prefix;
  }
  auto& slot = t_engines[dir];
  if (!slot) {
    if (const std::string why = WhyNotWinePrefix(dir); !why.empty())
      throw StoreOpenError(why, StoreErrorKind::Other);
    slot = wine::MakeEngine(SharedRegistry(dir));
  }
  return slot;
}

}  // namespace

std::string WhyNotWinePrefix(const std::string& dir) {
  struct stat st {};
  if (dir.empty()) return "No Wine prefix folder was given.";
  if (::stat(dir.c_str(), &st) != 0) {
    return "The folder " + Quoted(dir) + " cannot be reached: " + std::strerror(errno) + ".";
  }
  if (!S_ISDIR(st.st_mode)) return Quoted(dir) + " is not a folder, so it is no Wine prefix.";
  for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
    const std::string path = dir + "/" + name;
    struct stat fs {};
    if (::stat(path.c_str(), &fs) != 0) {
      if (errno == ENOENT) {
        return "The folder " + Quoted(dir) + " is not a Wine prefix: it has no " + name +
               " (Wine makes one with `WINEPREFIX=" + dir + " wineboot -i`).";
      }
      return "The Wine registry file " + Quoted(path) +
             " cannot be reached: " + std::strerror(errno) + ".";
    }
    if (!S_ISREG(fs.st_mode)) return "The Wine registry file " + Quoted(path) + " is not a file.";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      return "The Wine registry file " + Quoted(path) + " cannot be read: " + std::strerror(errno) +
             ".";
    }
    std::string first;
    std::getline(in, first);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    if (first != "WINE REGISTRY Version 2") {
      return "The file " + Quoted(path) +
             " is not a Wine registry file: its first line is not \"WINE REGISTRY Version 2\".";
    }
  }
  return {};
}

std::shared_ptr<RegistryEngine> OpenWinePrefix(const std::string& dir) {
  if (const std::string why = WhyNotWinePrefix(dir); !why.empty()) {
    throw StoreOpenError(why, StoreErrorKind::Other);
  }
  return wine::MakeEngine(wine::LoadPrefixRegistry(dir));
}

void UseWinePrefix(const std::string& dir) {
  {
    std::lock_guard lock(g_mutex);
    g_prefix = dir;
  }
  SetEngineFactory(&InstalledPrefix);
}

bool WineServerRunning(const std::string& dir) { return WineServerPid(dir) != 0; }

}  // namespace kestrova
