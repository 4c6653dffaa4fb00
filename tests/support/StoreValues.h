#pragma once
// Reading and writing a store's values in tests, through AssocStore as the program does.
// Keys are given as AssocStore takes them ("\\.txt\\shell"), under HKEY_CLASSES_ROOT
// unless another root is named.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "store/AssocStore.h"

namespace kestrova::test {

// The value's text, "dword:N" for a number, "(no key)" or "(no value)" when absent.
inline std::string ReadValue(const std::string& key, const std::string& name,
                             RootKey root = RootKey::ClassesRoot) {
  AssocStore s;
  s.SetRoot(root);
  if (!s.OpenPath(key, false)) return "(no key)";
  if (!s.HasValue(name)) return "(no value)";
  if (s.KindOfValue(name) == ValueKind::Dword) return "dword:" + std::to_string(s.GetDword(name));
  return s.GetText(name);
}

inline bool HasKey(const std::string& key, RootKey root = RootKey::ClassesRoot) {
  AssocStore s;
  s.SetRoot(root);
  return s.HasPath(key);
}

inline void WriteText(const std::string& key, const std::string& name, const std::string& value,
                      RootKey root = RootKey::ClassesRoot) {
  AssocStore s;
  s.SetRoot(root);
  ASSERT_TRUE(s.OpenPath(key, true)) << key;
  s.PutText(name, value);
}

inline void WriteDword(const std::string& key, const std::string& name, int32_t value,
                       RootKey root = RootKey::ClassesRoot) {
  AssocStore s;
  s.SetRoot(root);
  ASSERT_TRUE(s.OpenPath(key, true)) << key;
  s.PutDword(name, value);
}

}  // namespace kestrova::test
