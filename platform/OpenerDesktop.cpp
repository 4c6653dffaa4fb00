#include "platform/OpenerDesktop.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Boxes.h"
#include "platform/WindowsCommandLine.h"

extern char** environ;

namespace kestrova {
namespace {

const QString kCaption = QStringLiteral("Kestrova");

std::string Bytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString QuotedForMessage(const QString& text) {
  QString shown = text;
  shown.replace(QChar(0), QStringLiteral("\\0"));
  return QLatin1Char('"') + shown + QLatin1Char('"');
}

QString Reason(int error) { return QString::fromStdString(std::generic_category().message(error)); }

void WaitFor(pid_t pid, int* status) {
  while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
}

// Waits for `pid` on a thread of its own, so that a process nobody waits for is reaped
// when it ends; `ended` (may be empty) then gets its wait status on that thread. Only this
// pid is waited for: other children (QProcess's) stay their owners' business.
void Reap(pid_t pid, std::function<void(int)> ended) {
  try {
    std::thread([pid, ended = std::move(ended)] {
      int status = 0;
      WaitFor(pid, &status);
      if (ended) ended(status);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: take it now if it has ended, else it stays until we exit.
    waitpid(pid, nullptr, WNOHANG);
  }
}

class SpawnedProcess final : public StartedProcess {
 public:
  explicit SpawnedProcess(pid_t pid) : m_pid(pid) {}
  SpawnedProcess(const SpawnedProcess&) = delete;
  SpawnedProcess& operator=(const SpawnedProcess&) = delete;
  ~SpawnedProcess() override {
    if (!m_ended) Reap(m_pid, {});
  }

  void Wait() override {
    if (m_ended) return;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (ended == m_pid && WIFEXITED(status)) m_exitStatus = WEXITSTATUS(status);
    if (ended == m_pid && WIFSIGNALED(status)) m_exitStatus = 128 + WTERMSIG(status);
    // Also when the wait failed (someone else reaped it): it has ended either way, and
    // its pid must not be waited for again.
    m_ended = true;
  }

  long Id() const override { return m_pid; }
  int ExitStatus() const override { return m_exitStatus; }

 private:
  pid_t m_pid;
  bool m_ended = false;
  int m_exitStatus = -1;
};

// Starts `path` with `args` in `dir` (empty: ours) without a shell. Returns 0 and the
// pid, or the errno of the failed start (a missing folder, a refused exec, ...).
int Spawn(const std::string& path, const std::string& argv0, const std::vector<std::string>& args,
          const std::string& dir, pid_t* pid) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(argv0.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (int rc = posix_spawn_file_actions_init(&actions)) return rc;
  if (int rc = posix_spawnattr_init(&attr)) {
    posix_spawn_file_actions_destroy(&actions);
    return rc;
  }
  int rc = 0;
  if (!dir.empty()) rc = posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  // Our store's and windows' descriptors are none of the started program's business.
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // A program starts with no signals blocked or ignored, whatever we did with ours.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &all);
  if (rc == 0) rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // posix_spawn, not posix_spawnp: the path is resolved already, and nothing may fall
  // back to /bin/sh for a file that is not a program.
  if (rc == 0) rc = posix_spawn(pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

int SpawnFailureCode(int error) {
  switch (error) {
    case ENOENT:
      return OpenCode::FileNotFound;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return OpenCode::PathNotFound;
    case ENOMEM:
    case EAGAIN:
      return OpenCode::OutOfMemory;
    default:  // EACCES, EPERM, ENOEXEC, ETXTBSY, E2BIG, ...: the start was refused
      return OpenCode::AccessDenied;
  }
}

// An executable regular file named `name` in a folder of PATH: 0 and its path, EACCES
// when only files that cannot be run have that name, ENOENT when none has.
int SearchPath(const std::string& name, std::string* found) {
  const char* env = getenv("PATH");
  const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  int error = ENOENT;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find(':', begin);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(begin, end - begin);
    begin = end + 1;
    // Empty and relative entries would run whatever lies in the current folder.
    if (folder.empty() || folder.front() != '/') continue;
    const std::string candidate = folder + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (access(candidate.c_str(), X_OK) == 0) {
      *found = candidate;
      return 0;
    }
    error = EACCES;
  }
  return error;
}

bool IsWebAddress(const QString& command) {
  const qsizetype colon = command.indexOf(QStringLiteral("://"));
  if (colon < 1) return false;
  for (qsizetype i = 0; i < colon; ++i) {
    const QChar c = command[i];
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    const bool other = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
    if (!letter && (i == 0 || !other)) return false;
  }
  return true;
}

// The code for a path that stat() refused with `error`.
int MissingPathCode(const std::string& path, int error) {
  if (error == EACCES) return OpenCode::AccessDenied;
  if (error != ENOENT) return OpenCode::PathNotFound;
  // A file in a folder that is missing is a missing path, as the shell reports it.
  const size_t slash = path.rfind('/');
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return OpenCode::FileNotFound;
  return OpenCode::PathNotFound;
}

QString MessageFor(int code, const QString& target) {
  switch (code) {
    case OpenCode::FileNotFound:
      return QStringLiteral("Cannot find %1. Check that the name is typed correctly.")
          .arg(QuotedForMessage(target));
    case OpenCode::PathNotFound:
      return QStringLiteral("Cannot find the folder of %1.").arg(QuotedForMessage(target));
    case OpenCode::AccessDenied:
      return QStringLiteral("%1 cannot be opened: access is denied.").arg(QuotedForMessage(target));
    default:
      return QStringLiteral("%1 cannot be opened.").arg(QuotedForMessage(target));
  }
}

// The document opener's exit status, told to the user once it arrives; it comes on the
// reaper's thread, so the box is shown on the application's.
void ReportDocumentOpenerEnd(QPointer<QWidget> owner, const QString& target, int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  QString text;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    text = QStringLiteral("No application is available to open %1.").arg(QuotedForMessage(target));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
    text = MessageFor(OpenCode::FileNotFound, target);
  } else {
    const int value = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    text = QStringLiteral("%1 could not be opened: the desktop's opener ended with status %2.")
               .arg(QuotedForMessage(target))
               .arg(value);
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app, [owner, text] { TheBoxes().Message(owner.data(), kCaption, text, Boxes::Icon::Error); },
      Qt::QueuedConnection);
}

}  // namespace

QString DesktopOpener::RegeditPath() const {
  QString dir = m_options.programDir;
  if (dir.isEmpty() && QCoreApplication::instance()) dir = QCoreApplication::applicationDirPath();
  if (dir.isEmpty()) {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) dir = QFile::decodeName(exe.parent_path().c_str());
  }
  return dir + QStringLiteral("/kestrova-regedit");
}

DesktopOpener::Target DesktopOpener::Find(const QString& command, std::string* path) const {
  if (command.isEmpty() || command.contains(QChar(0))) return Target::Missing;
  if (IsWebAddress(command)) return Target::WebAddress;
  if (command.compare(QStringLiteral("Regedit.exe"), Qt::CaseInsensitive) == 0) {
    *path = Bytes(RegeditPath());
    return access(path->c_str(), F_OK) == 0 ? Target::Program : Target::Missing;
  }
  if (!command.contains(QLatin1Char('/'))) {
    const int error = SearchPath(Bytes(command), path);
    if (error == 0) return Target::Program;
    return error == EACCES ? Target::NotExecutable : Target::Missing;
  }
  *path = Bytes(command);
  if (path->front() != '/') {
    std::error_code error;
    const auto cwd = std::filesystem::current_path(error);
    if (error) return Target::Missing;
    while (path->starts_with("./")) path->erase(0, 2);
    *path = cwd.string() + "/" + *path;
  }
  struct stat st;
  if (stat(path->c_str(), &st) != 0) return Target::Missing;
  if (S_ISREG(st.st_mode) && access(path->c_str(), X_OK) == 0) return Target::Program;
  return Target::Document;
}

OpenResult DesktopOpener::Open(QWidget* owner, const QString& command, const QString& parameters,
                               const QString& directory) {
  const auto fail = [owner](int code, const QString& text) {
    TheBoxes().Message(owner, kCaption, text, Boxes::Icon::Error);
    return OpenResult{code, nullptr};
  };

  if (command.isEmpty()) {
    return fail(OpenCode::FileNotFound, QStringLiteral("There is nothing to open: no program, "
                                                       "document or web address was given."));
  }
  // A NUL would cut the name short and open some other file.
  if (command.contains(QChar(0))) {
    return fail(OpenCode::FileNotFound, MessageFor(OpenCode::FileNotFound, command));
  }

  std::string dir;
  if (!directory.isEmpty()) {
    dir = Bytes(directory);
    struct stat st;
    if (directory.contains(QChar(0)) || stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return fail(OpenCode::PathNotFound,
                  QStringLiteral("Cannot start %1 in the folder %2: the folder does not exist.")
                      .arg(QuotedForMessage(command), QuotedForMessage(directory)));
    }
  }

  // What to run: a program, or the document opener with a document or web address.
  std::string program;
  std::string argv0;
  std::string document;
  if (IsWebAddress(command)) {
    document = Bytes(command);
  } else if (command.compare(QStringLiteral("Regedit.exe"), Qt::CaseInsensitive) == 0) {
    const QString path = RegeditPath();
    program = argv0 = Bytes(path);
    if (access(program.c_str(), F_OK) != 0) {
      return fail(OpenCode::FileNotFound,
                  QStringLiteral("Cannot find %1: the registry editor %2 is missing.")
                      .arg(QuotedForMessage(command), QuotedForMessage(path)));
    }
  } else if (!command.contains(QLatin1Char('/'))) {
    argv0 = Bytes(command);
    if (const int error = SearchPath(argv0, &program)) {
      const int code = error == EACCES ? OpenCode::AccessDenied : OpenCode::FileNotFound;
      return fail(code, MessageFor(code, command));
    }
  } else {
    std::string path = Bytes(command);
    if (path.front() != '/') {
      // Relative to our folder, not to `directory`: that is where the name was meant.
      std::error_code error;
      const auto cwd = std::filesystem::current_path(error);
      if (error) return fail(OpenCode::PathNotFound, MessageFor(OpenCode::PathNotFound, command));
      while (path.starts_with("./")) path.erase(0, 2);
      path = cwd.string() + "/" + path;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      const int statError = errno;
      const int code = MissingPathCode(path, statError);
      return fail(code, MessageFor(code, command));
    }
    if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0) {
      program = argv0 = path;
    } else {
      document = path;
    }
  }

  pid_t pid = 0;
  if (!program.empty()) {
    const auto args = SplitWindowsCommandLine(Bytes(parameters));
    if (const int error = Spawn(program, argv0, args, dir, &pid)) {
      return fail(SpawnFailureCode(error), QStringLiteral("%1 could not be started: %2.")
                                               .arg(QuotedForMessage(command), Reason(error)));
    }
    return {OpenCode::Succeeded, std::make_unique<SpawnedProcess>(pid)};
  }

  // A document takes no arguments: the parameters are for programs only.
  const QString opener = m_options.documentOpener;
  std::string openerPath = Bytes(opener);
  int error = 0;
  if (!opener.contains(QLatin1Char('/'))) error = SearchPath(Bytes(opener), &openerPath);
  if (error == 0) error = Spawn(openerPath, Bytes(opener), {document}, dir, &pid);
  if (error) {
    return fail(OpenCode::NoAssociation,
                QStringLiteral("No application is available to open %1: the desktop's opener "
                               "%2 could not be started (%3).")
                    .arg(QuotedForMessage(command), QuotedForMessage(opener), Reason(error)));
  }
  Reap(pid, [owner = QPointer<QWidget>(owner), command](int status) {
    ReportDocumentOpenerEnd(owner, command, status);
  });
  return {OpenCode::Succeeded, nullptr};
}

}  // namespace kestrova
