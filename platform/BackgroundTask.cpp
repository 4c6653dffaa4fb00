#include "platform/BackgroundTask.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <atomic>
#include <deque>
#include <mutex>
#include <utility>

namespace kestrova {

// Changes wait here, in the order the worker queued them, until the user-interface thread
// takes them; the mutex is the only thing both threads touch.
struct TBackgroundTask::Channel {
  QObject* receiver = nullptr;  // outlives the thread: its owner joins it
  std::mutex mutex;
  std::deque<std::function<void()>> changes;
  bool wakePending = false;  // a wake-up is on its way to the receiver
  std::atomic<bool> stop{false};
};

namespace {

// Long enough to carry a few batches, short enough that typing and painting never wait
// noticeably for the list.
constexpr qint64 kSliceMs = 10;

QEvent::Type WakeEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

void TBackgroundTask::Worker::Queue(std::function<void()> change) {
  bool wake = false;
  {
    std::lock_guard lock(m_channel->mutex);
    m_channel->changes.push_back(std::move(change));
    wake = !std::exchange(m_channel->wakePending, true);
  }
  // One wake-up at a time: the receiver takes every change queued by then.
  if (wake) QCoreApplication::postEvent(m_channel->receiver, new QEvent(WakeEvent()));
}

bool TBackgroundTask::Worker::StopRequested() const { return m_channel->stop.load(); }

TBackgroundTask::TBackgroundTask(QObject* parent)
    : QObject(parent), m_channel(std::make_shared<Channel>()) {
  m_channel->receiver = this;
  WakeEvent();
}

TBackgroundTask::~TBackgroundTask() { Stop(); }

void TBackgroundTask::Stop() {
  m_channel->stop.store(true);
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard lock(m_channel->mutex);
  m_channel->changes.clear();
}

bool TBackgroundTask::Execute() {
  if (m_running > 0) return false;
  ++m_running;
  // The last run's finish step has run, so its thread is past its body and only closing.
  if (m_thread.joinable()) m_thread.join();
  try {
    m_thread = std::thread([this, channel = m_channel, body = OnExecute] {
      Worker worker(channel);
      try {
        if (body) body(worker);
      } catch (...) {
        // An error ends the body without a message; the finish step still runs.
      }
      worker.Queue([this] {
        --m_running;
        if (OnFinish) OnFinish();
      });
    });
  } catch (...) {
    --m_running;
    throw;
  }
  return true;
}

void TBackgroundTask::customEvent(QEvent*) {
  // Only wake-ups come here. The event is not looked at: the worker made it, and Qt hands
  // it over under a lock of its own; what it announces waits under ours.
  RunQueuedChanges();
}

void TBackgroundTask::RunQueuedChanges() {
  QElapsedTimer slice;
  slice.start();
  for (;;) {
    std::function<void()> change;
    {
      std::lock_guard lock(m_channel->mutex);
      if (m_channel->changes.empty()) {
        m_channel->wakePending = false;
        return;
      }
      change = std::move(m_channel->changes.front());
      m_channel->changes.pop_front();
    }
    change();
    if (slice.elapsed() >= kSliceMs) {
      // The rest waits for the next pass, so input and painting come in between.
      QCoreApplication::postEvent(this, new QEvent(WakeEvent()));
      return;
    }
  }
}

}  // namespace kestrova
