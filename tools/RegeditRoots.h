#pragma once
// The roots as the window's tree lists them, and so as find goes through them.

#include <algorithm>
#include <array>

#include "store/RegistryEngine.h"

namespace kestrova {

constexpr std::array<RootKey, 5> kRegeditRoots = {RootKey::ClassesRoot, RootKey::CurrentUser,
                                                  RootKey::LocalMachine, RootKey::Users,
                                                  RootKey::CurrentConfig};

// The root's place in that list.
inline int RegeditRootRow(RootKey root) {
  return static_cast<int>(std::find(kRegeditRoots.begin(), kRegeditRoots.end(), root) -
                          kRegeditRoots.begin());
}

}  // namespace kestrova
