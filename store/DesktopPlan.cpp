#include "store/DesktopPlan.h"

#include <cctype>
#include <vector>

#include "store/AssocLayout.h"
#include "store/AssocStore.h"
#include "store/CommandToExec.h"

namespace kestrova {
namespace {

// A text value, or nothing: a number or binary value names no file type or command.
std::string TextOf(AssocStore& store, const std::string& key, const char* name) {
  store.ClosePath();
  if (!store.OpenPath(key, false) || !store.HasValue(name)) return {};
  const ValueKind kind = store.KindOfValue(name);
  if (kind != ValueKind::Text && kind != ValueKind::ExpandText) return {};
  return store.GetText(name);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

ExtensionData ReadExtensionData(AssocStore& store, const std::string& ext) {
  ExtensionData data;
  data.ext = ext;
  store.SetRoot(RootKey::ClassesRoot);
  const std::string extKey = layout::ExtKey(ext);
  data.exists = store.HasPath(extKey);
  if (!data.exists) return data;
  data.contentType = TextOf(store, extKey, layout::ContentTypeName);
  data.progId = TextOf(store, extKey, layout::DefaultValueName);
  if (!layout::IsFileTypeName(data.progId) || !store.HasPath(layout::ProgIdKey(data.progId))) {
    data.progId.clear();
    return data;
  }
  data.typeName = TextOf(store, layout::ProgIdKey(data.progId), layout::DefaultValueName);
  data.icon = TextOf(store, layout::DefaultIconKey(data.progId), layout::DefaultValueName);
  std::string verb = TextOf(store, layout::ShellKey(data.progId), layout::DefaultValueName);
  if (verb.empty()) {
    store.ClosePath();
    if (store.OpenPath(layout::ShellKey(data.progId), false)) {
      std::vector<std::string> verbs;
      store.ListSubkeys(verbs);
      if (!verbs.empty()) verb = verbs.front();
    }
  }
  if (!verb.empty()) {
    data.openCommand =
        TextOf(store, layout::VerbCommandKey(data.progId, verb), layout::DefaultValueName);
  }
  store.ClosePath();
  return data;
}

std::string OwnMimeType(const std::string& ext) {
  std::string subtype;
  for (const char c : ext) {
    const auto u = static_cast<unsigned char>(c);
    subtype += std::isalnum(u) || c == '+' || c == '.' || c == '-'
                   ? static_cast<char>(std::tolower(u))
                   : '-';
  }
  return "application/x-kestrova-" + subtype;
}

std::string OwnEntryId(const std::string& progId) {
  std::string id = "kestrova-";
  for (const char c : progId) {
    const auto u = static_cast<unsigned char>(c);
    id += u < 0x80 && (std::isalnum(u) || c == '.' || c == '_' || c == '-') ? c : '_';
  }
  return id + ".desktop";
}

std::string EntryIcon(const std::string& defaultIcon) {
  std::string file = defaultIcon;
  // "file,index": the index means an icon inside a file, which only .ico/.exe files have.
  if (const auto comma = file.rfind(','); comma != std::string::npos) {
    const std::string index = file.substr(comma + 1);
    file.resize(comma);
    if (!index.empty() && index != "0") return {};
  }
  if (file.size() >= 2 && file.front() == '"' && file.back() == '"') {
    file = file.substr(1, file.size() - 2);
  }
  if (file.empty() || file.find('\\') != std::string::npos) return {};
  if (file.front() == '/') {
    for (const char* image : {".png", ".svg", ".xpm", ".svgz"}) {
      if (EndsWith(file, image)) return file;
    }
    return {};
  }
  // A bare name is a theme icon; anything with a folder or an extension is not.
  if (file.find('/') != std::string::npos || file.find('.') != std::string::npos) return {};
  return file;
}

DesktopPlan PlanExtension(const ExtensionData& data, const SystemView& system) {
  DesktopPlan plan;
  plan.ext = data.ext;
  plan.progId = data.progId;
  if (!data.exists) {
    plan.remove = true;
    return plan;
  }
  std::string systemType = system.typeForExtension(data.ext);
  if (systemType == "application/octet-stream") systemType.clear();
  plan.systemType = systemType;
  plan.mimeType = data.contentType;
  if (plan.mimeType.empty())
    plan.mimeType = systemType.empty() ? OwnMimeType(data.ext) : systemType;
  if (plan.mimeType != systemType) {
    plan.ownGlob = true;
    const bool known = system.knowsType(plan.mimeType);
    // A comment on a type the desktop defines would rename that type everywhere.
    if (!known) plan.comment = data.typeName.empty() ? data.progId : data.typeName;
    // GIO sniffs the file when two types claim it and keeps the one the content matches
    // or a subclass of it, so our type must descend from the desktop's to win.
    if (!known && !systemType.empty()) plan.subClassOf = systemType;
  }
  if (data.openCommand.empty()) return plan;
  const ExecTranslation exec = CommandToExec(data.openCommand);
  if (!exec.Ok()) {
    plan.skipped = exec.problem;
    return plan;
  }
  plan.appId = system.applicationFor(exec.exec);
  if (plan.appId.empty()) {
    plan.ownEntry = true;
    plan.appId = OwnEntryId(data.progId);
    plan.entryName = data.typeName.empty() ? data.progId : data.typeName;
    plan.entryIcon = EntryIcon(data.icon);
    plan.entryExec = exec.exec;
  }
  return plan;
}

}  // namespace kestrova
