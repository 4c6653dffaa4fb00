#pragma once
// Find in the store, as the window's Edit > Find does it: no widgets, run in slices.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

// What to look for and where. Matching ignores letter case.
struct FindQuery {
  QString text;
  bool keys = true;
  bool values = true;
  bool data = true;
  bool wholeString = false;
};

// Goes through the store in the tree's order (depth first, subkeys in the store's order, the
// roots as the tree lists them), a key at a time, so that the window can run it in slices.
// From the start key's values after the selected one it goes to the end, round to the top,
// and back to where it began. Store failures come out of the constructor and Run as
// StoreError.
class KeySearch {
 public:
  struct Hit {
    RootKey root = RootKey::ClassesRoot;
    std::vector<KeyRef> path;  // below the root
    int valueRow = -1;         // -1: the key's own name matched
  };

  // Starts at the key reached from `root` through `path` (KeyRefs from the root's child
  // down), after its value in row `valueRow` of the list (-1: before its first value).
  KeySearch(RegistryEngine& engine, FindQuery query, RootKey root, const std::vector<KeyRef>& path,
            int valueRow);

  // Runs for about `budgetMs`; true when the search is over, found or not.
  bool Run(int budgetMs);

  const std::optional<Hit>& Result() const { return m_hit; }
  // True once the search went past the end of the store and on from the top.
  bool Wrapped() const { return m_wrapped; }
  // The key being searched, for progress.
  QString Where() const;

 private:
  struct Frame {
    KeyRef ref;
    std::string name;
    std::vector<ChildKey> children;
    std::size_t next = 0;
    bool listed = false;
  };

  static Frame KeyFrame(KeyRef ref, std::string name);
  Frame RootFrame(std::size_t rootIndex);
  bool Advance();
  bool AtStart() const;
  bool Matches(const QString& text) const;
  bool CheckValues(int from, int to);
  void Found(int valueRow);

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

}  // namespace kestrova
