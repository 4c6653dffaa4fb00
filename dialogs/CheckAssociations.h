#pragma once
// The Check Associations window: the association check run on a worker thread, its findings
// grouped by kind, and the mends the user picks.

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "platform/BackgroundTask.h"
#include "platform/CheckProbesDesktop.h"
#include "store/AssociationCheck.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrova {

class CheckAssociationsDialog : public QDialog {
 public:
  // What the window needs from outside: probes made on the worker thread for each run, the
  // backups its mends take (the program's), and who is told of the mends done. Without
  // `desktop` only the store is checked; the desktop's mends are followed by `rebuild`
  // (on this thread) when they changed entries or MIME packages.
  struct Services {
    std::function<std::unique_ptr<ProgramResolver>()> programs;
    std::function<std::unique_ptr<CheckFiles>()> files;
    std::function<std::unique_ptr<KeyBackup>(RegistryEngine&)> backup;
    std::function<void(const std::vector<Finding>&)> mended;
    std::function<std::unique_ptr<DesktopProbe>()> desktop;
    std::function<std::unique_ptr<DesktopCheckMends>()> desktopMends;
    std::function<void(bool mime, bool applications)> rebuild;
  };

  CheckAssociationsDialog(QWidget* parent, Services services);
  ~CheckAssociationsDialog() override;

  // Starts a check on the worker thread; the list fills when it ends. False while one runs.
  bool CheckAgain();
  // Mends the selected findings (a selected group: all of its own) after the user agrees
  // through the boxes; the list is checked again afterwards.
  void MendSelected();

  bool Checking() const { return m_task->Running() > 0; }
  QTreeWidget* Tree() const { return m_tree; }
  QPushButton* MendButton() const { return m_mend; }
  QPushButton* CheckButton() const { return m_check; }
  QProgressBar* Progress() const { return m_progress; }
  QLabel* Status() const { return m_status; }
  const std::vector<Finding>& Findings() const { return m_findings; }

 private:
  void Fill();
  std::vector<const Finding*> Selected() const;
  void UpdateButtons();

  Services m_services;
  TBackgroundTask* m_task;
  QTreeWidget* m_tree;
  QPushButton* m_mend;
  QPushButton* m_check;
  QProgressBar* m_progress;
  QLabel* m_status;
  std::vector<Finding> m_findings;
  // What the worker found, or why it failed; handed over by its finish step.
  std::shared_ptr<std::vector<Finding>> m_result;
  std::shared_ptr<std::string> m_error;
};

}  // namespace kestrova
