#pragma once
// The clock that stamps backup files, behind a seam so tests can fix the time.

#include <QDateTime>
#include <memory>

namespace kestrova {

class Clock {
 public:
  virtual ~Clock() = default;
  // Local date and time.
  virtual QDateTime Now() = 0;
};

// The one place that picks: the system clock unless tests installed theirs.
void SetClock(std::shared_ptr<Clock> clock);
Clock& TheClock();

}  // namespace kestrova
