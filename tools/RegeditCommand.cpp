#include "tools/RegeditCommand.h"

#include "kestrova/Version.h"

#include "platform/DesktopDatabases.h"
#include "regfile/RegExporter.h"
#include "regfile/RegImporter.h"
#include "store/DesktopImport.h"

namespace kestrova {
namespace {

constexpr const char* kName = "kestrova-regedit: ";

constexpr const char* kUsage =
    "Usage: kestrova-regedit /e FILE [KEY]     export KEY and its subtree (or the whole store)\n"
    "       kestrova-regedit /s [--strict] FILE import FILE without asking\n"
    "       kestrova-regedit --import-desktop     refresh the file types from the desktop's\n"
    "                                             databases, keeping what was edited\n"
    "       kestrova-regedit --check               list broken associations\n"
    "       kestrova-regedit --check --fix KIND    mend one kind of them (or all), with backups\n"
    "       kestrova-regedit --help | --version\n"
    "Each of them takes --prefix DIR to work on the Wine prefix DIR (its registry files)\n"
    "instead of Kestrova's own store; --import-desktop works on Kestrova's own store only.\n"
    "KEY starts with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,\n"
    "HKEY_CURRENT_CONFIG, HKCR or HKCU. Exit status: 0 done, 1 imported with skipped lines,\n"
    "2 failed (nothing changed). --check exits 1 when it finds a fault, --fix 2 when a mend\n"
    "fails.\n";

// Registry editors take a switch only when it is two characters long, so that a file name
// such as /home/u/x.reg is never read as one.
bool IsSwitch(const std::string& arg) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && arg[1] != '-';
}

int UsageError(std::ostream& err, const std::string& problem) {
  err << kName << problem << '\n' << kUsage;
  return kExitFailed;
}

}  // namespace

int ImportRegFile(RegistryEngine& engine, const std::string& path, bool strict, std::ostream& err) {
  RegImportOptions options;
  options.strict = strict;
  // Each line as it is read: a long file reports as it goes.
  options.onNote = [&err](const RegImportReport& report, const RegNote& note) {
    err << report.NoteText(note) << '\n';
  };
  const RegImportReport report = RegImporter(engine, options).ImportFile(path);
  if (report.Failed()) {
    err << kName << report.errorString << '\n';
    return kExitFailed;
  }
  if (report.Partial()) {
    err << kName << report.SummaryText() << '\n';
    return kExitSkipped;
  }
  return kExitOk;
}

int ExportRegFile(RegistryEngine& engine, const std::string& path,
                  const std::optional<std::string>& key, std::ostream& err) {
  const RegExportReport report = RegExporter(engine).ExportFile(path, key);
  if (!report.Failed()) return kExitOk;
  err << kName << report.errorString << '\n';
  return kExitFailed;
}

int ImportFromDesktop(RegistryEngine& engine, const DesktopSnapshot& desktop, std::ostream& out,
                      std::ostream& err) {
  const DesktopImportReport report = ImportDesktop(engine, desktop);
  for (const std::string& skipped : report.skipped)
    err << kName << "application left out: " << skipped << '\n';
  out << "Imported from the desktop: " << report.written << " keys written, " << report.unchanged
      << " unchanged, " << report.kept << " left as edited, " << report.removed << " removed.\n";
  return kExitOk;
}

int RunRegedit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitFailed;
  }
  char mode = 0;
  bool strict = false;
  bool importDesktop = false;
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (arg == "--help") {
      out << kUsage;
      return kExitOk;
    }
    if (arg == "--version") {
      out << "kestrova-regedit " KESTROVA_VERSION "\n";
      return kExitOk;
    }
    if (arg == "--strict") {
      strict = true;
    } else if (arg == "--import-desktop") {
      importDesktop = true;
    } else if (IsSwitch(arg)) {
      const char c = static_cast<char>(arg[1] | 0x20);
      if (c != 'e' && c != 's') return UsageError(err, "unknown switch " + arg);
      if (mode != 0) return UsageError(err, "give one of /e and /s");
      mode = c;
    } else if (arg.starts_with("--")) {
      return UsageError(err, "unknown option " + arg);
    } else {
      operands.push_back(arg);
    }
  }
  if (importDesktop) {
    if (mode != 0 || strict || !operands.empty())
      return UsageError(err, "--import-desktop takes nothing else");
    try {
      const DesktopSnapshot desktop = ReadDesktopDatabases();
      auto engine = AcquireEngine();
      return ImportFromDesktop(*engine, desktop, out, err);
    } catch (const StoreError& e) {
      err << kName << e.what() << '\n';
      return kExitFailed;
    }
  }
  if (mode == 0) return UsageError(err, "give /e to export or /s to import");
  if (mode == 's' && operands.size() != 1) return UsageError(err, "/s takes one FILE");
  if (mode == 'e' && (operands.empty() || operands.size() > 2))
    return UsageError(err, "/e takes FILE and an optional KEY");
  if (mode == 'e' && strict) return UsageError(err, "--strict applies to /s only");

  try {
    auto engine = AcquireEngine();
    if (mode == 's') return ImportRegFile(*engine, operands[0], strict, err);
    std::optional<std::string> key;
    if (operands.size() == 2) key = operands[1];
    return ExportRegFile(*engine, operands[0], key, err);
  } catch (const StoreError& e) {
    err << kName << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace kestrova
