#pragma once
// The desktop's opener: programs started directly, documents and web addresses through xdg-open.

#include <QString>
#include <string>

#include "platform/Opener.h"

namespace kestrova {

class DesktopOpener final : public Opener {
 public:
  struct Options {
    // Where "Regedit.exe" finds kestrova-regedit; empty: beside the running executable.
    QString programDir;
    // What opens documents and web addresses: a path, or a name looked up on PATH.
    QString documentOpener = QStringLiteral("xdg-open");
  };

  DesktopOpener() = default;
  explicit DesktopOpener(Options options) : m_options(std::move(options)) {}

  // A program (a path to an executable file, a name found on PATH, or "Regedit.exe" in any
  // letter case) is started directly, never through a shell, with `parameters` split by the
  // Windows rules, and returned so that it can be waited for. A web address (scheme://...)
  // or any other existing file or folder goes to the document opener, which is not waited
  // for: no process is returned, and should it fail later the user is told then. A name
  // without a slash is looked up on PATH only, never in the current folder; a relative
  // path is taken from the current folder, not from `directory`.
  OpenResult Open(QWidget* owner, const QString& command, const QString& parameters,
                  const QString& directory) override;

  // The kestrova-regedit that "Regedit.exe" names.
  QString RegeditPath() const;

  // What Open does with `command`, found the same way and started never: run a program
  // (`path` gets it), hand a web address or an existing file that cannot be run to the
  // document opener, or fail for a name that is nowhere (or only a file that cannot be
  // run, on PATH).
  enum class Target { Program, WebAddress, Document, Missing, NotExecutable };
  Target Find(const QString& command, std::string* path) const;

 private:
  Options m_options;
};

}  // namespace kestrova
