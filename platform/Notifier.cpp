#include "platform/Notifier.h"

namespace kestrova {
namespace {

class SilentNotifier final : public ShellNotifier {
 public:
  void AssocChanged() override {}
};

std::shared_ptr<ShellNotifier>& Installed() {
  static std::shared_ptr<ShellNotifier> notifier = std::make_shared<SilentNotifier>();
  return notifier;
}

}  // namespace

void SetNotifier(std::shared_ptr<ShellNotifier> notifier) {
  Installed() = notifier ? std::move(notifier) : std::make_shared<SilentNotifier>();
}

ShellNotifier& TheNotifier() { return *Installed(); }

}  // namespace kestrova
