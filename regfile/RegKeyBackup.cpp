#include "regfile/RegKeyBackup.h"

#include <filesystem>
#include <fstream>

#include "regfile/RegExporter.h"

namespace kestrova {

RegKeyBackup::RegKeyBackup(RegistryEngine& engine,
                           std::function<std::string(const std::string&)> fileFor,
                           std::ostream* report)
    : m_engine(engine), m_fileFor(std::move(fileFor)), m_report(report) {}

bool RegKeyBackup::Save(const std::string& name, const std::string& key, bool exists,
                        std::string* reason) {
  const std::string file = m_fileFor(name);
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    *reason = "the folder \"" + folder.string() + "\" cannot be made (" + error.message() + ")";
    return false;
  }
  if (exists) {
    const RegExportReport report = RegExporter(m_engine).ExportFile(file, key);
    if (report.Failed()) {
      *reason = "the backup \"" + file + "\" could not be written: " + report.errorString;
      return false;
    }
  } else {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "REGEDIT4\r\n\r\n[-" << key << "]\r\n\r\n";
    out.close();
    if (!out) {
      *reason = "the backup \"" + file + "\" could not be written";
      return false;
    }
  }
  m_files.push_back(file);
  if (m_report) *m_report << "backup\t" << file << '\n';
  return true;
}

}  // namespace kestrova
