#pragma once
// kestrova-regedit's window: the store's keys as a tree, the selected key's values as a list, and
// find.

#include <QAbstractItemModel>
#include <QDialog>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/RegistryEngine.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class QTreeWidget;

namespace kestrova {

// How a value reads in the list: its type's name and its data as text (text values as they
// are, a DWORD as 0x%08x (decimal), everything else as hex bytes).
QString RegTypeText(uint32_t type);
QString RegDataText(uint32_t type, const std::string& data);

// The store's keys for a tree view. A key's children are read when the view first asks for
// them, so a root holding tens of thousands of keys costs nothing until it is expanded.
class RegistryKeyModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit RegistryKeyModel(std::shared_ptr<RegistryEngine> engine, QObject* parent = nullptr);
  ~RegistryKeyModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // The top-level row of a root.
  QModelIndex RootIndex(RootKey root) const;
  RootKey RootOf(const QModelIndex& index) const;
  KeyRef Key(const QModelIndex& index) const;
  // The key's full name, root first: HKEY_CLASSES_ROOT\.txt.
  QString Path(const QModelIndex& index) const;
  // The row of the key reached from `root` through `path` (KeyRefs from the root's child
  // down), reading levels as needed; invalid when a key on the way is gone.
  QModelIndex IndexFor(RootKey root, const std::vector<KeyRef>& path);
  // Reads every level read so far again: rows of keys that still exist stay (and so do their
  // expansion and selection), deleted keys go, new keys appear in the store's order.
  void Refresh();

 signals:
  // A read failed; the tree shows what it had.
  void StoreFailed(const QString& message);

 private:
  struct Node;
  Node* NodeOf(const QModelIndex& index) const;
  // Reads whether the key has subkeys.
  void Probe(Node* node) const;
  void Fetch(Node* node, const QModelIndex& index);
  void RefreshNode(Node* node, const QModelIndex& index);
  void ReportFailure(const StoreError& error) const;

  std::shared_ptr<RegistryEngine> m_engine;
  std::unique_ptr<Node> m_top;  // holds the roots; stands for the invalid index
  QIcon m_keyIcon;
  mutable bool m_relayoutPending = false;
};

// What to look for and where.
struct FindQuery {
  QString text;
  bool keys = true;
  bool values = true;
  bool data = true;
  bool wholeString = false;
};

// The Find dialog: the text and where to look; Find Next starts the search.
class RegeditFindDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RegeditFindDialog(QWidget* parent = nullptr);
  FindQuery Query() const;
  void SetQuery(const FindQuery& query);

  QLineEdit* FindWhat = nullptr;
  QCheckBox* LookAtKeys = nullptr;
  QCheckBox* LookAtValues = nullptr;
  QCheckBox* LookAtData = nullptr;
  QCheckBox* WholeString = nullptr;
  QPushButton* FindNextButton = nullptr;

 signals:
  void FindRequested(const FindQuery& query);

 private:
  void UpdateButtons();
};

class KeySearch;

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

// Runs the window against the store kestrova-regedit finds: the QApplication, the store's
// open (a failure shown in a box and on standard error, status 2), the event loop.
int RunRegeditWindow(int& argc, char** argv);

}  // namespace kestrova
