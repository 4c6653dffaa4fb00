#include "platform/DesktopRebuild.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

namespace kestrova {

DesktopRebuilder& DesktopRebuilder::Instance() {
  static DesktopRebuilder rebuilder;
  return rebuilder;
}

DesktopRebuilder::~DesktopRebuilder() {
  if (m_process != nullptr) {
    m_process->disconnect();
    m_process->waitForFinished(30000);
    delete m_process;
  }
}

void DesktopRebuilder::Request(const DesktopFolders& folders, bool mime, bool applications) {
  const auto add = [this](const QString& program, const QString& dir) {
    for (const Job& job : m_queue) {
      if (job.program == program && job.dir == dir) return;
    }
    m_queue.push_back({program, dir});
  };
  if (mime) add("update-mime-database", folders.dataHome + "/mime");
  if (applications) add("update-desktop-database", folders.Applications());
  if (m_process == nullptr) StartNext();
}

int DesktopRebuilder::Running() const {
  return static_cast<int>(m_queue.size()) + (m_process != nullptr ? 1 : 0);
}

void DesktopRebuilder::SetFailureListener(QObject* context,
                                          std::function<void(const QString&)> listener) {
  m_context = context;
  m_listener = std::move(listener);
}

void DesktopRebuilder::StartNext() {
  while (!m_queue.isEmpty()) {
    const Job job = m_queue.takeFirst();
    if (!QDir().mkpath(job.dir)) {
      m_failed.push_back(job.program + " (" + job.dir + " cannot be made)");
      continue;
    }
    m_current = job.program + " " + job.dir;
    m_process = new QProcess;
    QObject::connect(m_process, &QProcess::finished, m_process,
                     [this](int code, QProcess::ExitStatus status) {
                       Finished(status == QProcess::NormalExit && code == 0);
                     });
    QObject::connect(m_process, &QProcess::errorOccurred, m_process,
                     [this](QProcess::ProcessError error) {
                       // A tool that could not start sends no finished signal.
                       if (error == QProcess::FailedToStart) Finished(false);
                     });
    m_process->start(job.program, {job.dir});
    return;
  }
  if (m_failed.isEmpty()) return;
  const QString failed = m_failed.join(", ");
  m_failed.clear();
  if (m_listener && (m_context != nullptr)) m_listener(failed);
}

void DesktopRebuilder::Finished(bool ok) {
  if (m_process == nullptr) return;
  if (!ok) m_failed.push_back(m_current);
  m_process->disconnect();
  m_process->deleteLater();
  m_process = nullptr;
  StartNext();
}

}  // namespace kestrova
