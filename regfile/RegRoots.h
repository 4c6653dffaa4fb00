#pragma once
// The registry's root key names as .reg files and registry editors' command lines spell them.

#include <cstddef>
#include <optional>
#include <string_view>

#include "store/RegistryEngine.h"

namespace kestrova {

// The full, upper-case name of a root.
constexpr std::string_view RegRootName(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RootKey::CurrentUser:
      return "HKEY_CURRENT_USER";
    case RootKey::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RootKey::Users:
      return "HKEY_USERS";
    case RootKey::CurrentConfig:
      return "HKEY_CURRENT_CONFIG";
  }
  return {};
}

inline bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// A full root name in any letter case, as .reg files must write it (no short forms).
inline std::optional<RootKey> RegRootFromName(std::string_view name) {
  for (RootKey root : {RootKey::ClassesRoot, RootKey::CurrentUser, RootKey::LocalMachine,
                       RootKey::Users, RootKey::CurrentConfig}) {
    if (EqualsAsciiNoCase(name, RegRootName(root))) return root;
  }
  return std::nullopt;
}

}  // namespace kestrova
