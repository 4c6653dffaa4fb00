#pragma once
// What the .reg reader hands on: the operations a file asks for and the lines it reports.

#include <cstdint>
#include <string_view>

#include "store/RegistryEngine.h"

namespace kestrova {

// Receives what a .reg file asks for, in file order. Line numbers count from 1. Views are
// valid only during the call.
class RegSink {
 public:
  virtual ~RegSink() = default;
  // Makes root\path the current key, creating what is missing. `path` is empty for the root
  // itself, else names joined by backslashes, none of them empty.
  virtual void OpenKey(RootKey root, std::string_view path, uint64_t line) = 0;
  // Deletes root\path (never empty) with its subtree.
  virtual void DeleteKey(RootKey root, std::string_view path, uint64_t line) = 0;
  // Sets or deletes a value of the key of the last OpenKey; only called while one is open.
  virtual void SetValue(std::string_view name, uint32_t type, std::string_view data,
                        uint64_t line) = 0;
  virtual void DeleteValue(std::string_view name, uint64_t line) = 0;
  // A value whose data is larger than the registry allows; the data was not kept.
  virtual void ValueTooLarge(std::string_view name, uint64_t line) = 0;
  // A line that was not applied, and why.
  virtual void Skipped(uint64_t line, std::string_view reason) = 0;
  // A line that was applied as registry editors apply it, but not quite as written.
  virtual void Warning(uint64_t line, std::string_view message) = 0;
  // A value kept although the file ends inside it (registry editors keep the bytes read).
  virtual void Incomplete(uint64_t line, std::string_view message) = 0;
  // The input is not a registry file after all (binary bytes, a line longer than any
  // registry file holds); nothing after this line is read.
  virtual void Refused(uint64_t line, std::string_view reason) = 0;
};

// A sink that ignores everything, for callers that want only some of it.
class IgnoringSink : public RegSink {
 public:
  void OpenKey(RootKey, std::string_view, uint64_t) override {}
  void DeleteKey(RootKey, std::string_view, uint64_t) override {}
  void SetValue(std::string_view, uint32_t, std::string_view, uint64_t) override {}
  void DeleteValue(std::string_view, uint64_t) override {}
  void ValueTooLarge(std::string_view, uint64_t) override {}
  void Skipped(uint64_t, std::string_view) override {}
  void Warning(uint64_t, std::string_view) override {}
  void Incomplete(uint64_t, std::string_view) override {}
  void Refused(uint64_t, std::string_view) override {}
};

}  // namespace kestrova
