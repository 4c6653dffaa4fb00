#pragma once
// A key as a user names one for an export.

#include <optional>
#include <string_view>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

struct RegKeyName {
  RootKey root = RootKey::ClassesRoot;
  std::vector<std::string_view> path;  // below the root; views into the text parsed
  bool emptyName = false;              // a name in the path is empty, which no key has
};

// "ROOT\path": a full root name or HKCR/HKCU in any case, then names joined by backslashes;
// trailing backslashes are ignored, as registry editors ignore them. Nothing for an unknown
// root.
std::optional<RegKeyName> ParseRegKeyName(std::string_view text);

}  // namespace kestrova
