#pragma once
// The storage engine behind AssocStore and kestrova-regedit: trees of keys holding typed values.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The registry's standard roots. ClassesRoot is not a tree of its own: the engine maps it
// to HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// The registry's raw value types, as stored and as written in .reg files.
namespace RegType {
constexpr uint32_t None = 0;
constexpr uint32_t Sz = 1;
constexpr uint32_t ExpandSz = 2;
constexpr uint32_t Binary = 3;
constexpr uint32_t Dword = 4;
constexpr uint32_t MultiSz = 7;
constexpr uint32_t Qword = 11;
}  // namespace RegType

// A key as the engine knows it. `depth` counts levels below the top of its tree
// (HKEY_LOCAL_MACHINE has depth 0, HKEY_CLASSES_ROOT depth 2), for the depth limit.
struct KeyRef {
  int64_t id = 0;
  int depth = 0;
  explicit operator bool() const { return id != 0; }
};

struct ChildKey {
  std::string name;
  KeyRef ref;
};

struct RegValue {
  std::string name;
  uint32_t type = RegType::None;
  std::string data;
};

struct ValueInfo {
  uint32_t type = RegType::None;
  int64_t size = 0;
};

// What went wrong, so that callers and tests decide by kind rather than by message text.
enum class StoreErrorKind {
  Other,
  Full,         // the disk or a file-size limit refused the write
  ReadOnly,     // the store may not be written (read-only file, folder, mount or request)
  Permission,   // the user may not read or reach the store's file or folder
  Busy,         // another program kept the store locked too long
  Damaged,      // the file is not a store, or a store whose content is broken
  Limit,        // a registry limit: name length, depth, data size
  Gone,         // the key was deleted meanwhile
  InvalidText,  // a name or text that is not valid Unicode
};

// A failure of the engine (a limit, an unwritable store, a full disk, a key deleted
// meanwhile), with a message a user can act on.
class StoreError : public std::runtime_error {
 public:
  explicit StoreError(const std::string& message, StoreErrorKind kind = StoreErrorKind::Other)
      : std::runtime_error(message), m_kind(kind) {}
  StoreErrorKind Kind() const { return m_kind; }

 private:
  StoreErrorKind m_kind;
};

// The store file could not be opened as a store (damaged, foreign, unreachable).
class StoreOpenError : public StoreError {
 public:
  using StoreError::StoreError;
};

// Names are matched without regard to letter case and kept in the case they were created
// with; children are listed in ascending order of their case-folded names, values in the
// order they were created. A KeyRef whose key was deleted meanwhile reads as empty and
// refuses writes.
class RegistryEngine {
 public:
  virtual ~RegistryEngine() = default;

  virtual const std::string& Location() const = 0;
  // False when the store cannot be written: every write then throws StoreError (kind
  // ReadOnly), while everything still reads.
  virtual bool Writable() const = 0;
  // Why the store cannot be written, in words for a status bar; empty when it can.
  virtual std::string ReadOnlyReason() const {
    return Writable() ? std::string() : "it is read-only";
  }

  virtual KeyRef Root(RootKey root) = 0;
  virtual std::optional<KeyRef> FindChild(KeyRef parent, std::string_view name) = 0;
  // The child, created when missing. Throws StoreError.
  virtual KeyRef CreateChild(KeyRef parent, std::string_view name) = 0;
  virtual bool KeyExists(KeyRef key) = 0;
  virtual void ListChildren(KeyRef parent, std::vector<std::string>& names) = 0;
  virtual void Children(KeyRef parent, std::vector<ChildKey>& children) = 0;
  // Deletes the child and its whole subtree; false when there is no such child. Throws
  // StoreError when the store refuses the write.
  virtual bool DeleteChild(KeyRef parent, std::string_view name) = 0;

  virtual std::optional<ValueInfo> QueryValue(KeyRef key, std::string_view name) = 0;
  virtual std::optional<RegValue> GetValue(KeyRef key, std::string_view name) = 0;
  virtual void ListValues(KeyRef key, std::vector<RegValue>& values) = 0;
  // Hands the key's values to `each` in ListValues' order, one at a time, so that a key's
  // data need not all be in memory at once. `each` must not call the engine.
  virtual void VisitValues(KeyRef key, const std::function<void(const RegValue&)>& each) {
    std::vector<RegValue> values;
    ListValues(key, values);
    for (const RegValue& value : values) each(value);
  }
  // Replaces the value (keeping its place in the order) or adds it. Throws StoreError.
  virtual void SetValue(KeyRef key, std::string_view name, uint32_t type,
                        std::string_view data) = 0;
  // False when there is no such value. Throws StoreError when the store refuses the write.
  virtual bool DeleteValue(KeyRef key, std::string_view name) = 0;

  // While held (by each AssocStore alive), consecutive reads may share one snapshot; any
  // write or transaction ends it. Engines without such batching ignore these.
  virtual void HoldSnapshot() {}
  virtual void ReleaseSnapshot() {}

  // Transactions nest; only the outermost one reaches the file. A write transaction takes
  // the store's write lock at once, so that it never fails half-way for a busy store.
  virtual void Begin(bool write) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
};

// Rolled back unless committed.
class EngineTransaction {
 public:
  EngineTransaction(RegistryEngine& engine, bool write) : m_engine(engine) {
    m_engine.Begin(write);
  }
  ~EngineTransaction() {
    if (!m_done) {
      try {
        m_engine.Rollback();
      } catch (...) {
      }
    }
  }
  EngineTransaction(const EngineTransaction&) = delete;
  EngineTransaction& operator=(const EngineTransaction&) = delete;
  void Commit() {
    m_done = true;
    m_engine.Commit();
  }

 private:
  RegistryEngine& m_engine;
  bool m_done = false;
};

// The one place that picks the engine behind every AssocStore: the program and
// kestrova-regedit install the SQLite engine at start, tests install theirs.
using EngineFactory = std::shared_ptr<RegistryEngine> (*)();
void SetEngineFactory(EngineFactory factory);
// The engine for this thread. Throws StoreOpenError when the store cannot be opened.
std::shared_ptr<RegistryEngine> AcquireEngine();

}  // namespace kestrova
