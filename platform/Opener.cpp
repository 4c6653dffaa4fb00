#include "platform/Opener.h"

#include "platform/OpenerDesktop.h"
#include "platform/Seam.h"

namespace kestrova {
namespace {

SeamSlot<Opener, DesktopOpener>& Installed() {
  static SeamSlot<Opener, DesktopOpener> slot;
  return slot;
}

}  // namespace

void SetOpener(std::shared_ptr<Opener> opener) { Installed().Install(std::move(opener)); }

Opener& TheOpener() { return Installed().Current(); }

}  // namespace kestrova
