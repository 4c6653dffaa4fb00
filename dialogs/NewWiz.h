#pragma once
// TForm3: the new extension wizard, whose file-type list a worker thread fills.

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStringListModel>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace kestrova {

class TForm1;

// FileTypeLoader: runs one task at a time on a worker thread. The task hands its control
// changes to the user-interface thread, which carries them out in the order given, a
// short slice per pass of the event loop, and then runs the finish step.
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

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm3(TForm1* mainWindow, QWidget* parent = nullptr);
  // The program does not wait for a load: the worker stops at its next batch.
  ~TForm3() override;

  // The opening step: content types, an empty ProgID text, and a file-type load.
  void FormShow();
  // Creates the extensions and closes (OK), or creates them and says "Saved." (Apply).
  void Button1Click();
  void Button3Click();
  void Button2Click();
  // Creates a file type in the new file type dialog, then lists the file types again.
  void NewProgIDBtnClick();
  // The file-type load, on the worker thread, and its finish step.
  void FileTypeLoaderExecute(TBackgroundTask::Worker& worker);
  void FileTypeLoaderFinish();

  // The status bar's one simple text.
  void SetStatus(const QString& text);
  QString StatusText() const;

  QLineEdit* FileExt;
  QLabel* Label2;
  QLineEdit* LongFileExt;
  QLabel* Label3;
  QComboBox* ContentType;
  QComboBox* AssocFileTypes;
  QPushButton* NewProgIDBtn;
  QPushButton* Button1;  // OK
  QPushButton* Button2;  // Cancel
  QPushButton* Button3;  // Apply
  QProgressBar* ProgressBar1;
  QStatusBar* StatusBar1;
  TBackgroundTask* FileTypeLoader;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  // Steps 1 to 7 shared by OK and Apply; true when both extensions were written.
  bool SaveExtensions();
  // The refusal message, or empty when the extensions were written.
  QString WriteExtensions(bool& wrote);
  void ShowInMainWindow(bool wrote);
  void AppendFileTypes(const QStringList& names, int steps);

  TForm1* m_main;
  QStringListModel* m_contentTypes = nullptr;
  QLabel* m_statusText = nullptr;
};

}  // namespace kestrova
