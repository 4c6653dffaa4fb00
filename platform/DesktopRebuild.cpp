#include "platform/DesktopRebuild.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace kestrova {
namespace {

// How often a running tool is looked at: short enough that a rebuild queued behind it
// starts promptly, long enough to cost nothing.
constexpr int kPollMs = 50;

// The tool with its output discarded (a rebuild's chatter is no message for the user);
// -1 with errno when it cannot be started. posix_spawn rather than QProcess: Qt's process
// start clones in a way that the thread sanitizer our tests run under cannot follow.
pid_t Spawn(const QString& program, const QString& dir) {
  const QByteArray name = program.toLocal8Bit();
  const QByteArray arg = QFile::encodeName(dir);
  char* argv[] = {const_cast<char*>(name.constData()), const_cast<char*>(arg.constData()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, name.constData(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return pid;
}

}  // namespace

DesktopRebuilder& DesktopRebuilder::Instance() {
  static DesktopRebuilder rebuilder;
  return rebuilder;
}

DesktopRebuilder::~DesktopRebuilder() {
  delete m_poll;
  if (m_child <= 0) return;
  // The program is closing: let the tool finish its rebuild, within reason.
  for (int waited = 0; waited < 30000; waited += kPollMs) {
    int status = 0;
    const pid_t done = waitpid(m_child, &status, WNOHANG);
    if (done == m_child || (done < 0 && errno != EINTR)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
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
  if (m_child <= 0) StartNext();
}

int DesktopRebuilder::Running() const {
  return static_cast<int>(m_queue.size()) + (m_child > 0 ? 1 : 0);
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
    m_child = Spawn(job.program, job.dir);
    if (m_child <= 0) {
      m_failed.push_back(job.program + " (" + QString::fromLocal8Bit(strerror(errno)) + ")");
      continue;
    }
    if (m_poll == nullptr) {
      m_poll = new QTimer;
      m_poll->setInterval(kPollMs);
      QObject::connect(m_poll, &QTimer::timeout, m_poll, [this] { Poll(); });
    }
    m_poll->start();
    return;
  }
  if (m_poll != nullptr) m_poll->stop();
  if (m_failed.isEmpty()) return;
  const QString failed = m_failed.join(", ");
  m_failed.clear();
  if (m_listener && (m_context != nullptr)) m_listener(failed);
}

void DesktopRebuilder::Poll() {
  if (m_child <= 0) return;
  int status = 0;
  const pid_t done = waitpid(m_child, &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return;
  Finished(done == m_child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void DesktopRebuilder::Finished(bool ok) {
  if (!ok) m_failed.push_back(m_current);
  m_child = -1;
  StartNext();
}

}  // namespace kestrova
