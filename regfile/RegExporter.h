#pragma once
// Exports a key and its subtree, or the whole store, as a REGEDIT4 file.

#include <optional>
#include <string>

#include "regfile/RegExportReport.h"

class QIODevice;

namespace kestrova {

// Reads in one read transaction, so that the file is a consistent snapshot even while others
// write, and writes as it reads: memory does not grow with the store. `key` is a full root
// name or HKCR/HKCU, then a path (see RegKeyName.h); without one the whole store is written.
class RegExporter {
 public:
  explicit RegExporter(RegistryEngine& engine);

  // Writes to the device at its current position. `targetName` names it in messages.
  RegExportReport Export(QIODevice* device, const std::optional<std::string>& key,
                         const std::string& targetName);
  // Writes a file beside `path` and renames it into place, so that a failed export leaves no
  // partial file and an existing file untouched (it keeps its permissions). A file of the
  // open store is never a target.
  RegExportReport ExportFile(const std::string& path, const std::optional<std::string>& key);

 private:
  RegistryEngine& m_engine;
};

}  // namespace kestrova
