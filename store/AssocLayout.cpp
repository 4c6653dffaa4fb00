#include "store/AssocLayout.h"

#include <initializer_list>

namespace kestrova::layout {

namespace {

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string path;
  for (std::string_view part : parts) path.append(part);
  return path;
}

}  // namespace

std::string ExtKey(std::string_view ext) { return Join({"\\.", ext}); }

std::string ProgIdKey(std::string_view progId) { return Join({"\\", progId}); }

std::string DefaultIconKey(std::string_view progId) {
  return Join({"\\", progId, "\\DefaultIcon"});
}

std::string ShellKey(std::string_view progId) { return Join({"\\", progId, "\\Shell"}); }

std::string VerbKey(std::string_view progId, std::string_view verb) {
  return Join({"\\", progId, "\\Shell\\", verb});
}

std::string VerbCommandKey(std::string_view progId, std::string_view verb) {
  return Join({VerbKey(progId, verb), "\\Command"});
}

std::string NewVerbCommandKey(std::string_view progId, std::string_view verb) {
  return Join({VerbKey(progId, verb), "\\command"});
}

std::string DdeExecKey(std::string_view progId, std::string_view verb) {
  return Join({VerbKey(progId, verb), "\\ddeexec"});
}

std::string DdeApplicationKey(std::string_view progId, std::string_view verb) {
  return Join({DdeExecKey(progId, verb), "\\Application"});
}

std::string DdeTopicKey(std::string_view progId, std::string_view verb) {
  return Join({DdeExecKey(progId, verb), "\\Topic"});
}

std::string DdeIfExecKey(std::string_view progId, std::string_view verb) {
  return Join({DdeExecKey(progId, verb), "\\ifexec"});
}

std::string ExtBackupKey(std::string_view ext) { return Join({"HKEY_CLASSES_ROOT\\.", ext}); }

std::string ProgIdBackupKey(std::string_view progId) {
  return Join({"HKEY_CLASSES_ROOT\\", progId});
}

bool IsFileTypeName(std::string_view name) {
  // An empty name would make the file type's key the root itself.
  return !name.empty() && name.front() != '.' && name != "*";
}

std::string ContentTypeKey(std::string_view mimeType) {
  return Join({ContentTypeDatabaseKey, "\\", mimeType});
}

std::string DesktopProgId(std::string_view mimeType) {
  std::string progId = Join({"Desktop.", mimeType});
  for (char& c : progId)
    if (c == '/') c = '.';
  return progId;
}

std::string DesktopOpenWithVerb(std::string_view desktopId) {
  constexpr std::string_view suffix = ".desktop";
  if (desktopId.size() > suffix.size() &&
      desktopId.substr(desktopId.size() - suffix.size()) == suffix)
    desktopId.remove_suffix(suffix.size());
  return Join({"openwith.", desktopId});
}

}  // namespace kestrova::layout

// ---- The association check ----
namespace kestrova::layout {

std::string ContentTypeBackupKey(std::string_view contentType) {
  return "HKEY_CLASSES_ROOT" + ContentTypeKey(contentType);
}

}  // namespace kestrova::layout
