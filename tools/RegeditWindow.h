#pragma once
// kestrova-regedit's window: the store's keys as a tree, the selected key's values as a list, and
// find.

#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

#include "store/RegistryEngine.h"
#include "tools/KeySearch.h"
#include "tools/RegeditFindDialog.h"
#include "tools/RegistryKeyModel.h"

class QAction;
class QLabel;
class QTreeView;
class QTreeWidget;

namespace kestrova {

class RegeditWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit RegeditWindow(std::shared_ptr<RegistryEngine> engine, QWidget* parent = nullptr);
  ~RegeditWindow() override;

  QTreeView* KeyTree = nullptr;
  QTreeWidget* ValueList = nullptr;
  QLabel* KeyPath = nullptr;
  QLabel* ReadOnlyNote = nullptr;  // shown when the store cannot be written
  RegeditFindDialog* FindDialog = nullptr;
  QAction* ExportAction = nullptr;
  QAction* ExitAction = nullptr;
  QAction* FindAction = nullptr;
  QAction* FindNextAction = nullptr;
  QAction* StopFindAction = nullptr;
  QAction* RefreshAction = nullptr;

  RegistryKeyModel& Model() { return *m_model; }
  // The full name of the selected key, as the status bar shows it.
  QString CurrentPath() const;

  // Handlers.
  void KeyTreeCurrentChanged();
  void FindClick();
  void FindNextClick();
  void RefreshClick();
  void ExportClick();
  // Looks for the query from the selected key (after its selected value) onward, in slices
  // that leave the window responsive; FindFinished tells the outcome.
  void StartFind(const FindQuery& query);
  void StopFind();
  bool Searching() const { return m_search != nullptr; }
  // Writes the selected key and its subtree as a .reg file; false (after a message) on failure.
  bool ExportKey(const QString& path);

 signals:
  void FindFinished(bool found);

 private:
  void CreateControls();
  void CreateMenus();
  void LoadValues();
  void ContinueFind();
  void EndFind(bool found);
  void ShowFound();
  void ShowStoreError(const QString& message);

  std::shared_ptr<RegistryEngine> m_engine;
  RegistryKeyModel* m_model = nullptr;
  QLabel* m_findStatus = nullptr;  // the search's progress and outcome, beside the path
  std::optional<FindQuery> m_lastQuery;
  std::unique_ptr<KeySearch> m_search;
  QTimer m_findTimer;  // runs the next slice of the search
  bool m_showingError = false;
};

// Runs the window against the store kestrova-regedit finds, or the Wine prefix at `prefix`
// when one is given: the QApplication, the store's open (a failure, or a folder that is not
// a prefix, shown in a box and on standard error, status 2), the event loop.
int RunRegeditWindow(int& argc, char** argv, const std::string& prefix = {});

}  // namespace kestrova
