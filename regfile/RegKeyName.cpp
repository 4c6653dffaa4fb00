#include "regfile/RegKeyName.h"

#include "regfile/RegRoots.h"
#include "store/RegistryRules.h"

namespace kestrova {

std::optional<RegKeyName> ParseRegKeyName(std::string_view text) {
  RegKeyName key;
  const std::size_t slash = text.find('\\');
  const std::string_view rootName = text.substr(0, slash);
  if (EqualsAsciiNoCase(rootName, "HKCR")) {
    key.root = RootKey::ClassesRoot;
  } else if (EqualsAsciiNoCase(rootName, "HKCU")) {
    key.root = RootKey::CurrentUser;
  } else if (auto root = RegRootFromName(rootName)) {
    key.root = *root;
  } else {
    return std::nullopt;
  }
  if (slash == std::string_view::npos) return key;
  std::string_view path = text.substr(slash + 1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  key.emptyName = !SplitKeyPath(path, key.path);
  return key;
}

}  // namespace kestrova
