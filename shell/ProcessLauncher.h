#pragma once
// ProcessLauncher: starts programs, documents and web addresses, and can wait for the process.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "platform/Opener.h"

namespace kestrova {

class ProcessLauncher {
 public:
  // The indexes of SetText.
  static constexpr int kCommand = 0;
  static constexpr int kParameters = 1;
  static constexpr int kDefaultDir = 2;

  // `owner` owns the opener's boxes; it may be null.
  explicit ProcessLauncher(QWidget* owner = nullptr, bool wait = false);
  ProcessLauncher(const ProcessLauncher&) = delete;
  ProcessLauncher& operator=(const ProcessLauncher&) = delete;

  // 0 sets Command, 1 Parameters, 2 DefaultDir; any other index does nothing. The texts
  // keep their values from one start to the next.
  void SetText(int index, const QString& text);
  const QString& Command() const { return m_command; }
  const QString& Parameters() const { return m_parameters; }
  const QString& DefaultDir() const { return m_defaultDir; }

  // After a successful start, block until the started process has ended.
  bool Wait = false;

  // The process of the last start, or null when it started none.
  StartedProcess* ProcessHandle() const { return m_process.get(); }
  // The code of the last failed start; 0 until one fails, kept through later successes.
  int LastError() const { return m_lastError; }

  // Closes the previous start's handle and has the opener open Command. A start that
  // fails with a code of the launcher's table is recorded in LastError; otherwise, with
  // Wait set, blocks (without handling window messages) until the started process has
  // ended. Shows nothing and raises nothing: the opener tells the user of a failure.
  void Start();

  // The opener's codes that end a start without waiting.
  static bool IsFailureCode(int code);

 private:
  QPointer<QWidget> m_owner;
  QString m_command;
  QString m_parameters;
  QString m_defaultDir;
  std::unique_ptr<StartedProcess> m_process;
  int m_lastError = 0;
};

}  // namespace kestrova
