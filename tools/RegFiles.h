#pragma once
// Import of a .reg file into the store and export of a key to one, each as one transaction.

#include <optional>
#include <ostream>
#include <string>

#include "store/RegistryEngine.h"

namespace kestrova {

// Exit statuses of kestrova-regedit.
constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;  // imported, but some lines were skipped
constexpr int kExitFailed = 2;   // usage, unreadable file, refused file, store failure

struct ImportOptions {
  // Refuse the whole file on any line that would be skipped.
  bool strict = false;
};

// Imports the file in one write transaction. Every skipped line is reported on `err` as
// FILE:LINE: reason. Returns kExitOk, kExitSkipped, or kExitFailed with the store unchanged.
int ImportRegFile(RegistryEngine& engine, const std::string& path, const ImportOptions& options,
                  std::ostream& err);

// Exports `key` (a full root name or HKCR/HKCU, then a path) and its subtree, or with no key
// the whole store, as REGEDIT4. The file is written beside `path` and renamed into place, so
// a failed export leaves no partial file and an existing file untouched. Returns kExitOk or
// kExitFailed.
int ExportRegFile(RegistryEngine& engine, const std::string& path,
                  const std::optional<std::string>& key, std::ostream& err);

}  // namespace kestrova
