#pragma once
// Looks inside a modal dialog while a main-window command has it open.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "platform/BackgroundTask.h"

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

// Runs the event loop until the task's finish step has run; false after 20 seconds.
inline bool RunUntilFinished(const TBackgroundTask* task) {
  QElapsedTimer clock;
  clock.start();
  QTimer wake;  // lets the loop look at the clock while nothing else happens
  wake.start(100);
  while (task->Running() > 0) {
    if (clock.elapsed() > 20000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

inline QStringList ComboItems(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

}  // namespace kestrova::test
