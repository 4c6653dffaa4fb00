#include "platform/Notifier.h"

#include "platform/Seam.h"

namespace kestrova {
namespace {

class SilentNotifier final : public ShellNotifier {
 public:
  void AssocChanged() override {}
};

SeamSlot<ShellNotifier, SilentNotifier>& Installed() {
  static SeamSlot<ShellNotifier, SilentNotifier> slot;
  return slot;
}

}  // namespace

void SetNotifier(std::shared_ptr<ShellNotifier> notifier) {
  Installed().Install(std::move(notifier));
}

ShellNotifier& TheNotifier() { return Installed().Current(); }

}  // namespace kestrova
