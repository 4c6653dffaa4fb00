#include "shell/ProcessLauncher.h"

#include <new>

namespace kestrova {

ProcessLauncher::ProcessLauncher(QWidget* owner, bool wait) : Wait(wait), m_owner(owner) {}

void ProcessLauncher::SetText(int index, const QString& text) {
  switch (index) {
    case kCommand:
      m_command = text;
      break;
    case kParameters:
      m_parameters = text;
      break;
    case kDefaultDir:
      m_defaultDir = text;
      break;
    default:
      break;
  }
}

bool ProcessLauncher::IsFailureCode(int code) {
  switch (code) {
    case OpenCode::FileNotFound:
    case OpenCode::PathNotFound:
    case OpenCode::AccessDenied:
    case OpenCode::OutOfMemory:
    case OpenCode::SharingViolation:
    case OpenCode::AssocIncomplete:
    case OpenCode::DdeTimeout:
    case OpenCode::DdeFail:
    case OpenCode::DdeBusy:
    case OpenCode::NoAssociation:
    case OpenCode::DllNotFound:
      return true;
    default:
      return false;
  }
}

void ProcessLauncher::Start() {
  // Closing the handle lets the earlier process run on; it is not ended.
  m_process.reset();

  OpenResult result;
  try {
    result = TheOpener().Open(m_owner.data(), m_command, m_parameters, m_defaultDir);
  } catch (const std::bad_alloc&) {
    result = {OpenCode::OutOfMemory, nullptr};
  } catch (...) {
    // The callers go on whatever happens here; a start that threw started nothing.
    result = {OpenCode::AccessDenied, nullptr};
  }
  m_process = std::move(result.process);
  if (IsFailureCode(result.code)) {
    m_lastError = result.code;
    return;
  }
  if (Wait && m_process) m_process->Wait();
}

}  // namespace kestrova
