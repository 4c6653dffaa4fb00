#pragma once
// Imports a .reg file into the store, as one transaction.

#include <QByteArray>
#include <string>
#include <string_view>

#include "regfile/RegImportReport.h"
#include "regfile/RegStoreSink.h"

class QIODevice;

namespace kestrova {

struct RegImportOptions {
  // Refuse the whole file on any line that would be skipped.
  bool strict = false;
  // Hears every note as it is made, before the import ends: for a front end that shows the
  // lines while a long file is read (the report keeps only the first ones).
  RegStoreSink::NoteListener onNote;
};

// Reads the input in chunks (memory stays small for any size) and writes what it asks for
// in one write transaction: on failure the store is left as it was. Only the first bytes are
// read from an input that is no registry file.
class RegImporter {
 public:
  explicit RegImporter(RegistryEngine& engine, RegImportOptions options = {});

  // From the device's current position to its end. `sourceName` names the input in the
  // report's messages. A device that cannot seek is kept in memory as far as the choice
  // between UTF-8 and Windows-1252 needs to read ahead.
  RegImportReport Import(QIODevice* device, const std::string& sourceName);
  RegImportReport Import(std::string_view bytes, const std::string& sourceName);
  RegImportReport Import(const QByteArray& bytes, const std::string& sourceName);
  // The file at `path`, which must be a regular file.
  RegImportReport ImportFile(const std::string& path);

 private:
  RegistryEngine& m_engine;
  RegImportOptions m_options;
};

}  // namespace kestrova
