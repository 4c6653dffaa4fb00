#pragma once
// TBackgroundTask: one task at a time on a worker thread, its control changes carried out in
// order on the user-interface thread.

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

namespace kestrova {

// Runs one task at a time on a worker thread. The task hands its control changes to the
// user-interface thread, which carries them out in the order given, a short slice per pass
// of the event loop, and then runs the finish step.
class TBackgroundTask : public QObject {
  Q_OBJECT
 public:
  struct Channel;

  // What the task's body holds on the worker thread.
  class Worker {
   public:
    explicit Worker(std::shared_ptr<Channel> channel) : m_channel(std::move(channel)) {}
    // Hands a change to the user-interface thread; it runs there after every earlier one.
    void Queue(std::function<void()> change);
    // True once the owner is going away: the body should end soon.
    bool StopRequested() const;

   private:
    std::shared_ptr<Channel> m_channel;
  };

  explicit TBackgroundTask(QObject* parent = nullptr);
  ~TBackgroundTask() override;

  // Asks a running body to stop and waits for its thread, which ends within one batch; for
  // owners going away. Changes not yet carried out are dropped.
  void Stop();

  // The body runs on the worker thread; the finish step on the user-interface thread after
  // the body ended, normally or through an error.
  std::function<void(Worker&)> OnExecute;
  std::function<void()> OnFinish;

  // Starts the body on a new thread unless a run is in progress, when the request is
  // dropped. True when accepted.
  bool Execute();
  // Runs in progress: from an accepted request until its finish step has run.
  int Running() const { return m_running; }

 protected:
  void customEvent(QEvent* event) override;

 private:
  void RunQueuedChanges();

  std::shared_ptr<Channel> m_channel;
  std::thread m_thread;
  int m_running = 0;
};

}  // namespace kestrova
