#include "platform/CheckProbesDesktop.h"

#include <sys/stat.h>

#include <QString>
#include <cstdlib>

#include "platform/WindowsCommandLine.h"

namespace kestrova {
namespace {

// "%1", "%L", "%*": the shell puts the document there, so the document is the program.
bool NamesTheDocument(const std::string& program) {
  if (program.size() < 2 || program.front() != '%') return false;
  const char c = program[1];
  return (c >= '0' && c <= '9') || c == 'L' || c == 'l' || c == '*';
}

}  // namespace

ProgramState DesktopProgramResolver::Resolve(const std::string& commandLine, std::string* program) {
  const ProgramAndArguments split = SplitProgramName(commandLine);
  *program = ExpandPercentVariables(split.program, [](const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
  });
  if (program->empty() || NamesTheDocument(*program)) return ProgramState::NotChecked;
  std::string path;
  switch (m_opener.Find(QString::fromStdString(*program), &path)) {
    case DesktopOpener::Target::Program:
      return ProgramState::Found;
    case DesktopOpener::Target::WebAddress:
      return ProgramState::NotChecked;
    case DesktopOpener::Target::Document:
    case DesktopOpener::Target::NotExecutable:
      return ProgramState::NotExecutable;
    case DesktopOpener::Target::Missing:
      break;
  }
  return ProgramState::Missing;
}

bool DesktopCheckFiles::Exists(const std::string& file) {
  struct stat st;
  return !file.empty() && file.find('\0') == std::string::npos && stat(file.c_str(), &st) == 0;
}

}  // namespace kestrova
