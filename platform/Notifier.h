#pragma once
// The shell's association-changed notification, sent where association data changed.

#include <memory>

namespace kestrova {

class ShellNotifier {
 public:
  virtual ~ShellNotifier() = default;
  virtual void AssocChanged() = 0;
};

// The one place that picks. On Linux nothing listens, so the production notifier does
// nothing; tests install a recording one.
void SetNotifier(std::shared_ptr<ShellNotifier> notifier);
ShellNotifier& TheNotifier();

}  // namespace kestrova
