#include "regfile/RegStoreSink.h"

#include "regfile/RegTextEncoding.h"
#include "store/RegistryRules.h"

namespace kestrova {
namespace {

std::string Shorten(std::string_view text) { return Abbreviate(text, 80); }

bool SameName(const std::string& cached, std::string_view name) {
  return cached == name || FoldName(cached) == FoldName(name);
}

}  // namespace

RegStoreSink::RegStoreSink(RegistryEngine& engine, RegImportReport& report, bool strict,
                           NoteListener onNote)
    : m_engine(engine), m_report(report), m_strict(strict), m_onNote(std::move(onNote)) {}

// With strict reading the first reported line refuses the file: nothing more is written.
bool RegStoreSink::Writing() const {
  return !m_refused && !(m_strict && m_report.skippedLines + m_report.incompleteValues > 0);
}

void RegStoreSink::Note(RegNote::Kind kind, uint64_t line, std::string_view text) {
  RegNote note{kind, line, std::string(text)};
  if (m_onNote) m_onNote(m_report, note);
  if (m_report.notes.size() < RegImportReport::kKeptNotes)
    m_report.notes.push_back(std::move(note));
  else
    m_report.notesCut = true;
}

void RegStoreSink::OpenKey(RootKey root, std::string_view path, uint64_t line) {
  m_opLine = line;
  if (!Writing()) return;
  if (!m_cacheValid || m_cacheRoot != root) {
    m_rootRef = m_engine.Root(root);
    m_cacheRoot = root;
    m_names.clear();
    m_refs.clear();
    m_cacheValid = true;
  }
  SplitKeyPath(path, m_parts);  // the reader hands on no empty name
  std::size_t common = 0;
  while (common < m_parts.size() && common < m_names.size() &&
         SameName(m_names[common], m_parts[common])) {
    ++common;
  }
  m_names.resize(common);
  m_refs.resize(common);
  KeyRef key = common == 0 ? m_rootRef : m_refs[common - 1];
  for (std::size_t i = common; i < m_parts.size(); ++i) {
    key = m_engine.CreateChild(key, m_parts[i]);
    m_names.emplace_back(m_parts[i]);
    m_refs.push_back(key);
  }
  m_current = key;
  ++m_report.keysImported;
}

void RegStoreSink::DeleteKey(RootKey root, std::string_view path, uint64_t line) {
  m_opLine = line;
  if (!Writing()) return;
  m_cacheValid = false;  // the cached KeyRefs may lie in the deleted subtree
  SplitKeyPath(path, m_parts);
  KeyRef parent = m_engine.Root(root);
  for (std::size_t i = 0; i + 1 < m_parts.size(); ++i) {
    auto child = m_engine.FindChild(parent, m_parts[i]);
    if (!child) {
      ++m_report.keysDeleted;  // deleting a missing key is no error
      return;
    }
    parent = *child;
  }
  auto target = m_engine.FindChild(parent, m_parts.back());
  if (target && IsStoreFrame(*target)) {
    Skipped(line, "HKEY_CLASSES_ROOT and the keys that hold it cannot be deleted");
    return;
  }
  if (target) m_engine.DeleteChild(parent, m_parts.back());
  ++m_report.keysDeleted;
}

void RegStoreSink::SetValue(std::string_view name, uint32_t type, std::string_view data,
                            uint64_t line) {
  m_opLine = line;
  if (!Writing()) return;
  try {
    m_engine.SetValue(m_current, name, type, data);
    ++m_report.valuesImported;
  } catch (const StoreError& e) {
    // A value the registry cannot hold is one bad line, not a bad file.
    if (e.Kind() != StoreErrorKind::Limit) throw;
    Skipped(line, std::string("value skipped: ") + e.what());
  }
}

void RegStoreSink::DeleteValue(std::string_view name, uint64_t line) {
  m_opLine = line;
  if (!Writing()) return;
  m_engine.DeleteValue(m_current, name);
  ++m_report.valuesDeleted;
}

void RegStoreSink::ValueTooLarge(std::string_view name, uint64_t line) {
  Skipped(line, "value \"" + Shorten(name) +
                    "\" skipped: its data is larger than the registry's limit of 1 MiB");
}

void RegStoreSink::Skipped(uint64_t line, std::string_view reason) {
  ++m_report.skippedLines;
  Note(RegNote::Kind::Skipped, line, reason);
}

void RegStoreSink::Warning(uint64_t line, std::string_view message) {
  Note(RegNote::Kind::Warning, line, message);
}

void RegStoreSink::Incomplete(uint64_t line, std::string_view message) {
  ++m_report.incompleteValues;
  Note(RegNote::Kind::Incomplete, line, message);
}

void RegStoreSink::Refused(uint64_t line, std::string_view reason) {
  m_refused = true;
  Note(RegNote::Kind::Refused, line, reason);
}

// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes; neither it nor the key that
// holds it may go.
bool RegStoreSink::IsStoreFrame(KeyRef key) {
  const KeyRef classes = m_engine.Root(RootKey::ClassesRoot);
  if (key.id == classes.id) return true;
  auto software = m_engine.FindChild(m_engine.Root(RootKey::LocalMachine), "SOFTWARE");
  return software && software->id == key.id;
}

}  // namespace kestrova
