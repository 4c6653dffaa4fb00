#pragma once
// An engine that passes every call to a real one until told to fail: then the call named
// throws StoreError of the kind given, as a full disk or a damaged file would.

#include <memory>
#include <optional>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova::test {

class FailingEngine final : public RegistryEngine {
 public:
  enum class Call { None, Write, Read };
  explicit FailingEngine(std::shared_ptr<RegistryEngine> real) : m_real(std::move(real)) {}

  // From now on every write (or every listing read) throws.
  void FailOn(Call call, StoreErrorKind kind) {
    m_call = call;
    m_kind = kind;
  }

  const std::string& Location() const override { return m_real->Location(); }
  bool Writable() const override { return m_real->Writable(); }
  KeyRef Root(RootKey root) override { return m_real->Root(root); }
  std::optional<KeyRef> FindChild(KeyRef parent, std::string_view name) override {
    return m_real->FindChild(parent, name);
  }
  KeyRef CreateChild(KeyRef parent, std::string_view name) override {
    Check(Call::Write);
    return m_real->CreateChild(parent, name);
  }
  bool KeyExists(KeyRef key) override { return m_real->KeyExists(key); }
  void ListChildren(KeyRef parent, std::vector<std::string>& names) override {
    Check(Call::Read);
    m_real->ListChildren(parent, names);
  }
  void Children(KeyRef parent, std::vector<ChildKey>& children) override {
    Check(Call::Read);
    m_real->Children(parent, children);
  }
  bool DeleteChild(KeyRef parent, std::string_view name) override {
    Check(Call::Write);
    return m_real->DeleteChild(parent, name);
  }
  std::optional<ValueInfo> QueryValue(KeyRef key, std::string_view name) override {
    return m_real->QueryValue(key, name);
  }
  std::optional<RegValue> GetValue(KeyRef key, std::string_view name) override {
    return m_real->GetValue(key, name);
  }
  void ListValues(KeyRef key, std::vector<RegValue>& values) override {
    Check(Call::Read);
    m_real->ListValues(key, values);
  }
  void SetValue(KeyRef key, std::string_view name, uint32_t type, std::string_view data) override {
    Check(Call::Write);
    m_real->SetValue(key, name, type, data);
  }
  bool DeleteValue(KeyRef key, std::string_view name) override {
    Check(Call::Write);
    return m_real->DeleteValue(key, name);
  }
  void Begin(bool write) override { m_real->Begin(write); }
  void Commit() override { m_real->Commit(); }
  void Rollback() override { m_real->Rollback(); }

 private:
  void Check(Call call) {
    if (m_call == call) throw StoreError("The store failed on purpose.", m_kind);
  }

  std::shared_ptr<RegistryEngine> m_real;
  Call m_call = Call::None;
  StoreErrorKind m_kind = StoreErrorKind::Other;
};

}  // namespace kestrova::test
