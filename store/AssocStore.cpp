#include "store/AssocStore.h"

#include <cstring>

#include "store/RegistryRules.h"

namespace kestrova {
namespace {

[[noreturn]] void Raise(const char* format, const std::string& arg) {
  std::string message = format;
  // The message is shown as text: bytes that are not UTF-8 are shown replaced.
  message.replace(message.find("%s"), 2, ReplaceInvalidUtf8(arg));
  throw ERegistryException(message);
}

constexpr const char* kCreateFailed = "Failed to create key %s";
constexpr const char* kGetFailed = "Failed to get data for '%s'";
constexpr const char* kSetFailed = "Failed to set data for '%s'";
constexpr const char* kInvalidType = "Invalid data type for '%s'";

}  // namespace

ValueKind KindOfType(uint32_t type) {
  switch (type) {
    case RegType::Sz:
      return ValueKind::Text;
    case RegType::ExpandSz:
      return ValueKind::ExpandText;
    case RegType::Dword:
      return ValueKind::Dword;
    case RegType::Binary:
      return ValueKind::Binary;
    default:
      return ValueKind::Other;
  }
}

AssocStore::AssocStore(Access access) : AssocStore(AcquireEngine(), access) {}

AssocStore::AssocStore(std::shared_ptr<RegistryEngine> engine, Access access)
    : m_engine(std::move(engine)), m_access(access) {
  m_engine->HoldSnapshot();
}

AssocStore::~AssocStore() { m_engine->ReleaseSnapshot(); }

void AssocStore::SetRoot(RootKey root) {
  if (root == m_root) return;
  ClosePath();
  m_root = root;
}

KeyRef AssocStore::Base(const std::string& path, std::string_view& rest) {
  rest = path;
  if (!rest.empty() && rest.front() == '\\') {
    rest.remove_prefix(1);
    return m_engine->Root(m_root);
  }
  return m_current ? m_current : m_engine->Root(m_root);
}

std::optional<KeyRef> AssocStore::Resolve(const std::string& path, bool create) {
  std::string_view rest;
  KeyRef key = Base(path, rest);
  std::vector<std::string_view> parts;
  if (!SplitKeyPath(rest, parts)) return std::nullopt;
  if (create && !parts.empty()) {
    // Every level or none: a refused level leaves no half-made path behind.
    EngineTransaction tx(*m_engine, true);
    for (const auto part : parts) key = m_engine->CreateChild(key, part);
    tx.Commit();
    return key;
  }
  for (const auto part : parts) {
    const auto child = m_engine->FindChild(key, part);
    if (!child) return std::nullopt;
    key = *child;
  }
  // The current key may have been deleted by another handler or program.
  if (parts.empty() && key.depth > 0 && !m_engine->KeyExists(key)) return std::nullopt;
  return key;
}

bool AssocStore::OpenPath(const std::string& path, bool create) {
  // A store that cannot be written still opens what exists, for reading only: the
  // window shows everything, and each write then fails with the store's error.
  const bool writable = m_engine->Writable();
  try {
    const auto key = Resolve(path, create && writable);
    if (!key) return false;
    m_current = *key;
    m_currentWritable = m_access == Access::Full && writable;
    return true;
  } catch (const StoreError&) {
    return false;
  }
}

void AssocStore::ClosePath() {
  m_current = KeyRef{};
  m_currentWritable = false;
}

bool AssocStore::CreatePath(const std::string& path) {
  try {
    if (m_engine->Writable() && Resolve(path, true)) return true;
  } catch (const StoreError&) {
  }
  Raise(kCreateFailed, path);
}

bool AssocStore::RemovePath(const std::string& path) {
  try {
    if (!m_engine->Writable()) return false;
    std::string_view rest;
    KeyRef key = Base(path, rest);
    std::vector<std::string_view> parts;
    if (!SplitKeyPath(rest, parts) || parts.empty()) return false;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      const auto child = m_engine->FindChild(key, parts[i]);
      if (!child) return false;
      key = *child;
    }
    return m_engine->DeleteChild(key, parts.back());
  } catch (const StoreError&) {
    return false;
  }
}

bool AssocStore::HasPath(const std::string& path) {
  try {
    return Resolve(path, false).has_value();
  } catch (const StoreError&) {
    return false;
  }
}

void AssocStore::ListSubkeys(std::vector<std::string>& list) {
  list.clear();
  if (!m_current) return;
  try {
    m_engine->ListChildren(m_current, list);
  } catch (const StoreError&) {
    list.clear();
  }
}

std::optional<ValueInfo> AssocStore::Query(const std::string& name) {
  if (!m_current) return std::nullopt;
  try {
    return m_engine->QueryValue(m_current, name);
  } catch (const StoreError&) {
    return std::nullopt;
  }
}

bool AssocStore::RemoveValue(const std::string& name) {
  if (!m_current || !m_currentWritable) return false;
  try {
    return m_engine->DeleteValue(m_current, name);
  } catch (const StoreError&) {
    return false;
  }
}

bool AssocStore::HasValue(const std::string& name) { return Query(name).has_value(); }

ValueKind AssocStore::KindOfValue(const std::string& name) {
  const auto info = Query(name);
  return info ? KindOfType(info->type) : ValueKind::Other;
}

int AssocStore::SizeOfValue(const std::string& name) {
  const auto info = Query(name);
  return info ? static_cast<int>(info->size) : -1;
}

std::string AssocStore::GetText(const std::string& name) {
  if (!m_current) return {};
  std::optional<RegValue> value;
  try {
    value = m_engine->GetValue(m_current, name);
  } catch (const StoreError&) {
    Raise(kGetFailed, name);
  }
  if (!value || value->data.empty()) return {};
  const ValueKind kind = KindOfType(value->type);
  if (kind != ValueKind::Text && kind != ValueKind::ExpandText) Raise(kInvalidType, name);
  const auto nul = value->data.find('\0');
  if (nul != std::string::npos) value->data.resize(nul);
  if (!IsValidUtf8(value->data)) return ReplaceInvalidUtf8(value->data);
  return std::move(value->data);
}

void AssocStore::PutText(const std::string& name, const std::string& text) {
  if (!m_current || !m_currentWritable || !IsValidUtf8(text)) Raise(kSetFailed, name);
  std::string data = text;
  data.push_back('\0');
  try {
    m_engine->SetValue(m_current, name, RegType::Sz, data);
  } catch (const StoreError&) {
    Raise(kSetFailed, name);
  }
}

int32_t AssocStore::GetDword(const std::string& name) {
  std::optional<RegValue> value;
  if (m_current) {
    try {
      value = m_engine->GetValue(m_current, name);
    } catch (const StoreError&) {
    }
  }
  // The read takes at most four bytes: longer data fails like a missing value.
  if (!value || value->data.size() > 4) Raise(kGetFailed, name);
  if (value->type != RegType::Dword) Raise(kInvalidType, name);
  uint32_t result = 0;
  for (std::size_t i = 0; i < value->data.size(); ++i) {
    result |= static_cast<uint32_t>(static_cast<unsigned char>(value->data[i])) << (8 * i);
  }
  return static_cast<int32_t>(result);
}

void AssocStore::PutDword(const std::string& name, int32_t value) {
  if (!m_current || !m_currentWritable) Raise(kSetFailed, name);
  const auto u = static_cast<uint32_t>(value);
  const char bytes[4] = {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
                         static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
  try {
    m_engine->SetValue(m_current, name, RegType::Dword, std::string_view(bytes, 4));
  } catch (const StoreError&) {
    Raise(kSetFailed, name);
  }
}

int AssocStore::GetBinary(const std::string& name, void* buffer, int capacity) {
  if (!m_current) return 0;
  std::optional<RegValue> value;
  try {
    value = m_engine->GetValue(m_current, name);
  } catch (const StoreError&) {
    Raise(kGetFailed, name);
  }
  if (!value) return 0;
  const ValueKind kind = KindOfType(value->type);
  const std::size_t size = value->data.size();
  if ((kind != ValueKind::Binary && kind != ValueKind::Other) || capacity < 0 ||
      size > static_cast<std::size_t>(capacity)) {
    Raise(kInvalidType, name);
  }
  if (size > 0) std::memcpy(buffer, value->data.data(), size);
  return static_cast<int>(size);
}

}  // namespace kestrova
