#include "tools/KeySearch.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdint>

#include "regfile/RegRoots.h"
#include "store/RegistryRules.h"
#include "tools/RegeditRoots.h"
#include "tools/ValueText.h"

namespace kestrova {

KeySearch::KeySearch(RegistryEngine& engine, FindQuery query, RootKey root,
                     const std::vector<KeyRef>& path, int valueRow)
    : m_engine(engine),
      m_query(std::move(query)),
      m_rootIndex(static_cast<std::size_t>(RegeditRootRow(root))),
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

bool KeySearch::Run(int budgetMs) {
  QElapsedTimer timer;
  timer.start();
  if (!m_begun) {
    m_begun = true;
    if (CheckValues(m_startValueRow + 1, INT32_MAX)) return true;
  }
  while (!timer.hasExpired(budgetMs)) {
    if (!Advance()) return true;
    const Frame& key = m_frames.back();
    if (m_query.keys && m_frames.size() > 1 && Matches(Utf8Text(key.name))) {
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

QString KeySearch::Where() const {
  std::string path(RegRootName(kRegeditRoots[m_rootIndex]));
  for (std::size_t i = 1; i < m_frames.size(); ++i) path += '\\' + m_frames[i].name;
  return Utf8Text(path);
}

KeySearch::Frame KeySearch::KeyFrame(KeyRef ref, std::string name) {
  Frame frame;
  frame.ref = ref;
  frame.name = std::move(name);
  return frame;
}

KeySearch::Frame KeySearch::RootFrame(std::size_t rootIndex) {
  Frame frame;
  frame.ref = m_engine.Root(kRegeditRoots[rootIndex]);
  return frame;
}

// Moves to the next key in the tree's order; false when the search is back where it began.
bool KeySearch::Advance() {
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
    m_rootIndex = (m_rootIndex + 1) % kRegeditRoots.size();
    if (m_rootIndex == 0) m_wrapped = true;
    m_frames.clear();
    m_frames.push_back(RootFrame(m_rootIndex));
    return true;
  }
}

// HKEY_CLASSES_ROOT's keys appear again under HKEY_LOCAL_MACHINE with the same ids: the
// start is a place in the tree, not only a key.
bool KeySearch::AtStart() const {
  if (m_rootIndex != m_startRootIndex || m_frames.size() != m_startPath.size()) return false;
  for (std::size_t i = m_frames.size(); i > 0; --i) {
    if (m_frames[i - 1].ref.id != m_startPath[i - 1]) return false;
  }
  return true;
}

bool KeySearch::Matches(const QString& text) const {
  if (m_query.wholeString) return text.compare(m_query.text, Qt::CaseInsensitive) == 0;
  return text.contains(m_query.text, Qt::CaseInsensitive);
}

// Looks at the current key's values in rows [from, to).
bool KeySearch::CheckValues(int from, int to) {
  if (!m_query.values && !m_query.data) return false;
  m_values.clear();
  m_engine.ListValues(m_frames.back().ref, m_values);
  OrderForDisplay(m_values);
  const int count = std::min(to, static_cast<int>(m_values.size()));
  for (int row = std::max(from, 0); row < count; ++row) {
    const RegValue& value = m_values[static_cast<std::size_t>(row)];
    bool hit = m_query.values && !value.name.empty() && Matches(Utf8Text(value.name));
    if (!hit && m_query.data && IsTextType(value.type)) {
      for (std::string_view piece : TextPieces(value.type, value.data)) {
        if (Matches(Utf8Text(piece))) {
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

void KeySearch::Found(int valueRow) {
  Hit hit;
  hit.root = kRegeditRoots[m_rootIndex];
  for (std::size_t i = 1; i < m_frames.size(); ++i) hit.path.push_back(m_frames[i].ref);
  hit.valueRow = valueRow;
  m_hit = std::move(hit);
}

}  // namespace kestrova
