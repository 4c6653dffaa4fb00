#include "platform/Opener.h"

#include "platform/OpenerDesktop.h"

namespace kestrova {
namespace {

std::shared_ptr<Opener>& Installed() {
  static std::shared_ptr<Opener> opener = std::make_shared<DesktopOpener>();
  return opener;
}

}  // namespace

void SetOpener(std::shared_ptr<Opener> opener) {
  Installed() = opener ? std::move(opener) : std::make_shared<DesktopOpener>();
}

Opener& TheOpener() { return *Installed(); }

}  // namespace kestrova
