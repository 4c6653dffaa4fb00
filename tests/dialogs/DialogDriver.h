#pragma once
// Looks inside a modal dialog while a main-window command has it open.

#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>
#include <functional>

namespace kestrova::test {

// Queues `inside` for when the dialog is up, then runs `open`, which shows it modally. A
// dialog that `inside` left open is rejected after a while, so a failing test still ends.
inline void WhileOpen(QDialog* dialog, const std::function<void()>& inside,
                      const std::function<void()>& open) {
  bool ran = false;
  QTimer::singleShot(0, dialog, [&] {
    ran = true;
    inside();
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, dialog, &QDialog::reject);
  guard.start(10000);
  open();
  EXPECT_TRUE(ran) << "the dialog was not shown";
  EXPECT_TRUE(guard.isActive()) << "the dialog was left open";
}

}  // namespace kestrova::test
