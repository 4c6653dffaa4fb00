#pragma once
// One of a Wine prefix's registry files (system.reg, user.reg, userdef.reg) in memory: its
// keys as a tree, each key block's original bytes kept, values parsed when first read, and
// the file written back by splicing only the changed blocks into the original bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrova::wine {

// Wine's key times: 100-ns ticks since 1601-01-01 UTC.
using Clock = uint64_t (*)();
uint64_t Now();
// Tests fix the clock so that written files are known to the byte; nullptr restores it.
void SetClock(Clock clock);

// Wine's string escapes (server/unicode.c): the text of a quoted string or key path as
// Wine writes it. `key` escapes [ and ] (key paths), else " is escaped (names, data).
// Text is UTF-8; a lone surrogate may be carried as its 3-byte form (as read from a file).
std::string EscapeWine(std::string_view utf8, bool key);
// Reads an escaped string from s[i] up to the unescaped `end` character (" or ]); returns
// the position after it, or npos when the string is not terminated on the line.
std::size_t UnescapeWine(std::string_view s, std::size_t i, char end, std::u16string& out);

// UTF-16 as UTF-8; a lone surrogate keeps its 3-byte form, so that names round-trip.
void AppendUtf16AsUtf8(std::u16string_view units, std::string& out);
// UTF-8 (with lone surrogates in 3-byte form) as UTF-16; a byte that is no sequence
// becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Orders names as Wine keeps keys and values: per-code-unit lower case, then code units,
// a shorter prefix first.
int CompareWineOrder(std::string_view a, std::string_view b);
// Orders names as the store lists them (FoldName order, with an ASCII fast path).
int CompareFolded(std::string_view a, std::string_view b);

// The value line(s) Wine writes for the value (server/registry.c dump_value), with the
// final newline. Text types hold UTF-8 and are written as UTF-16.
std::string FormatWineValue(std::string_view name, uint32_t type, std::string_view data);
// Parses one value line (with its continuations joined, blanks of continuation lines
// kept); false when it is not a value line. A malformed value reads as empty REG_NONE, as
// Wine loads it.
bool ParseWineValue(std::string_view line, std::string& name, uint32_t& type, std::string& data);

class RegistryFile {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  struct Value {
    std::string name;
    uint32_t type = 0;
    std::string data;
    // The block holding its line(s) and their place in it (from the block's start);
    // block kNone for a value made by the program.
    uint32_t block = kNone;
    uint32_t rawBegin = 0, rawEnd = 0;
    bool changed = false;
  };

  // Parses the bytes of the file named `path` (for messages). Throws StoreOpenError
  // (Damaged) when it is not a Wine registry file.
  RegistryFile(std::string bytes, std::string path);

  const std::string& Path() const { return m_path; }
  const std::string& Bytes() const { return m_bytes; }
  // The key path line 2 names (e.g. "REGISTRY\\User\\S-1-5-21-0-0-0-1000"), unescaped.
  const std::string& RelativeTo() const { return m_relativeTo; }

  uint32_t Root() const { return 0; }
  std::size_t NodeCount() const { return m_nodes.size(); }
  bool Alive(uint32_t node) const;
  const std::string& Name(uint32_t node) const { return m_nodes[node].name; }
  uint32_t Parent(uint32_t node) const { return m_nodes[node].parent; }
  // The children in ascending folded order.
  const std::vector<uint32_t>& Children(uint32_t node);
  uint32_t FindChild(uint32_t node, std::string_view name);
  const std::vector<Value>& Values(uint32_t node);
  // True for link keys (#link) and keys holding a #class line (read only, kept verbatim).
  bool IsLink(uint32_t node);

  // A key the engine needs to exist (a root such as Software\Classes): found, or added
  // as a key implied by the file, untouched, so nothing is written for it; kept across
  // AdoptIds even when the new file lacks it.
  uint32_t Pin(uint32_t parent, std::string_view name);
  bool Pinned(uint32_t node) const { return m_nodes[node].pinned; }

  // Changes. Each touches the key (Wine's time) and is recorded for Undo.
  uint32_t CreateChild(uint32_t parent, std::string_view name);
  void DeleteChild(uint32_t parent, uint32_t child);
  void SetValue(uint32_t node, std::string_view name, uint32_t type, std::string_view data);
  bool DeleteValue(uint32_t node, std::string_view name);

  // The undo log: a mark, undoing back to one, forgetting it (after a save).
  std::size_t UndoMark() const { return m_undo.size(); }
  void UndoTo(std::size_t mark);
  void ForgetUndo() { m_undo.clear(); }
  bool Changed() const { return !m_touched.empty(); }

  // The file with the changes spliced in. After WrittenAs(text), the document's bytes are
  // that text and every change counts as saved.
  std::string Serialize();
  void Saved(std::string text);

  // Takes over the ids of `old` for the keys it shares with this file (by path), so that
  // key references stay valid across a reload; ids of keys `old` had and this file lacks
  // are kept as deleted keys.
  void AdoptIds(RegistryFile& old);

 private:
  struct Node {
    std::string name;
    uint32_t parent = kNone;
    uint32_t block = kNone;  // its first block; kNone for a key only implied by its subkeys
    std::vector<uint32_t> children;
    std::vector<Value> values;
    uint64_t time = 0;
    bool sorted = false;  // children in folded order
    bool parsed = false;  // values read from its blocks
    bool link = false;
    bool hasClass = false;
    bool touched = false;
    bool deleted = false;
    bool isNew = false;
    bool pinned = false;
  };
  struct Block {
    std::size_t begin = 0, end = 0;  // bytes, from its key line to the next key line
    std::size_t pathEnd = 0;         // just after the ']' of its key line, from begin
    uint32_t node = kNone;           // kNone for a key line Wine cannot read
  };
  // Where a written value's line(s) went, for Saved.
  struct ValuePlace {
    uint32_t node;
    std::size_t index;
    uint32_t block, rawBegin, rawEnd;
  };
  // The layout of the text Serialize made, taken over by Saved.
  struct Staged {
    std::vector<Block> blocks;
    std::vector<uint32_t> remap;  // old block -> new block
    std::vector<ValuePlace> places;
    std::size_t headerEnd = 0;
    bool valid = false;
  };
  struct Undo {
    enum Kind { Created, Deleted, NodeState } kind;
    uint32_t node;
    std::vector<Value> values;
    uint64_t time = 0;
    bool touched = false;
  };

  void Parse();
  uint32_t AddChildLoading(uint32_t parent, std::string_view name);
  void EnsureSorted(uint32_t node);
  void EnsureParsed(uint32_t node);
  void ParseBlock(uint32_t node, uint32_t block);
  void Touch(uint32_t node);
  void SaveState(uint32_t node);
  bool NeedsBlock(uint32_t node);
  void AppendBlock(std::string& out, uint32_t block, uint32_t newBlock);
  void AppendNewBlock(std::string& out, uint32_t node, uint32_t newBlock);
  void EmitValue(std::string& out, uint32_t node, std::size_t index, uint32_t newBlock);
  std::string EscapedPath(uint32_t node) const;
  int ComparePaths(uint32_t a, uint32_t b) const;
  std::string_view BlockText(const Block& b) const {
    return std::string_view(m_bytes).substr(b.begin, b.end - b.begin);
  }

  std::string m_path;
  std::string m_bytes;
  std::string m_relativeTo;
  std::size_t m_headerEnd = 0;
  std::vector<Node> m_nodes;
  std::vector<Block> m_blocks;  // in file order
  // Further blocks of a key named twice in the file (merged into its first, as Wine does).
  std::unordered_multimap<uint32_t, uint32_t> m_extraBlocks;
  std::vector<uint32_t> m_touched;
  std::vector<Undo> m_undo;
  // While loading: children looked up by (parent, folded name) once the file is not in
  // Wine's order.
  std::unordered_multimap<uint64_t, uint32_t> m_loadIndex;
  bool m_indexed = false;
  Staged m_staged;
};

}  // namespace kestrova::wine
