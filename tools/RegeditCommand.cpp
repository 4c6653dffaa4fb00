#include "tools/RegeditCommand.h"

#include <optional>

#include "store/RegistryEngine.h"
#include "tools/RegFiles.h"

namespace kestrova {
namespace {

constexpr const char* kUsage =
    "Usage: kestrova-regedit /e FILE [KEY]     export KEY and its subtree (or the whole store)\n"
    "       kestrova-regedit /s [--strict] FILE import FILE without asking\n"
    "       kestrova-regedit --help | --version\n"
    "KEY starts with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,\n"
    "HKEY_CURRENT_CONFIG, HKCR or HKCU. Exit status: 0 done, 1 imported with skipped lines,\n"
    "2 failed (nothing changed).\n";

// Registry editors take a switch only when it is two characters long, so that a file name
// such as /home/u/x.reg is never read as one.
bool IsSwitch(const std::string& arg) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && arg[1] != '-';
}

int UsageError(std::ostream& err, const std::string& problem) {
  err << "kestrova-regedit: " << problem << '\n' << kUsage;
  return kExitFailed;
}

}  // namespace

int RunRegedit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitFailed;
  }
  char mode = 0;
  bool strict = false;
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
  if (mode == 0) return UsageError(err, "give /e to export or /s to import");
  if (mode == 's' && operands.size() != 1) return UsageError(err, "/s takes one FILE");
  if (mode == 'e' && (operands.empty() || operands.size() > 2))
    return UsageError(err, "/e takes FILE and an optional KEY");
  if (mode == 'e' && strict) return UsageError(err, "--strict applies to /s only");

  try {
    auto engine = AcquireEngine();
    if (mode == 's') return ImportRegFile(*engine, operands[0], ImportOptions{strict}, err);
    std::optional<std::string> key;
    if (operands.size() == 2) key = operands[1];
    return ExportRegFile(*engine, operands[0], key, err);
  } catch (const StoreError& e) {
    err << "kestrova-regedit: " << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace kestrova
