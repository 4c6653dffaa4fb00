#pragma once
// Small stand-ins for the platform seams that several GUI tests install.

#include <QDateTime>

#include "platform/Clock.h"
#include "platform/Notifier.h"

namespace kestrova::test {

// 7 December 2026, 11:39:05 local time, until a test moves it.
class FixedClock : public Clock {
 public:
  QDateTime now{QDate(2026, 12, 7), QTime(11, 39, 5)};
  QDateTime Now() override { return now; }
};

class CountingNotifier : public ShellNotifier {
 public:
  int count = 0;
  void AssocChanged() override { ++count; }
};

}  // namespace kestrova::test
