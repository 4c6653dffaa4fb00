#pragma once
// The store's keys as a model for the window's tree.

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <memory>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

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

}  // namespace kestrova
