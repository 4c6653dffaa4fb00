#pragma once
// Writes keys and their subtrees as REGEDIT4 text, the form registry editors import.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

// Writes subtrees depth-first: a key, its values in the engine's order, then its subkeys in
// the engine's order. Output is handed to the sink in pieces of about 1 MiB (more only for
// one value bigger than that), so memory does not grow with a key's data. A tree that
// reaches a key twice or goes deeper than the registry allows is a damaged store: Tree then
// throws StoreError rather than write without end.
class RegTreeWriter {
 public:
  using Sink = std::function<void(std::string_view)>;
  RegTreeWriter(RegistryEngine& engine, Sink sink);
  // The header line.
  void Begin();
  // The key named `path` (its full name, root included) and its whole subtree.
  void Tree(KeyRef key, std::string_view path);
  // The last blank line; hands over what is left.
  void End();

  uint64_t KeysWritten() const { return m_keys; }
  uint64_t ValuesWritten() const { return m_values; }

 private:
  void Walk(KeyRef key, std::size_t depth);
  void Flush();
  void Visit(KeyRef key);

  RegistryEngine& m_engine;
  Sink m_sink;
  std::string m_out;
  std::string m_path;
  // One list of children per level; a deque, so that a deeper level never moves the lists
  // of the levels still being walked.
  std::deque<std::vector<ChildKey>> m_levels;
  // The ids of the keys written: one bit each while ids are small, as a store's are.
  std::vector<bool> m_seen;
  std::unordered_set<int64_t> m_seenLarge;
  uint64_t m_keys = 0;
  uint64_t m_values = 0;
};

}  // namespace kestrova
