#pragma once
// One of a Wine prefix's registry files (system.reg, user.reg, userdef.reg) in memory: its
// keys as a tree, each key block's original bytes kept, values parsed when first read, and
// the file written back by splicing only the changed blocks into the original bytes.

#include <cstdint>
#include <deque>
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

// The bytes of a registry file: mapped read-only from disk (no copy, so that a 35 MB file
// costs no memory of its own), or held as text.
class FileBytes {
 public:
  FileBytes() = default;
  explicit FileBytes(std::string text);
  // Maps the file open at fd. Throws StoreOpenError naming path.
  static FileBytes Map(int fd, const std::string& path);
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes();
  std::string_view View() const { return {m_data, m_size}; }

 private:
  void Release();
  std::string m_text;
  void* m_map = nullptr;
  std::size_t m_mapLength = 0;
  const char* m_data = "";
  std::size_t m_size = 0;
};

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

  // A run of the file's new text, for writing without joining it first.
  struct Piece {
    const char* data;
    std::size_t size;
  };

  // Parses the file named `path` (for messages). Throws StoreOpenError (Damaged) when it is
  // not a Wine registry file.
  RegistryFile(FileBytes bytes, std::string path);
  RegistryFile(std::string text, std::string path)
      : RegistryFile(FileBytes(std::move(text)), std::move(path)) {}

  const std::string& Path() const { return m_path; }
  std::string_view Bytes() const { return m_bytes.View(); }
  // The key path line 2 names (e.g. "REGISTRY\\User\\S-1-5-21-0-0-0-1000"), unescaped.
  const std::string& RelativeTo() const { return m_relativeTo; }

  uint32_t Root() const { return 0; }
  std::size_t NodeCount() const { return m_nodes.size(); }
  bool Alive(uint32_t node) const;
  std::string_view Name(uint32_t node) const {
    return std::string_view(m_names).substr(m_nodes[node].nameOff, m_nodes[node].nameLen);
  }
  uint32_t Parent(uint32_t node) const { return m_nodes[node].parent; }
  // The children in ascending folded order.
  const std::vector<uint32_t>& Children(uint32_t node);
  uint32_t FindChild(uint32_t node, std::string_view name);
  const std::vector<Value>& Values(uint32_t node);
  // True for link keys (#link), which Wine keeps itself.
  bool IsLink(uint32_t node);

  // A key the engine needs to exist (a root such as Software\Classes): found, or added as
  // a key implied by the file, untouched, so nothing is written for it; kept across
  // AdoptIds even when the new file lacks it.
  uint32_t Pin(uint32_t parent, std::string_view name);
  bool Pinned(uint32_t node) const { return (m_nodes[node].flags & kPinnedFlag) != 0; }

  // Changes. Each touches the key (Wine's time) and is recorded for UndoTo.
  uint32_t CreateChild(uint32_t parent, std::string_view name);
  void DeleteChild(uint32_t parent, uint32_t child);
  void SetValue(uint32_t node, std::string_view name, uint32_t type, std::string_view data);
  bool DeleteValue(uint32_t node, std::string_view name);

  // The undo log: a mark, undoing back to one, forgetting it (after a save).
  std::size_t UndoMark() const { return m_undo.size(); }
  void UndoTo(std::size_t mark);
  void ForgetUndo() { m_undo.clear(); }
  // True when a change waits to be written.
  bool Changed() const;

  // The file with the changes spliced in: unchanged blocks as they are, changed ones
  // rewritten, new ones where Wine puts them. The pieces point into the file's bytes and
  // into text kept here, until Saved or the next call.
  std::vector<Piece> SerializePieces();
  std::string Serialize();
  // The serialized text is now the file (its new bytes): every change counts as saved.
  void Saved(FileBytes bytes);

  // Takes over the ids of `old` for the keys it shares with this file (by path), so that
  // key references stay valid across a reload; ids of keys `old` had and this file lacks
  // are kept as deleted keys.
  void AdoptIds(RegistryFile& old);

 private:
  enum : uint16_t {
    kSortedFlag = 1,
    kParsedFlag = 2,
    kLinkFlag = 4,
    kClassFlag = 8,
    kTouchedFlag = 16,
    kDeletedFlag = 32,
    kPinnedFlag = 64,
  };
  // Small, since a file may hold hundreds of thousands: names live in one arena, children
  // as loaded in a list (newest first) until first asked for, values once parsed.
  struct Node {
    uint32_t nameOff = 0;
    uint32_t parent = kNone;
    uint32_t block = kNone;  // its first block; kNone for a key only implied by its subkeys
    uint32_t firstChild = kNone;
    uint32_t next = kNone;
    uint16_t nameLen = 0;
    uint16_t flags = 0;
  };
  struct Block {
    uint64_t begin = 0;     // its key line; it ends where the next block begins
    uint32_t pathEnd = 0;   // just after the ']' of its key line, from begin
    uint32_t node = kNone;  // kNone for a key line Wine cannot read
  };
  // Where a written value's line(s) went, for Saved.
  struct ValuePlace {
    uint32_t node;
    std::size_t index;
    uint32_t block, rawBegin, rawEnd;
  };
  // The layout of the text SerializePieces made, taken over by Saved.
  struct Staged {
    std::vector<Block> blocks;
    std::vector<uint32_t> remap;  // old block -> new block
    std::vector<ValuePlace> places;
    uint64_t size = 0;
    bool valid = false;
  };
  struct Undo {
    enum Kind { Created, Deleted, NodeState } kind;
    uint32_t node;
    std::vector<Value> values;
    uint64_t time = 0;
    bool touched = false;
  };

  bool Has(uint32_t node, uint16_t flag) const { return (m_nodes[node].flags & flag) != 0; }
  void Set(uint32_t node, uint16_t flag, bool on) {
    if (on) {
      m_nodes[node].flags |= flag;
    } else {
      m_nodes[node].flags &= static_cast<uint16_t>(~flag);
    }
  }
  uint64_t BlockEnd(std::size_t b) const {
    return b + 1 < m_blocks.size() ? m_blocks[b + 1].begin : Bytes().size();
  }
  std::string_view BlockText(std::size_t b) const {
    return Bytes().substr(m_blocks[b].begin, BlockEnd(b) - m_blocks[b].begin);
  }
  void Parse();
  uint32_t NewNode(uint32_t parent, std::string_view name);
  uint32_t AddChildLoading(uint32_t parent, std::string_view name);
  std::vector<uint32_t>& SortedChildren(uint32_t node);
  void EnsureParsed(uint32_t node);
  void ParseBlock(uint32_t node, uint32_t block);
  void Touch(uint32_t node);
  bool NeedsBlock(uint32_t node);
  void InsertSorted(uint32_t parent, uint32_t child);
  void AppendBlock(std::string& out, uint64_t outBase, uint32_t block, uint32_t newBlock);
  void AppendNewBlock(std::string& out, uint64_t outBase, uint32_t node, uint32_t newBlock);
  void EmitValue(std::string& out, uint64_t outBase, uint32_t node, std::size_t index,
                 uint32_t newBlock);
  std::string EscapedPath(uint32_t node) const;
  int ComparePaths(uint32_t a, uint32_t b) const;

  std::string m_path;
  FileBytes m_bytes;
  std::string m_relativeTo;
  std::size_t m_headerEnd = 0;
  std::string m_names;
  std::vector<Node> m_nodes;
  std::vector<Block> m_blocks;  // in file order
  std::unordered_map<uint32_t, std::vector<uint32_t>> m_children;
  std::unordered_map<uint32_t, std::vector<Value>> m_values;
  std::unordered_map<uint32_t, uint64_t> m_times;
  // Further blocks of a key named twice in the file (merged into its first, as Wine does).
  std::unordered_multimap<uint32_t, uint32_t> m_extraBlocks;
  std::vector<uint32_t> m_touched;
  std::vector<Undo> m_undo;
  // While loading: children looked up by (parent, folded name) once the file is not in
  // Wine's order.
  std::unordered_multimap<uint64_t, uint32_t> m_loadIndex;
  bool m_indexed = false;
  Staged m_staged;
  std::deque<std::string> m_generated;
};

}  // namespace kestrova::wine
