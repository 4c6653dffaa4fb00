#pragma once
// Backups of keys as .reg files, written with the exporter before a change.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "store/AssociationCheck.h"

namespace kestrova {

// Writes each backup as a REGEDIT4 file at the path `fileFor` gives for the backup's name
// (the program's backup names): the key's export, or, for a key the change is about to
// create, a file that deletes it again, so that importing the backup always undoes the
// change. Each file written is told to `report` (may be null) as "backup<TAB>FILE".
class RegKeyBackup final : public KeyBackup {
 public:
  RegKeyBackup(RegistryEngine& engine, std::function<std::string(const std::string&)> fileFor,
               std::ostream* report = nullptr);
  bool Save(const std::string& name, const std::string& key, bool exists,
            std::string* reason) override;
  const std::vector<std::string>& Files() const { return m_files; }

 private:
  RegistryEngine& m_engine;
  std::function<std::string(const std::string&)> m_fileFor;
  std::ostream* m_report;
  std::vector<std::string> m_files;
};

}  // namespace kestrova
