#pragma once
// The opener seam: starts a program, document or web address for the process launcher.

#include <QString>
#include <memory>

class QWidget;

namespace kestrova {

// The opener's result codes: the shell's failure codes that the launcher knows, and one
// value for success (the shell reports success with a value above 32).
namespace OpenCode {
constexpr int FileNotFound = 2;
constexpr int PathNotFound = 3;
constexpr int AccessDenied = 5;
constexpr int OutOfMemory = 8;
constexpr int SharingViolation = 26;
constexpr int AssocIncomplete = 27;
constexpr int DdeTimeout = 28;
constexpr int DdeFail = 29;
constexpr int DdeBusy = 30;
constexpr int NoAssociation = 31;
constexpr int DllNotFound = 32;
constexpr int Succeeded = 42;
}  // namespace OpenCode

// A process an opener started. Releasing it closes the handle only: the process runs on,
// and once it ends it is reaped, so it never lingers as a zombie.
class StartedProcess {
 public:
  virtual ~StartedProcess() = default;
  // Blocks until the process has ended; returns at once when it already has.
  virtual void Wait() = 0;
  // The platform's process id, for diagnostics and tests.
  virtual long Id() const = 0;
  // After Wait: the exit status, 128 + the signal for a process that was killed, or -1
  // when it is not known.
  virtual int ExitStatus() const { return -1; }
};

struct OpenResult {
  int code = OpenCode::Succeeded;
  std::unique_ptr<StartedProcess> process;  // null when no new process was started
};

class Opener {
 public:
  virtual ~Opener() = default;
  // Opens `command` (a program, a document or a web address) with `parameters` in
  // `directory` (empty: the platform's default). The opener tells the user of a failure
  // itself, in a box owned by `owner` (may be null), and returns its code.
  virtual OpenResult Open(QWidget* owner, const QString& command, const QString& parameters,
                          const QString& directory) = 0;
};

// The one place that picks: the desktop's opener unless tests installed theirs; nullptr
// restores the desktop's.
void SetOpener(std::shared_ptr<Opener> opener);
Opener& TheOpener();

}  // namespace kestrova
