#include "tools/RegistryKeyModel.h"

#include <QApplication>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <unordered_set>

#include "regfile/RegRoots.h"
#include "tools/RegeditRoots.h"
#include "tools/ValueText.h"

namespace kestrova {

struct RegistryKeyModel::Node {
  Node* parent = nullptr;
  int row = 0;
  RootKey root = RootKey::ClassesRoot;
  KeyRef ref;
  std::string name;  // empty for a root, whose name is the root's
  bool fetched = false;
  // Whether the key has subkeys, read when its row was first shown; unknown before.
  std::optional<bool> hasSubkeys;
  std::vector<std::unique_ptr<Node>> children;
};

RegistryKeyModel::RegistryKeyModel(std::shared_ptr<RegistryEngine> engine, QObject* parent)
    : QAbstractItemModel(parent), m_engine(std::move(engine)), m_top(std::make_unique<Node>()) {
  m_top->fetched = true;
  for (RootKey root : kRegeditRoots) {
    auto node = std::make_unique<Node>();
    node->parent = m_top.get();
    node->row = static_cast<int>(m_top->children.size());
    node->root = root;
    node->ref = m_engine->Root(root);
    m_top->children.push_back(std::move(node));
  }
  m_keyIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
}

RegistryKeyModel::~RegistryKeyModel() = default;

RegistryKeyModel::Node* RegistryKeyModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_top.get();
}

QModelIndex RegistryKeyModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (column != 0 || row < 0 || row >= static_cast<int>(node->children.size())) return {};
  return createIndex(row, 0, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex RegistryKeyModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  Node* up = NodeOf(child)->parent;
  if (up == m_top.get()) return {};
  return createIndex(up->row, 0, up);
}

int RegistryKeyModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  return static_cast<int>(NodeOf(parent)->children.size());
}

int RegistryKeyModel::columnCount(const QModelIndex&) const { return 1; }

QVariant RegistryKeyModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  Node* node = NodeOf(index);
  if (role == Qt::DisplayRole) {
    if (!node->fetched && !node->hasSubkeys) Probe(node);
    if (node->parent == m_top.get()) return Utf8Text(RegRootName(node->root));
    return Utf8Text(node->name);
  }
  if (role == Qt::DecorationRole) return m_keyIcon;
  return {};
}

// The view asks every row of a level it lays out, so the answer must cost nothing: a key not
// yet read is taken to have subkeys until data() reads it, which the view does only for the
// rows it paints.
bool RegistryKeyModel::hasChildren(const QModelIndex& parent) const {
  if (parent.column() > 0) return false;
  const Node* node = NodeOf(parent);
  if (node->fetched) return !node->children.empty();
  return node->hasSubkeys.value_or(true);
}

void RegistryKeyModel::Probe(Node* node) const {
  std::vector<ChildKey> children;
  try {
    m_engine->Children(node->ref, children);
  } catch (const StoreError& e) {
    ReportFailure(e);
  }
  node->hasSubkeys = !children.empty();
  if (!*node->hasSubkeys && !m_relayoutPending) {
    // The view keeps what hasChildren() said; lay it out again to drop the expander.
    m_relayoutPending = true;
    QTimer::singleShot(0, this, [this] {
      auto* self = const_cast<RegistryKeyModel*>(this);
      self->m_relayoutPending = false;
      emit self->layoutAboutToBeChanged();
      emit self->layoutChanged();
    });
  }
}

bool RegistryKeyModel::canFetchMore(const QModelIndex& parent) const {
  return parent.isValid() && parent.column() == 0 && !NodeOf(parent)->fetched;
}

void RegistryKeyModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid()) Fetch(NodeOf(parent), parent);
}

void RegistryKeyModel::Fetch(Node* node, const QModelIndex& index) {
  if (node->fetched) return;
  std::vector<ChildKey> children;
  try {
    m_engine->Children(node->ref, children);
  } catch (const StoreError& e) {
    ReportFailure(e);
  }
  // Even after a failure: the view would otherwise ask again at once, and again. Refresh reads
  // it anew.
  node->fetched = true;
  if (children.empty()) return;
  beginInsertRows(index, 0, static_cast<int>(children.size()) - 1);
  node->children.reserve(children.size());
  for (ChildKey& child : children) {
    auto n = std::make_unique<Node>();
    n->parent = node;
    n->row = static_cast<int>(node->children.size());
    n->root = node->root;
    n->ref = child.ref;
    n->name = std::move(child.name);
    node->children.push_back(std::move(n));
  }
  endInsertRows();
}

void RegistryKeyModel::Refresh() {
  for (auto& root : m_top->children) RefreshNode(root.get(), index(root->row, 0, {}));
  // Keys that were not read yet may have gained or lost subkeys: let the view ask again.
  emit layoutAboutToBeChanged();
  emit layoutChanged();
}

// Merges the store's current children into the rows shown. Both lists are in the store's
// order and a key keeps its id while it lives, so the rows that stay are a subsequence of
// the new list: remove the gone rows, then insert the new ones between them.
void RegistryKeyModel::RefreshNode(Node* node, const QModelIndex& index) {
  if (!node->fetched) {
    node->hasSubkeys.reset();
    return;
  }
  std::vector<ChildKey> fresh;
  m_engine->Children(node->ref, fresh);
  std::unordered_set<int64_t> ids;
  ids.reserve(fresh.size());
  for (const ChildKey& c : fresh) ids.insert(c.ref.id);

  auto& rows = node->children;
  auto renumber = [&rows] {
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i]->row = static_cast<int>(i);
  };
  for (int i = static_cast<int>(rows.size()) - 1; i >= 0;) {
    if (ids.count(rows[static_cast<std::size_t>(i)]->ref.id)) {
      --i;
      continue;
    }
    const int last = i;
    while (i >= 0 && !ids.count(rows[static_cast<std::size_t>(i)]->ref.id)) --i;
    beginRemoveRows(index, i + 1, last);
    rows.erase(rows.begin() + (i + 1), rows.begin() + (last + 1));
    renumber();
    endRemoveRows();
  }

  std::size_t at = 0;
  while (at < fresh.size()) {
    if (at < rows.size() && rows[at]->ref.id == fresh[at].ref.id) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < fresh.size() && !(at < rows.size() && rows[at]->ref.id == fresh[end].ref.id))
      ++end;
    beginInsertRows(index, static_cast<int>(at), static_cast<int>(end) - 1);
    std::vector<std::unique_ptr<Node>> added;
    for (std::size_t k = at; k < end; ++k) {
      auto n = std::make_unique<Node>();
      n->parent = node;
      n->root = node->root;
      n->ref = fresh[k].ref;
      n->name = std::move(fresh[k].name);
      added.push_back(std::move(n));
    }
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at),
                std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    renumber();
    endInsertRows();
    at = end;
  }
  // Only when the order itself changed can rows be left over; drop them rather than show
  // keys twice.
  if (rows.size() > fresh.size()) {
    beginRemoveRows(index, static_cast<int>(fresh.size()), static_cast<int>(rows.size()) - 1);
    rows.resize(fresh.size());
    endRemoveRows();
  }

  for (auto& child : rows) RefreshNode(child.get(), this->index(child->row, 0, index));
}

QModelIndex RegistryKeyModel::RootIndex(RootKey root) const {
  return index(RegeditRootRow(root), 0, {});
}

RootKey RegistryKeyModel::RootOf(const QModelIndex& index) const {
  return index.isValid() ? NodeOf(index)->root : RootKey::ClassesRoot;
}

KeyRef RegistryKeyModel::Key(const QModelIndex& index) const {
  return index.isValid() ? NodeOf(index)->ref : KeyRef{};
}

QString RegistryKeyModel::Path(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  std::vector<const Node*> chain;
  for (const Node* n = NodeOf(index); n != m_top.get(); n = n->parent) chain.push_back(n);
  std::string path(RegRootName(chain.back()->root));
  for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
    path += '\\';
    path += (*it)->name;
  }
  return Utf8Text(path);
}

QModelIndex RegistryKeyModel::IndexFor(RootKey root, const std::vector<KeyRef>& path) {
  QModelIndex at = RootIndex(root);
  Node* node = NodeOf(at);
  for (KeyRef ref : path) {
    Fetch(node, at);
    auto find = [&] {
      for (auto& child : node->children) {
        if (child->ref.id == ref.id) return child.get();
      }
      return static_cast<Node*>(nullptr);
    };
    Node* child = find();
    if (!child) {
      // Created after this level was read.
      RefreshNode(node, at);
      child = find();
    }
    if (!child) return {};
    at = index(child->row, 0, at);
    node = child;
  }
  return at;
}

void RegistryKeyModel::ReportFailure(const StoreError& error) const {
  emit const_cast<RegistryKeyModel*>(this)->StoreFailed(QString::fromUtf8(error.what()));
}

}  // namespace kestrova
