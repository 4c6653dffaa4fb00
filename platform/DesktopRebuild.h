#pragma once
// Rebuilds the desktop's caches (update-mime-database, update-desktop-database) after
// Kestrova changed the user's files, without blocking the window: the tools run as child
// processes, one after the other, started and watched from the window's thread.

#include <sys/types.h>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/DesktopApply.h"

class QTimer;

namespace kestrova {

class DesktopRebuilder {
 public:
  // The program's one rebuilder, living on the window's thread. Children are started from
  // that thread only, never from a worker: a fork from a thread is unsafe.
  static DesktopRebuilder& Instance();

  DesktopRebuilder() = default;
  // Waits for a tool still running, so that its rebuild is not cut short.
  ~DesktopRebuilder();
  DesktopRebuilder(const DesktopRebuilder&) = delete;
  DesktopRebuilder& operator=(const DesktopRebuilder&) = delete;

  // Asks for a rebuild of the MIME cache and/or the desktop-entry cache of `folders`.
  // A request made while a tool runs is merged and run once that one ends.
  void Request(const DesktopFolders& folders, bool mime, bool applications);
  // Tools running or waiting to run.
  int Running() const;
  // Called on the window's thread with what failed ("update-mime-database /x/mime"), once
  // per rebuild that had failures; dropped when `context` is gone.
  void SetFailureListener(QObject* context, std::function<void(const QString&)> listener);

 private:
  void StartNext();
  void Poll();
  void Finished(bool ok);

  struct Job {
    QString program;
    QString dir;
  };
  QList<Job> m_queue;
  pid_t m_child = -1;
  QTimer* m_poll = nullptr;
  QString m_current;
  QStringList m_failed;
  QPointer<QObject> m_context;
  std::function<void(const QString&)> m_listener;
};

}  // namespace kestrova
