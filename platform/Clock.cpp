#include "platform/Clock.h"

namespace kestrova {
namespace {

class SystemClock final : public Clock {
 public:
  QDateTime Now() override { return QDateTime::currentDateTime(); }
};

std::shared_ptr<Clock>& Installed() {
  static std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
  return clock;
}

}  // namespace

void SetClock(std::shared_ptr<Clock> clock) {
  Installed() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

Clock& TheClock() { return *Installed(); }

}  // namespace kestrova
