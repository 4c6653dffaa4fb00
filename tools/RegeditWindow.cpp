#include "tools/RegeditWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <iostream>
#include <sstream>
#include <unordered_set>

#include "platform/Boxes.h"
#include "platform/SqliteStore.h"
#include "tools/RegFiles.h"
#include "tools/RegRoots.h"
#include "tools/RegWriter.h"

namespace kestrova {
namespace {

constexpr std::array<RootKey, 5> kRoots = {RootKey::ClassesRoot, RootKey::CurrentUser,
                                           RootKey::LocalMachine, RootKey::Users,
                                           RootKey::CurrentConfig};
const QString kTitle = QStringLiteral("Kestrova Registry Editor");

// A list cell shows the start of long data; the rest would only cost time to lay out.
constexpr std::size_t kShownBytes = 1024;
constexpr qsizetype kShownChars = 2048;
// Each slice of a search runs this long before the window handles its events again.
constexpr int kFindSliceMs = 15;

int RootRow(RootKey root) {
  return static_cast<int>(std::find(kRoots.begin(), kRoots.end(), root) - kRoots.begin());
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsTextType(uint32_t type) {
  return type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz;
}

// The strings of a text value: up to the first NUL, or each of a REG_MULTI_SZ's strings.
std::vector<std::string_view> TextPieces(uint32_t type, std::string_view data) {
  std::vector<std::string_view> pieces;
  if (type != RegType::MultiSz) {
    pieces.push_back(data.substr(0, data.find('\0')));
    return pieces;
  }
  while (!data.empty()) {
    const std::size_t end = data.find('\0');
    if (end != 0) pieces.push_back(data.substr(0, end));
    if (end == std::string_view::npos) break;
    data.remove_prefix(end + 1);
  }
  return pieces;
}

// The .reg writer's hex, with blanks for its commas and without its line breaks.
QString HexBytes(std::string_view data) {
  std::string reg;
  AppendRegValue(reg, {}, RegType::Binary, data);
  std::string out;
  out.reserve(data.size() * 3);
  for (std::size_t i = reg.find(':') + 1; i < reg.size(); ++i) {
    const char c = reg[i];
    if (c == ',') {
      out += ' ';
    } else if (c != '\\' && c != '\r' && c != '\n' && c != ' ') {
      out += c;
    }
  }
  return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

uint64_t LittleEndian(std::string_view data) {
  uint64_t value = 0;
  for (std::size_t i = data.size(); i > 0; --i)
    value = (value << 8) | static_cast<uint8_t>(data[i - 1]);
  return value;
}

// The default value first, the others in the store's order: how the list shows them, and so
// the order in which find goes through them.
void OrderForDisplay(std::vector<RegValue>& values) {
  std::stable_partition(values.begin(), values.end(),
                        [](const RegValue& v) { return v.name.empty(); });
}

}  // namespace

QString RegTypeText(uint32_t type) {
  switch (type) {
    case RegType::None:
      return QStringLiteral("REG_NONE");
    case RegType::Sz:
      return QStringLiteral("REG_SZ");
    case RegType::ExpandSz:
      return QStringLiteral("REG_EXPAND_SZ");
    case RegType::Binary:
      return QStringLiteral("REG_BINARY");
    case RegType::Dword:
      return QStringLiteral("REG_DWORD");
    case RegType::MultiSz:
      return QStringLiteral("REG_MULTI_SZ");
    case RegType::Qword:
      return QStringLiteral("REG_QWORD");
  }
  return QString::number(type);
}

QString RegDataText(uint32_t type, const std::string& data) {
  if (IsTextType(type)) {
    QStringList pieces;
    for (std::string_view piece : TextPieces(type, data)) pieces << FromUtf8(piece);
    QString text = pieces.join(QLatin1Char(' '));
    if (text.size() > kShownChars) text = text.left(kShownChars) + QStringLiteral("...");
    // One line per row: line breaks would be drawn over the next row.
    for (QChar& c : text) {
      if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
        c = QLatin1Char(' ');
    }
    return text;
  }
  if (type == RegType::Dword && data.size() == 4) {
    const auto value = static_cast<unsigned>(LittleEndian(data));
    return QString::asprintf("0x%08x (%u)", value, value);
  }
  if (type == RegType::Qword && data.size() == 8) {
    const auto value = static_cast<unsigned long long>(LittleEndian(data));
    return QString::asprintf("0x%016llx (%llu)", value, value);
  }
  if (data.empty()) return QStringLiteral("(zero-length binary value)");
  if (data.size() <= kShownBytes) return HexBytes(data);
  return HexBytes(std::string_view(data).substr(0, kShownBytes)) + QStringLiteral(" ...");
}

// ---------------------------------------------------------------------------------------
// The key model

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
  for (RootKey root : kRoots) {
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
    if (node->parent == m_top.get()) return FromUtf8(RegRootName(node->root));
    return FromUtf8(node->name);
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

QModelIndex RegistryKeyModel::RootIndex(RootKey root) const { return index(RootRow(root), 0, {}); }

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
  return FromUtf8(path);
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

// ---------------------------------------------------------------------------------------
// The search

// Goes through the store in the tree's order (depth first, subkeys in the store's order, the
// roots as the tree lists them), a key at a time, so that the window can run it in slices.
// From the start key's values after the selected one it goes to the end, round to the top,
// and back to where it began.
class KeySearch {
 public:
  struct Hit {
    RootKey root = RootKey::ClassesRoot;
    std::vector<KeyRef> path;  // below the root
    int valueRow = -1;         // -1: the key's own name matched
  };

  KeySearch(RegistryEngine& engine, FindQuery query, RootKey root, const std::vector<KeyRef>& path,
            int valueRow)
      : m_engine(engine),
        m_query(std::move(query)),
        m_rootIndex(RootRow(root)),
        m_startRootIndex(m_rootIndex),
        m_startValueRow(valueRow) {
    m_frames.push_back(RootFrame(m_rootIndex));
    m_startPath.push_back(m_frames.back().ref.id);
    // Rebuild the walk's position at the start key, each level positioned after it.
    for (KeyRef ref : path) {
      Frame& parent = m_frames.back();
      parent.listed = true;
      m_engine.Children(parent.ref, parent.children);
      auto it = std::find_if(parent.children.begin(), parent.children.end(),
                             [&](const ChildKey& c) { return c.ref.id == ref.id; });
      if (it == parent.children.end()) {
        m_startValueRow = -1;  // the start key is gone: begin at the nearest one still there
        break;
      }
      parent.next = static_cast<std::size_t>(it - parent.children.begin()) + 1;
      m_frames.push_back(KeyFrame(it->ref, it->name));
      m_startPath.push_back(ref.id);
    }
  }

  // Runs for about `budgetMs`; true when the search is over, found or not.
  bool Run(int budgetMs) {
    QElapsedTimer timer;
    timer.start();
    if (!m_begun) {
      m_begun = true;
      if (CheckValues(m_startValueRow + 1, INT32_MAX)) return true;
    }
    while (!timer.hasExpired(budgetMs)) {
      if (!Advance()) return true;
      const Frame& key = m_frames.back();
      if (m_query.keys && m_frames.size() > 1 && Matches(FromUtf8(key.name))) {
        Found(-1);
        return true;
      }
      if (m_wrapped && AtStart()) {
        CheckValues(0, m_startValueRow + 1);
        return true;
      }
      if (CheckValues(0, INT32_MAX)) return true;
    }
    return false;
  }

  const std::optional<Hit>& Result() const { return m_hit; }
  // True once the search went past the end of the store and on from the top.
  bool Wrapped() const { return m_wrapped; }
  // The key being searched, for progress.
  QString Where() const {
    std::string path(RegRootName(kRoots[m_rootIndex]));
    for (std::size_t i = 1; i < m_frames.size(); ++i) path += '\\' + m_frames[i].name;
    return FromUtf8(path);
  }

 private:
  struct Frame {
    KeyRef ref;
    std::string name;
    std::vector<ChildKey> children;
    std::size_t next = 0;
    bool listed = false;
  };

  static Frame KeyFrame(KeyRef ref, std::string name) {
    Frame frame;
    frame.ref = ref;
    frame.name = std::move(name);
    return frame;
  }

  Frame RootFrame(std::size_t rootIndex) {
    Frame frame;
    frame.ref = m_engine.Root(kRoots[rootIndex]);
    return frame;
  }

  // Moves to the next key in the tree's order; false when the search is back where it began.
  bool Advance() {
    for (;;) {
      Frame& top = m_frames.back();
      if (!top.listed) {
        top.listed = true;
        m_engine.Children(top.ref, top.children);
      }
      if (top.next < top.children.size()) {
        ChildKey& child = top.children[top.next++];
        Frame frame = KeyFrame(child.ref, std::move(child.name));
        m_frames.push_back(std::move(frame));
        return true;
      }
      if (m_frames.size() > 1) {
        m_frames.pop_back();
        continue;
      }
      // A root is done. Leaving the start's root a second time ends the search even when the
      // start key was deleted meanwhile.
      if (m_wrapped && m_rootIndex == m_startRootIndex) return false;
      m_rootIndex = (m_rootIndex + 1) % kRoots.size();
      if (m_rootIndex == 0) m_wrapped = true;
      m_frames.clear();
      m_frames.push_back(RootFrame(m_rootIndex));
      return true;
    }
  }

  // HKEY_CLASSES_ROOT's keys appear again under HKEY_LOCAL_MACHINE with the same ids: the
  // start is a place in the tree, not only a key.
  bool AtStart() const {
    if (m_rootIndex != m_startRootIndex || m_frames.size() != m_startPath.size()) return false;
    for (std::size_t i = m_frames.size(); i > 0; --i) {
      if (m_frames[i - 1].ref.id != m_startPath[i - 1]) return false;
    }
    return true;
  }

  bool Matches(const QString& text) const {
    if (m_query.wholeString) return text.compare(m_query.text, Qt::CaseInsensitive) == 0;
    return text.contains(m_query.text, Qt::CaseInsensitive);
  }

  // Looks at the current key's values in rows [from, to).
  bool CheckValues(int from, int to) {
    if (!m_query.values && !m_query.data) return false;
    m_values.clear();
    m_engine.ListValues(m_frames.back().ref, m_values);
    OrderForDisplay(m_values);
    const int count = std::min(to, static_cast<int>(m_values.size()));
    for (int row = std::max(from, 0); row < count; ++row) {
      const RegValue& value = m_values[static_cast<std::size_t>(row)];
      bool hit = m_query.values && !value.name.empty() && Matches(FromUtf8(value.name));
      if (!hit && m_query.data && IsTextType(value.type)) {
        for (std::string_view piece : TextPieces(value.type, value.data)) {
          if (Matches(FromUtf8(piece))) {
            hit = true;
            break;
          }
        }
      }
      if (hit) {
        Found(row);
        return true;
      }
    }
    return false;
  }

  void Found(int valueRow) {
    Hit hit;
    hit.root = kRoots[m_rootIndex];
    for (std::size_t i = 1; i < m_frames.size(); ++i) hit.path.push_back(m_frames[i].ref);
    hit.valueRow = valueRow;
    m_hit = std::move(hit);
  }

  RegistryEngine& m_engine;
  const FindQuery m_query;
  std::size_t m_rootIndex;
  const std::size_t m_startRootIndex;
  int m_startValueRow;
  std::vector<int64_t> m_startPath;  // ids from the root down
  std::vector<Frame> m_frames;       // the root first, the current key last
  std::vector<RegValue> m_values;
  bool m_begun = false;
  bool m_wrapped = false;
  std::optional<Hit> m_hit;
};

// ---------------------------------------------------------------------------------------
// The Find dialog

RegeditFindDialog::RegeditFindDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("FindDialog");
  setWindowTitle(tr("Find"));

  FindWhat = new QLineEdit(this);
  FindWhat->setObjectName("FindWhat");
  auto* label = new QLabel(tr("Fi&nd what:"), this);
  label->setBuddy(FindWhat);

  auto* lookAt = new QGroupBox(tr("Look at"), this);
  LookAtKeys = new QCheckBox(tr("&Keys"), lookAt);
  LookAtKeys->setObjectName("LookAtKeys");
  LookAtValues = new QCheckBox(tr("&Values"), lookAt);
  LookAtValues->setObjectName("LookAtValues");
  LookAtData = new QCheckBox(tr("&Data"), lookAt);
  LookAtData->setObjectName("LookAtData");
  auto* lookAtLayout = new QVBoxLayout(lookAt);
  lookAtLayout->addWidget(LookAtKeys);
  lookAtLayout->addWidget(LookAtValues);
  lookAtLayout->addWidget(LookAtData);
  WholeString = new QCheckBox(tr("Match &whole string only"), this);
  WholeString->setObjectName("WholeString");

  FindNextButton = new QPushButton(tr("&Find Next"), this);
  FindNextButton->setObjectName("FindNextButton");
  FindNextButton->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName("CancelButton");

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0);
  grid->addWidget(FindWhat, 0, 1);
  grid->addWidget(FindNextButton, 0, 2);
  grid->addWidget(lookAt, 1, 0, 1, 2);
  grid->addWidget(cancel, 1, 2, Qt::AlignTop);
  grid->addWidget(WholeString, 2, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  setTabOrder(FindWhat, LookAtKeys);
  setTabOrder(LookAtKeys, LookAtValues);
  setTabOrder(LookAtValues, LookAtData);
  setTabOrder(LookAtData, WholeString);
  setTabOrder(WholeString, FindNextButton);
  setTabOrder(FindNextButton, cancel);
  resize(460, sizeHint().height());

  SetQuery(FindQuery{});
  connect(FindWhat, &QLineEdit::textChanged, this, &RegeditFindDialog::UpdateButtons);
  for (QCheckBox* box : {LookAtKeys, LookAtValues, LookAtData})
    connect(box, &QCheckBox::toggled, this, &RegeditFindDialog::UpdateButtons);
  connect(FindNextButton, &QPushButton::clicked, this, [this] {
    accept();
    emit FindRequested(Query());
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

FindQuery RegeditFindDialog::Query() const {
  return FindQuery{FindWhat->text(), LookAtKeys->isChecked(), LookAtValues->isChecked(),
                   LookAtData->isChecked(), WholeString->isChecked()};
}

void RegeditFindDialog::SetQuery(const FindQuery& query) {
  FindWhat->setText(query.text);
  LookAtKeys->setChecked(query.keys);
  LookAtValues->setChecked(query.values);
  LookAtData->setChecked(query.data);
  WholeString->setChecked(query.wholeString);
  UpdateButtons();
}

void RegeditFindDialog::UpdateButtons() {
  FindNextButton->setEnabled(
      !FindWhat->text().isEmpty() &&
      (LookAtKeys->isChecked() || LookAtValues->isChecked() || LookAtData->isChecked()));
}

// ---------------------------------------------------------------------------------------
// The window

RegeditWindow::RegeditWindow(std::shared_ptr<RegistryEngine> engine, QWidget* parent)
    : QMainWindow(parent), m_engine(std::move(engine)) {
  setObjectName("RegeditWindow");
  setWindowTitle(kTitle);
  CreateControls();
  CreateMenus();

  connect(KeyTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &RegeditWindow::KeyTreeCurrentChanged);
  // Queued: a read can fail while the tree paints, where no box may open.
  connect(m_model, &RegistryKeyModel::StoreFailed, this, &RegeditWindow::ShowStoreError,
          Qt::QueuedConnection);
  connect(FindDialog, &RegeditFindDialog::FindRequested, this, &RegeditWindow::StartFind);
  m_findTimer.setSingleShot(true);
  connect(&m_findTimer, &QTimer::timeout, this, &RegeditWindow::ContinueFind);

  KeyTree->setCurrentIndex(m_model->RootIndex(RootKey::ClassesRoot));
  KeyTree->setFocus();
}

RegeditWindow::~RegeditWindow() = default;

void RegeditWindow::CreateControls() {
  m_model = new RegistryKeyModel(m_engine, this);
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setObjectName("Splitter");

  KeyTree = new QTreeView(splitter);
  KeyTree->setObjectName("KeyTree");
  KeyTree->setAccessibleName(tr("Keys"));
  KeyTree->setModel(m_model);
  KeyTree->setHeaderHidden(true);
  // Rows of one height let the view lay out a root of 50,000 keys without measuring each.
  KeyTree->setUniformRowHeights(true);
  KeyTree->setSelectionMode(QAbstractItemView::SingleSelection);

  ValueList = new QTreeWidget(splitter);
  ValueList->setObjectName("ValueList");
  ValueList->setAccessibleName(tr("Values"));
  ValueList->setColumnCount(3);
  ValueList->setHeaderLabels({tr("Name"), tr("Type"), tr("Data")});
  ValueList->setRootIsDecorated(false);
  ValueList->setUniformRowHeights(true);
  ValueList->setAllColumnsShowFocus(true);
  ValueList->setSelectionMode(QAbstractItemView::SingleSelection);
  ValueList->header()->resizeSection(0, 200);
  ValueList->header()->resizeSection(1, 120);

  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 2);
  splitter->setSizes({320, 580});
  setCentralWidget(splitter);
  setTabOrder(KeyTree, ValueList);

  KeyPath = new QLabel(this);
  KeyPath->setObjectName("KeyPath");
  KeyPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statusBar()->addWidget(KeyPath, 1);
  m_findStatus = new QLabel(this);
  m_findStatus->setObjectName("FindStatus");
  statusBar()->addPermanentWidget(m_findStatus);
  // Said once, and kept: every write the store refuses would otherwise come as a surprise.
  ReadOnlyNote = new QLabel(this);
  ReadOnlyNote->setObjectName("ReadOnlyNote");
  if (!m_engine->Writable()) ReadOnlyNote->setText(tr("The store is read-only."));
  ReadOnlyNote->setVisible(!m_engine->Writable());
  statusBar()->addPermanentWidget(ReadOnlyNote);

  FindDialog = new RegeditFindDialog(this);
  resize(900, 600);
}

void RegeditWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  ExportAction = file->addAction(tr("&Export..."), this, &RegeditWindow::ExportClick);
  ExportAction->setShortcut(QKeySequence(tr("Ctrl+E")));
  file->addSeparator();
  ExitAction = file->addAction(tr("E&xit"), this, &QWidget::close);
  ExitAction->setShortcut(QKeySequence::Quit);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  FindAction = edit->addAction(tr("&Find..."), this, &RegeditWindow::FindClick);
  FindAction->setShortcut(QKeySequence::Find);
  FindNextAction = edit->addAction(tr("Find &Next"), this, &RegeditWindow::FindNextClick);
  FindNextAction->setShortcut(QKeySequence(Qt::Key_F3));
  StopFindAction = edit->addAction(tr("&Stop Find"), this, &RegeditWindow::StopFind);
  StopFindAction->setShortcut(QKeySequence(Qt::Key_Escape));
  StopFindAction->setEnabled(false);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  RefreshAction = view->addAction(tr("&Refresh"), this, &RegeditWindow::RefreshClick);
  RefreshAction->setShortcut(QKeySequence(Qt::Key_F5));
}

QString RegeditWindow::CurrentPath() const { return m_model->Path(KeyTree->currentIndex()); }

void RegeditWindow::KeyTreeCurrentChanged() {
  KeyPath->setText(CurrentPath());
  LoadValues();
}

void RegeditWindow::LoadValues() {
  ValueList->clear();
  const KeyRef key = m_model->Key(KeyTree->currentIndex());
  if (!key) return;
  std::vector<RegValue> values;
  try {
    m_engine->ListValues(key, values);
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
    return;
  }
  OrderForDisplay(values);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(values.size()));
  for (const RegValue& v : values) {
    items << new QTreeWidgetItem(QStringList{v.name.empty() ? tr("(Default)") : FromUtf8(v.name),
                                             RegTypeText(v.type), RegDataText(v.type, v.data)});
  }
  ValueList->addTopLevelItems(items);
}

void RegeditWindow::FindClick() {
  if (m_lastQuery) FindDialog->SetQuery(*m_lastQuery);
  FindDialog->FindWhat->selectAll();
  FindDialog->FindWhat->setFocus();
  FindDialog->show();
  FindDialog->raise();
  FindDialog->activateWindow();
}

void RegeditWindow::FindNextClick() {
  if (m_lastQuery) {
    StartFind(*m_lastQuery);
  } else {
    FindClick();
  }
}

void RegeditWindow::StartFind(const FindQuery& query) {
  StopFind();
  if (query.text.isEmpty() || !(query.keys || query.values || query.data)) return;
  m_lastQuery = query;

  QModelIndex current = KeyTree->currentIndex();
  if (!current.isValid()) current = m_model->RootIndex(RootKey::ClassesRoot);
  std::vector<KeyRef> path;
  for (QModelIndex at = current; at.parent().isValid(); at = at.parent())
    path.push_back(m_model->Key(at));
  std::reverse(path.begin(), path.end());
  QTreeWidgetItem* value = ValueList->currentItem();
  const int valueRow = value && value->isSelected() ? ValueList->indexOfTopLevelItem(value) : -1;

  try {
    m_search =
        std::make_unique<KeySearch>(*m_engine, query, m_model->RootOf(current), path, valueRow);
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
    emit FindFinished(false);
    return;
  }
  StopFindAction->setEnabled(true);
  m_findStatus->setText(tr("Searching..."));
  m_findTimer.start(0);
}

void RegeditWindow::ContinueFind() {
  if (!m_search) return;
  bool over = false;
  try {
    over = m_search->Run(kFindSliceMs);
  } catch (const StoreError& e) {
    StopFind();
    ShowStoreError(QString::fromUtf8(e.what()));
    emit FindFinished(false);
    return;
  }
  if (!over) {
    m_findStatus->setText(tr("Searching %1...").arg(m_search->Where()));
    m_findTimer.start(0);
    return;
  }
  EndFind(m_search->Result().has_value());
}

void RegeditWindow::StopFind() {
  m_findTimer.stop();
  m_search.reset();
  StopFindAction->setEnabled(false);
  m_findStatus->clear();
}

void RegeditWindow::EndFind(bool found) {
  if (found) {
    ShowFound();
  } else {
    StopFind();
    TheBoxes().Message(this, tr("Find"), tr("\"%1\" was not found.").arg(m_lastQuery->text),
                       Boxes::Icon::Information);
  }
  emit FindFinished(found);
}

void RegeditWindow::ShowFound() {
  const KeySearch::Hit hit = *m_search->Result();
  const bool wrapped = m_search->Wrapped();
  StopFind();
  QModelIndex index;
  try {
    index = m_model->IndexFor(hit.root, hit.path);
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
    return;
  }
  if (!index.isValid()) {
    m_findStatus->setText(tr("The key found was deleted meanwhile."));
    return;
  }
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) KeyTree->expand(up);
  KeyTree->setCurrentIndex(index);
  KeyTree->scrollTo(index);
  if (hit.valueRow >= 0) {
    if (QTreeWidgetItem* item = ValueList->topLevelItem(hit.valueRow)) {
      ValueList->setCurrentItem(item);
      ValueList->scrollToItem(item);
    }
  }
  if (wrapped) m_findStatus->setText(tr("Passed the end of the store; went on from the top."));
}

void RegeditWindow::RefreshClick() {
  QTreeWidgetItem* value = ValueList->currentItem();
  const QString valueName = value && value->isSelected() ? value->text(0) : QString();
  try {
    m_model->Refresh();
  } catch (const StoreError& e) {
    ShowStoreError(QString::fromUtf8(e.what()));
  }
  KeyPath->setText(CurrentPath());
  LoadValues();
  if (!valueName.isEmpty()) {
    const auto same =
        ValueList->findItems(valueName, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (!same.isEmpty()) ValueList->setCurrentItem(same.front());
  }
}

void RegeditWindow::ExportClick() {
  QString name = KeyTree->currentIndex().data().toString();
  name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
  Boxes::SaveFileRequest request;
  request.title = tr("Export Registry File");
  request.initialPath = QDir::home().filePath(name + ".reg");
  request.defaultSuffix = QStringLiteral("reg");
  request.filters = {tr("Registration files (*.reg)"), tr("All files (*)")};
  const QString path = TheBoxes().SaveFile(this, request);
  if (!path.isEmpty()) ExportKey(path);
}

bool RegeditWindow::ExportKey(const QString& path) {
  std::optional<std::string> key;
  if (KeyTree->currentIndex().isValid()) key = CurrentPath().toStdString();
  std::ostringstream err;
  const int status = ExportRegFile(*m_engine, QFile::encodeName(path).toStdString(), key, err);
  if (status != kExitOk) {
    QString message = QString::fromStdString(err.str()).trimmed();
    message.remove(QStringLiteral("kestrova-regedit: "));
    TheBoxes().Message(this, tr("Export"), message, Boxes::Icon::Error);
    return false;
  }
  m_findStatus->setText(tr("Exported to %1").arg(QDir::toNativeSeparators(path)));
  return true;
}

void RegeditWindow::ShowStoreError(const QString& message) {
  // One box at a time: a store that fails once usually fails for every row painted next.
  if (m_showingError) return;
  m_showingError = true;
  TheBoxes().Message(this, kTitle, message, Boxes::Icon::Error);
  m_showingError = false;
}

int RunRegeditWindow(int& argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrova-regedit"));
  std::shared_ptr<RegistryEngine> engine;
  std::unique_ptr<RegeditWindow> window;
  try {
    UseSqliteStore(DefaultStorePath());
    engine = AcquireEngine();
    window = std::make_unique<RegeditWindow>(engine);
  } catch (const StoreError& e) {
    std::cerr << "kestrova-regedit: " << e.what() << '\n';
    TheBoxes().Message(nullptr, kTitle, QString::fromUtf8(e.what()), Boxes::Icon::Error);
    return kExitFailed;
  }
  window->show();
  return app.exec();
}

}  // namespace kestrova
