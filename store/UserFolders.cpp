#include "store/UserFolders.h"

#include <cstdlib>

namespace kestrova {
namespace {

std::string FromEnvironment(const char* variable, const char* underHome) {
  if (const char* value = std::getenv(variable); value && *value) return value;
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + underHome;
  return ".";
}

}  // namespace

std::string UserDataHome() { return FromEnvironment("XDG_DATA_HOME", "/.local/share"); }

std::string UserConfigHome() { return FromEnvironment("XDG_CONFIG_HOME", "/.config"); }

std::string KestrovaDataDir() { return UserDataHome() + "/kestrova"; }

}  // namespace kestrova
