#pragma once
// The one place that picks a platform seam's implementation: the desktop's by default, a
// test's once installed, the desktop's again when the test installs nullptr.

#include <memory>

namespace kestrova {

template <typename Interface, typename Desktop>
class SeamSlot {
 public:
  void Install(std::shared_ptr<Interface> implementation) {
    m_current = implementation ? std::move(implementation) : std::make_shared<Desktop>();
  }
  Interface& Current() { return *m_current; }

 private:
  std::shared_ptr<Interface> m_current = std::make_shared<Desktop>();
};

}  // namespace kestrova
