#pragma once
// What an export to a .reg file wrote, and why it failed when it did.

#include <cstdint>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova {

enum class RegExportError {
  None,
  UnknownRoot,   // the key does not start with a root name
  NoSuchKey,     // the key is not in the store
  StoreFile,     // the target is a file of the open store, which an export never replaces
  CannotWrite,   // the target could not be created or written
  StoreFailure,  // the store could not be read, or its tree is damaged (see storeError)
};

struct RegExportReport {
  uint64_t keysWritten = 0;
  uint64_t valuesWritten = 0;

  RegExportError error = RegExportError::None;
  StoreErrorKind storeError = StoreErrorKind::Other;  // with StoreFailure
  std::string errorString;                            // the failure in words; empty without one

  bool Failed() const { return error != RegExportError::None; }
};

}  // namespace kestrova
