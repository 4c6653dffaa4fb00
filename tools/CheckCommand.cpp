#include "tools/CheckCommand.h"

#include <QDateTime>
#include <QFile>

#include "platform/BackupNames.h"

namespace kestrova {
namespace {

constexpr const char* kName = "kestrova-regedit: ";

}  // namespace

std::string CheckBackupFile(const std::string& dir, const std::string& name) {
  return QFile::encodeName(BackupFileName(QString::fromStdString(dir), QString::fromStdString(name),
                                          QDateTime::currentDateTime()))
      .toStdString();
}

namespace {

int Usage(std::ostream& err, const std::string& problem) {
  err << kName << problem << "\nUsage: kestrova-regedit --check [--fix KIND|all]\nKIND is one of";
  for (CheckKind kind : kAllCheckKinds) {
    if (IsFault(kind)) err << ' ' << CheckKindName(kind);
  }
  err << '\n';
  return 2;
}

// One line per finding: tabs and line ends inside names would break the columns.
std::string Field(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

std::string CheckBackupDir(const std::string& programDir) {
  return QFile::encodeName(BackupDir(QString::fromStdString(programDir))).toStdString();
}

int RunCheck(const std::vector<std::string>& args, RegistryEngine& engine,
             ProgramResolver& programs, CheckFiles& files, KeyBackup& backup, std::ostream& out,
             std::ostream& err, DesktopProbe* desktop, DesktopMends* mends) {
  bool fix = false;
  bool all = false;
  CheckKind kind = CheckKind::DanglingExtension;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--check") continue;
    if (args[i] == "--fix" && !fix) {
      if (i + 1 == args.size()) return Usage(err, "--fix takes a KIND");
      const std::string& name = args[++i];
      fix = true;
      all = name == "all";
      if (!all && !CheckKindFromName(name, &kind)) return Usage(err, "unknown kind " + name);
      if (!all && !IsFault(kind)) return Usage(err, name + " is information and has no mend");
      continue;
    }
    return Usage(err, "--check takes no " + args[i]);
  }
  try {
    const std::vector<Finding> findings = CheckAssociations(engine, programs, files, {}, desktop);
    if (!fix) {
      bool fault = false;
      for (const Finding& f : findings) {
        out << CheckKindName(f.kind) << '\t' << Field(f.subject) << '\t' << Field(f.problem)
            << '\n';
        fault = fault || IsFault(f.kind);
      }
      return fault ? 1 : 0;
    }
    AssociationMender mender(engine, backup, mends);
    bool failed = false;
    for (const Finding& f : findings) {
      if (!IsFault(f.kind) || (!all && f.kind != kind)) continue;
      std::string done;
      const bool mended = mender.Mend(f, &done);
      (mended ? out : err) << (mended ? "" : kName) << CheckKindName(f.kind) << '\t'
                           << Field(f.subject) << '\t' << Field(done) << '\n';
      failed = failed || !mended;
    }
    return failed ? 2 : 0;
  } catch (const StoreError& e) {
    err << kName << e.what() << '\n';
    return 2;
  }
}

}  // namespace kestrova
