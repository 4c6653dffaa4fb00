#pragma once
// The association check's view of the machine: programs found the way the opener finds
// them, files and their icons through the icon source.

#include <memory>

#include "platform/OpenerDesktop.h"
#include "store/AssociationCheck.h"
#include "store/IconSource.h"

namespace kestrova {

// Splits the command line by the shell's rule, expands %NAME% from the environment, and
// asks the desktop opener where the program is. A command that starts the document itself
// ("%1", "%L") or a web address is not checked.
class DesktopProgramResolver final : public ProgramResolver {
 public:
  DesktopProgramResolver() = default;
  explicit DesktopProgramResolver(DesktopOpener::Options options) : m_opener(std::move(options)) {}
  ProgramState Resolve(const std::string& commandLine, std::string* program) override;

 private:
  DesktopOpener m_opener;
};

class DesktopCheckFiles final : public CheckFiles {
 public:
  explicit DesktopCheckFiles(std::shared_ptr<IconSource> icons) : m_icons(std::move(icons)) {}
  // The text as it stands, as the icon source takes it: no unquoting, no expansion.
  bool Exists(const std::string& file) override;
  int IconCount(const std::string& file) override { return m_icons->Count(file); }

 private:
  std::shared_ptr<IconSource> m_icons;
};

}  // namespace kestrova
