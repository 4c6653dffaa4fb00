#pragma once
// An opener for tests: records requests, answers from a script, logs what its processes see.

#include <QString>
#include <deque>
#include <memory>
#include <vector>

#include "platform/Opener.h"

namespace kestrova {

class RecordingOpener : public Opener {
 public:
  struct Request {
    QWidget* owner = nullptr;
    QString command;
    QString parameters;
    QString directory;
  };
  struct Answer {
    int code = OpenCode::Succeeded;
    bool process = true;  // hand out a process
  };

  // One line per event, in order: "open <command>", "wait <id>", "close <id>"; processes
  // are numbered 1, 2, ... as they are handed out.
  using Log = std::vector<QString>;

  OpenResult Open(QWidget* owner, const QString& command, const QString& parameters,
                  const QString& directory) override {
    requests.push_back({owner, command, parameters, directory});
    log->push_back(QStringLiteral("open ") + command);
    Answer answer;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    OpenResult result{answer.code, nullptr};
    if (answer.process) result.process = std::make_unique<Process>(++m_handedOut, log);
    return result;
  }

  std::vector<Request> requests;
  std::deque<Answer> answers;  // when empty: success with a process
  std::shared_ptr<Log> log = std::make_shared<Log>();

 private:
  class Process final : public StartedProcess {
   public:
    Process(long id, std::shared_ptr<Log> log) : m_id(id), m_log(std::move(log)) {}
    ~Process() override { m_log->push_back(QStringLiteral("close %1").arg(m_id)); }
    void Wait() override { m_log->push_back(QStringLiteral("wait %1").arg(m_id)); }
    long Id() const override { return m_id; }

   private:
    long m_id;
    std::shared_ptr<Log> m_log;
  };

  long m_handedOut = 0;
};

}  // namespace kestrova
