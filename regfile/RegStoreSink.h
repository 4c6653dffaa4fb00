#pragma once
// Applies what a .reg file asks for to the store, and notes what it reports.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "regfile/RegImportReport.h"
#include "regfile/RegSink.h"

namespace kestrova {

// The current key path is cached with the KeyRef of each of its levels, so that a value
// costs one write and a key line only resolves the levels in which it differs from the
// previous one. StoreError from the engine passes through, but for a value over a registry
// limit, which is one skipped line.
class RegStoreSink final : public RegSink {
 public:
  using NoteListener = std::function<void(const RegImportReport&, const RegNote&)>;
  // Counts and notes go to `report`; each note also to `onNote` when given. With `strict`
  // the first skipped line stops the writing: the rest is only read to report its lines too.
  RegStoreSink(RegistryEngine& engine, RegImportReport& report, bool strict, NoteListener onNote);

  bool WasRefused() const { return m_refused; }
  // The line of the operation applied last, 0 before any.
  uint64_t CurrentLine() const { return m_opLine; }
  // Adds a note to the report and hands it on.
  void Note(RegNote::Kind kind, uint64_t line, std::string_view text);

  void OpenKey(RootKey root, std::string_view path, uint64_t line) override;
  void DeleteKey(RootKey root, std::string_view path, uint64_t line) override;
  void SetValue(std::string_view name, uint32_t type, std::string_view data,
                uint64_t line) override;
  void DeleteValue(std::string_view name, uint64_t line) override;
  void ValueTooLarge(std::string_view name, uint64_t line) override;
  void Skipped(uint64_t line, std::string_view reason) override;
  void Warning(uint64_t line, std::string_view message) override;
  void Incomplete(uint64_t line, std::string_view message) override;
  void Refused(uint64_t line, std::string_view reason) override;

 private:
  bool Writing() const;
  bool IsStoreFrame(KeyRef key);

  RegistryEngine& m_engine;
  RegImportReport& m_report;
  const bool m_strict;
  NoteListener m_onNote;
  bool m_refused = false;
  uint64_t m_opLine = 0;

  bool m_cacheValid = false;
  RootKey m_cacheRoot = RootKey::ClassesRoot;
  KeyRef m_rootRef;
  std::vector<std::string> m_names;
  std::vector<KeyRef> m_refs;
  std::vector<std::string_view> m_parts;
  KeyRef m_current;
};

}  // namespace kestrova
