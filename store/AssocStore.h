#pragma once
// AssocStore: the program's typed access to the association store, one root and one current key.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

enum class ValueKind { Other, Text, ExpandText, Dword, Binary };

// The store's one exception: its formatted message and nothing else.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Paths: a leading backslash starts from the root ("\" names the root itself); any other
// path starts from the current key, or from the root when none is current. Key and value
// names match without regard to letter case; text is UTF-8, and only valid UTF-8 is
// written. On a store that cannot be written, opens for full access still open existing
// keys for reading, so that everything reads; every write fails as a refused write.
// Only CreatePath, GetText, GetDword, GetBinary, PutText and PutDword raise; every other
// failure is false, -1, Other, an empty list or empty text.
class AssocStore {
 public:
  enum class Access { Full, ReadOnly };

  explicit AssocStore(Access access = Access::Full);
  // For tests and tools that hold an engine of their own.
  AssocStore(std::shared_ptr<RegistryEngine> engine, Access access = Access::Full);
  ~AssocStore();
  AssocStore(const AssocStore&) = delete;
  AssocStore& operator=(const AssocStore&) = delete;

  void SetRoot(RootKey root);
  RootKey Root() const { return m_root; }
  bool HasCurrentKey() const { return static_cast<bool>(m_current); }
  // False when the store cannot be written, whatever the access asked for.
  bool Writable() const { return m_engine->Writable(); }
  // Why the store cannot be written (for one line in a status bar); empty when it can.
  std::string ReadOnlyReason() const { return m_engine->ReadOnlyReason(); }

  bool OpenPath(const std::string& path, bool create);
  void ClosePath();
  bool CreatePath(const std::string& path);
  bool RemovePath(const std::string& path);
  bool HasPath(const std::string& path);
  void ListSubkeys(std::vector<std::string>& list);

  bool RemoveValue(const std::string& name);
  bool HasValue(const std::string& name);
  ValueKind KindOfValue(const std::string& name);
  int SizeOfValue(const std::string& name);
  // Bytes that are not valid UTF-8 (left by older versions) come back as U+FFFD each.
  std::string GetText(const std::string& name);
  // Text that is not valid UTF-8 is refused like any other failed write.
  void PutText(const std::string& name, const std::string& text);
  int32_t GetDword(const std::string& name);
  void PutDword(const std::string& name, int32_t value);
  int GetBinary(const std::string& name, void* buffer, int capacity);

 private:
  enum class Need { Read, Write };
  // The key that path names (base by the path rule), opened as the store's access asks.
  std::optional<KeyRef> Resolve(const std::string& path, bool create);
  KeyRef Base(const std::string& path, std::string_view& rest);
  std::optional<ValueInfo> Query(const std::string& name);

  std::shared_ptr<RegistryEngine> m_engine;
  Access m_access;
  RootKey m_root = RootKey::CurrentUser;
  KeyRef m_current;
  bool m_currentWritable = false;
};

ValueKind KindOfType(uint32_t type);

}  // namespace kestrova
