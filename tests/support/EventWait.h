#pragma once
// Waiting in a test for something the event loop or another process brings about.

#include <QElapsedTimer>
#include <QTest>
#include <functional>

namespace kestrova::test {

// Runs the event loop until `done` holds, for at most `ms`; whether it held. Qt's own QTRY
// macros report to QtTest's log, which a GoogleTest program never reads: a wait that
// timed out there would fail nothing.
inline bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

}  // namespace kestrova::test
