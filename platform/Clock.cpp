#include "platform/Clock.h"

#include "platform/Seam.h"

namespace kestrova {
namespace {

class SystemClock final : public Clock {
 public:
  QDateTime Now() override { return QDateTime::currentDateTime(); }
};

SeamSlot<Clock, SystemClock>& Installed() {
  static SeamSlot<Clock, SystemClock> slot;
  return slot;
}

}  // namespace

void SetClock(std::shared_ptr<Clock> clock) { Installed().Install(std::move(clock)); }

Clock& TheClock() { return Installed().Current(); }

}  // namespace kestrova
