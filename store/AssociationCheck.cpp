#include "store/AssociationCheck.h"

#include <algorithm>
#include <array>
#include <map>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "store/AssocLayout.h"
#include "store/IconLookup.h"
#include "store/MemoryAdvice.h"

namespace kestrova {
namespace {

// The last name of a layout path below a file type's or an action's key, so that the
// names live in the layout only.
std::string Below(const std::string& path, const std::string& parent) {
  return path.substr(parent.size() + 1);
}
const std::string& ShellName() {
  static const std::string name = Below(layout::ShellKey("x"), layout::ProgIdKey("x"));
  return name;
}
const std::string& DefaultIconName() {
  static const std::string name = Below(layout::DefaultIconKey("x"), layout::ProgIdKey("x"));
  return name;
}
const std::string& CommandName() {
  static const std::string name =
      Below(layout::VerbCommandKey("x", "v"), layout::VerbKey("x", "v"));
  return name;
}

// Names compare as the store compares them. ASCII letters fold here; a name with other
// bytes is asked of the engine, which folds the way the registry does.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}
// Equal as the store compares ASCII names; a name with other bytes never matches here.
bool Same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}
bool IsAscii(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// A text value as the program reads it: up to its first NUL; other types read as none.
std::string TextOf(const RegValue& value) {
  if (value.type != RegType::Sz && value.type != RegType::ExpandSz) return {};
  const auto nul = value.data.find('\0');
  return nul == std::string::npos ? value.data : value.data.substr(0, nul);
}

// The children of a key, found by folded name.
class ChildIndex {
 public:
  ChildIndex(RegistryEngine& engine, KeyRef parent) : m_engine(engine), m_parent(parent) {
    engine.Children(parent, m_children);
    m_byName.reserve(m_children.size());
    for (const ChildKey& child : m_children) m_byName.emplace(Fold(child.name), child.ref);
  }
  std::optional<KeyRef> Find(std::string_view name) const {
    if (auto it = m_byName.find(Fold(name)); it != m_byName.end()) return it->second;
    if (IsAscii(name)) return std::nullopt;
    return m_engine.FindChild(m_parent, name);
  }
  const std::vector<ChildKey>& All() const { return m_children; }

 private:
  RegistryEngine& m_engine;
  KeyRef m_parent;
  std::vector<ChildKey> m_children;
  std::unordered_map<std::string, KeyRef> m_byName;
};

// A child among a key's few children, compared without copies.
std::optional<KeyRef> FindIn(RegistryEngine& engine, KeyRef parent,
                             const std::vector<ChildKey>& children, std::string_view name) {
  for (const ChildKey& child : children) {
    if (Same(child.name, name)) return child.ref;
  }
  if (IsAscii(name)) return std::nullopt;
  return engine.FindChild(parent, name);
}

// One indexed lookup: cheaper than visiting the key's values, which the store sorts.
std::string DefaultText(RegistryEngine& engine, KeyRef key) {
  const auto value = engine.GetValue(key, layout::DefaultValueName);
  return value ? TextOf(*value) : std::string();
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

Finding Make(CheckKind kind, std::string subject, std::string problem, std::string mend) {
  Finding f;
  f.kind = kind;
  f.subject = std::move(subject);
  f.problem = std::move(problem);
  f.mend = std::move(mend);
  return f;
}

constexpr size_t kNone = static_cast<size_t>(-1);

struct Extension {
  std::string name;  // without the dot
  std::string progId;
  std::string contentType;
};

// A store finding noted during the walk and put into words at its end, when all are counted:
// each Finding is then built once, in its place, and a big store's many findings are not
// moved from group to group. The pointers name strings that live until the walk ends.
struct Noted {
  CheckKind kind = CheckKind::DanglingExtension;
  const std::string* name = nullptr;    // the extension (without its dot) or the file type
  const std::string* detail = nullptr;  // the file type or content type named, or the words
  const std::string* other = nullptr;   // where the MIME database gives the content type
  std::string action;                   // the action, or the default action as given
  size_t rank = 0;                      // the place in the store's order of what it is about
};

void Fill(Finding& f, const Noted& n) {
  f.kind = n.kind;
  switch (n.kind) {
    case CheckKind::DanglingExtension:
      f.subject = "." + *n.name;
      f.problem = "names the file type " + Quoted(*n.detail) + ", which does not exist";
      f.mend = "remove the extension";
      f.extension = *n.name;
      return;
    case CheckKind::UnusedFileType:
      f.subject = *n.name;
      f.problem = "no extension names this file type";
      f.progId = *n.name;
      return;
    case CheckKind::MissingProgram:
      f.subject = layout::VerbKey(*n.name, n.action).substr(1);
      f.problem = *n.detail;
      f.mend = "remove the action";
      f.progId = *n.name;
      f.verb = n.action;
      return;
    case CheckKind::BadDefaultAction:
      f.subject = *n.name;
      f.problem = "the default action " + Quoted(n.action) + " is not one of its actions";
      f.mend = "reset the default action";
      f.progId = *n.name;
      return;
    case CheckKind::BrokenIcon:
      f.subject = *n.name;
      f.problem = *n.detail;
      f.mend = "use the stock icon";
      f.progId = *n.name;
      return;
    case CheckKind::UnknownContentType:
      f.subject = "." + *n.name;
      if (n.other) {
        f.problem = "the MIME database gives the content type " + Quoted(*n.detail) + " to " +
                    Quoted(*n.other) + ", which does not have it";
        f.mend = "give " + Quoted(*n.detail) + " to ." + *n.name + " in the MIME database";
      } else {
        f.problem = "the MIME database does not know the content type " + Quoted(*n.detail);
        f.mend = "add " + Quoted(*n.detail) + " to the MIME database for ." + *n.name;
      }
      f.extension = *n.name;
      f.contentType = *n.detail;
      return;
    case CheckKind::StaleDesktopDefault:
    case CheckKind::UnusedDesktopEntry:
    case CheckKind::WineLeftover:
      return;  // the desktop's, noted elsewhere
  }
}

class Checker {
 public:
  Checker(RegistryEngine& engine, ProgramResolver& programs, CheckFiles& files,
          const std::function<void(double)>& progress)
      : m_engine(engine), m_programs(programs), m_files(files), m_progress(progress) {}

  std::vector<Finding> Run() {
    EngineTransaction read(m_engine, false);
    const KeyRef root = m_engine.Root(RootKey::ClassesRoot);
    const ChildIndex rootIndex(m_engine, root);
    const auto& all = rootIndex.All();
    const double total = static_cast<double>(all.size()) * 2 + 1;
    double done = 0;

    // Keys are read in the order the store made them rather than by name: keys made together
    // lie together in the file, and a big store is read in a fraction of the time.
    std::vector<size_t> madeOrder(all.size());
    std::iota(madeOrder.begin(), madeOrder.end(), size_t{0});
    std::sort(madeOrder.begin(), madeOrder.end(),
              [&all](size_t a, size_t b) { return all[a].ref.id < all[b].ref.id; });

    std::vector<Extension> extensions;
    std::vector<size_t> extensionAt(all.size(), kNone);
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i].name.empty() || all[i].name.front() != '.') continue;
      extensionAt[i] = extensions.size();
      extensions.push_back({all[i].name.substr(1), {}, {}});
    }
    for (size_t i : madeOrder) {
      Tick(++done / total);
      if (extensionAt[i] == kNone) continue;
      Extension& ext = extensions[extensionAt[i]];
      m_engine.VisitValues(all[i].ref, [&ext](const RegValue& value) {
        if (value.name.empty()) ext.progId = TextOf(value);
        if (Same(value.name, layout::ContentTypeName)) ext.contentType = TextOf(value);
      });
    }
    std::unordered_map<std::string, const Extension*> extByName;
    std::unordered_set<std::string> named;
    for (const Extension& ext : extensions) {
      extByName.emplace(Fold(ext.name), &ext);
      if (ext.progId.empty()) continue;
      named.insert(Fold(ext.progId));
      // A file type named by a path reaches deeper keys; the program looks it up as it
      // stands, and so do we only for plain names.
      if (ext.progId.find('\\') != std::string::npos) continue;
      if (!layout::IsFileTypeName(ext.progId) || !rootIndex.Find(ext.progId)) {
        Note({CheckKind::DanglingExtension, &ext.name, &ext.progId, nullptr, {}});
      }
    }

    const std::unordered_set<int64_t> namedBeyondAscii = KeysNamedBeyondAscii(named);
    for (size_t i : madeOrder) {
      Tick(++done / total);
      const ChildKey& child = all[i];
      if (!layout::IsFileTypeName(child.name)) continue;
      m_rank = i;
      CheckFileType(child,
                    named.contains(Fold(child.name)) || namedBeyondAscii.contains(child.ref.id));
    }
    m_rank = 0;

    CheckContentTypes(rootIndex, extensions, extByName);
    Tick(1);
    read.Commit();

    size_t count = 0;
    for (const auto& group : m_noted) count += group.size();
    std::vector<Finding> findings;
    findings.reserve(count);
    // A big store's findings take tens of megabytes, filled at once.
    AdviseLargeBuffer(findings.data(), count * sizeof(Finding));
    for (CheckKind kind : kAllCheckKinds) {
      // Back to the store's order of names; one file type's findings keep theirs.
      auto& group = m_noted[Index(kind)];
      std::stable_sort(group.begin(), group.end(),
                       [](const Noted& a, const Noted& b) { return a.rank < b.rank; });
      for (const Noted& noted : group) Fill(findings.emplace_back(), noted);
    }
    return findings;
  }

 private:
  static size_t Index(CheckKind kind) { return static_cast<size_t>(kind); }
  void Note(Noted noted) {
    noted.rank = m_rank;
    m_noted[Index(noted.kind)].push_back(std::move(noted));
  }

  void Tick(double fraction) {
    if (!m_progress) return;
    const int step = static_cast<int>(fraction * 100);
    if (step == m_lastStep && fraction < 1) return;
    m_lastStep = step;
    m_progress(fraction);
  }

  // Names beyond ASCII fold beyond our folding: the keys they name, found by the engine.
  std::unordered_set<int64_t> KeysNamedBeyondAscii(const std::unordered_set<std::string>& named) {
    std::unordered_set<int64_t> ids;
    const KeyRef root = m_engine.Root(RootKey::ClassesRoot);
    for (const std::string& progId : named) {
      if (IsAscii(progId)) continue;
      if (const auto key = m_engine.FindChild(root, progId)) ids.insert(key->id);
    }
    return ids;
  }

  void CheckFileType(const ChildKey& type, bool named) {
    m_engine.Children(type.ref, m_parts);
    const auto shell = FindIn(m_engine, type.ref, m_parts, ShellName());
    const auto icon = FindIn(m_engine, type.ref, m_parts, DefaultIconName());
    // Keys of the root that have neither actions nor an icon (CLSID, MIME, ...) are not
    // file types of ours.
    if (!shell && !icon) return;
    if (!named) Note({CheckKind::UnusedFileType, &type.name, nullptr, nullptr, {}});
    if (shell) CheckActions(type.name, *shell);
    if (icon) CheckIcon(type.name, *icon);
  }

  void CheckActions(const std::string& progId, KeyRef shell) {
    const std::string defaultAction = DefaultText(m_engine, shell);
    std::vector<ChildKey> verbs;
    m_engine.Children(shell, verbs);
    for (const ChildKey& verb : verbs) {
      const auto command = m_engine.FindChild(verb.ref, CommandName());
      if (!command) continue;
      const std::string line = DefaultText(m_engine, *command);
      if (line.empty()) continue;
      // Most commands share a few programs: each command line is resolved once.
      auto [it, fresh] = m_resolved.try_emplace(line);
      if (fresh) it->second = ProgramProblem(line);
      if (it->second.empty()) continue;
      Note({CheckKind::MissingProgram, &progId, &it->second, nullptr, verb.name});
    }
    if (defaultAction.empty()) return;
    // The shell takes a list of actions, separated by commas, and starts the first present.
    size_t begin = 0;
    while (begin <= defaultAction.size()) {
      size_t end = defaultAction.find(',', begin);
      if (end == std::string::npos) end = defaultAction.size();
      std::string name = defaultAction.substr(begin, end - begin);
      while (!name.empty() && name.front() == ' ') name.erase(0, 1);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      if (!name.empty() && FindIn(m_engine, shell, verbs, name)) return;
      begin = end + 1;
    }
    Note({CheckKind::BadDefaultAction, &progId, nullptr, nullptr, defaultAction});
  }

  void CheckIcon(const std::string& progId, KeyRef icon) {
    const std::string text = DefaultText(m_engine, icon);
    if (text.empty()) return;
    auto [it, fresh] = m_iconProblems.try_emplace(text);
    if (fresh) it->second = IconProblem(text);
    if (!it->second.empty()) Note({CheckKind::BrokenIcon, &progId, &it->second, nullptr, {}});
  }

  // What is wrong with a "DefaultIcon" text; empty when nothing is, or nothing can be told.
  std::string IconProblem(const std::string& text) {
    const IconLocation location = ParseDefaultIcon(text);
    // "%1": each file is its own icon, which only the file itself can tell.
    if (location.file.empty() || location.file.starts_with("%1")) return {};
    // A bare name is an icon of the desktop's theme, which only a running desktop knows.
    if (location.file.find_first_of("/\\") == std::string::npos) return {};
    auto [it, fresh] = m_icons.try_emplace(location.file, -1);
    if (fresh && m_files.Exists(location.file)) it->second = m_files.IconCount(location.file);
    const int count = it->second;
    if (count < 0) return "the icon file " + Quoted(location.file) + " does not exist";
    if (count == 0) return "the icon file " + Quoted(location.file) + " holds no icons";
    // A negative index names a resource of a program, which the count does not cover.
    if (location.index < count) return {};
    return "the icon file " + Quoted(location.file) + " holds " + std::to_string(count) +
           (count == 1 ? " icon" : " icons") + ", not one at index " +
           std::to_string(location.index);
  }

  // What is wrong with the program a command line starts; empty when nothing is.
  std::string ProgramProblem(const std::string& line) {
    std::string program;
    switch (m_programs.Resolve(line, &program)) {
      case ProgramState::Missing:
        return "the program " + Quoted(program) + " does not exist";
      case ProgramState::NotExecutable:
        return "the program " + Quoted(program) + " cannot be run";
      case ProgramState::Found:
      case ProgramState::NotChecked:
        break;
    }
    return {};
  }

  void CheckContentTypes(const ChildIndex& rootIndex, const std::vector<Extension>& extensions,
                         const std::unordered_map<std::string, const Extension*>& extByName) {
    std::optional<KeyRef> database;
    {
      // The database's key, walked from the root by the layout's path.
      const std::string path = layout::ContentTypeDatabaseKey;
      std::optional<KeyRef> key;
      size_t begin = 1;
      while (begin <= path.size()) {
        size_t end = path.find('\\', begin);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(begin, end - begin);
        key = key ? m_engine.FindChild(*key, name) : rootIndex.Find(name);
        if (!key) break;
        begin = end + 1;
      }
      database = key;
    }
    std::optional<ChildIndex> types;
    if (database) types.emplace(m_engine, *database);
    for (const Extension& ext : extensions) {
      if (ext.contentType.empty()) continue;
      const auto entry = types ? types->Find(ext.contentType) : std::nullopt;
      if (!entry) {
        Note({CheckKind::UnknownContentType, &ext.name, &ext.contentType, nullptr, {}});
        continue;
      }
      auto [it, fresh] = m_extensionOf.try_emplace(Fold(ext.contentType));
      if (fresh) {
        const auto value = m_engine.GetValue(*entry, layout::ExtensionName);
        if (value) it->second = TextOf(*value);
      }
      const std::string& named = it->second;
      // No extension there, or this one: fine. Another extension that has this content
      // type too: fine, extensions share types. Anything else is stale.
      if (named.empty() || (named.front() == '.' && Same(named.substr(1), ext.name))) continue;
      if (named.front() == '.') {
        const auto other = extByName.find(Fold(named.substr(1)));
        if (other != extByName.end() && Same(other->second->contentType, ext.contentType)) {
          continue;
        }
      }
      Note({CheckKind::UnknownContentType, &ext.name, &ext.contentType, &named, {}});
    }
  }

  RegistryEngine& m_engine;
  ProgramResolver& m_programs;
  CheckFiles& m_files;
  const std::function<void(double)>& m_progress;
  int m_lastStep = -1;
  size_t m_rank = 0;  // the file type being checked: its place among the root's keys
  std::array<std::vector<Noted>, std::size(kAllCheckKinds)> m_noted;
  std::vector<ChildKey> m_parts;  // reused: a file type's children
  // Node-based maps: the words noted findings point to stay where they are.
  std::unordered_map<std::string, std::string> m_resolved;      // by command line
  std::unordered_map<std::string, int> m_icons;                 // icons in a file
  std::unordered_map<std::string, std::string> m_iconProblems;  // by DefaultIcon text
  std::unordered_map<std::string, std::string> m_extensionOf;   // by folded content type
};

// The desktop's kinds, from the facts the probe read.
void CheckDesktop(DesktopProbe& probe, std::vector<Finding>& findings) {
  const DesktopFacts facts = probe.Read();
  std::set<std::string> named;
  std::map<std::string, bool> exists;
  std::set<std::string> wine;
  for (const DesktopFacts::WineEntry& entry : facts.wineEntries) wine.insert(entry.id);
  std::vector<Finding> stale;
  for (const DesktopFacts::ListLine& line : facts.userList) {
    for (const std::string& id : line.ids) {
      named.insert(id);
      auto [it, fresh] = exists.try_emplace(id, true);
      if (fresh) it->second = wine.contains(id) || probe.EntryExists(id);
      if (it->second) continue;
      Finding f =
          Make(CheckKind::StaleDesktopDefault, line.type,
               std::string(line.isDefault ? "the default " : "the association ") + Quoted(id) +
                   " in mimeapps.list names an application that is not installed",
               "remove " + Quoted(id) + " from mimeapps.list");
      f.contentType = line.type;
      f.desktopEntry = id;
      f.listGroup = line.group;
      stale.push_back(std::move(f));
    }
  }
  for (Finding& f : stale) findings.push_back(std::move(f));
  for (const std::string& id : facts.ownEntries) {
    if (named.contains(id) || facts.ledgerEntries.contains(id)) continue;
    Finding f = Make(CheckKind::UnusedDesktopEntry, id,
                     "Kestrova's desktop entry is not applied to any extension nor chosen in "
                     "mimeapps.list",
                     "remove the entry");
    f.desktopEntry = id;
    findings.push_back(std::move(f));
  }
  for (const DesktopFacts::WineEntry& entry : facts.wineEntries) {
    if (entry.prefixExists) continue;
    std::string problem =
        "opens files in the Wine prefix " + Quoted(entry.prefix) + ", which no longer exists";
    if (entry.listLines > 0) {
      problem += "; " + std::to_string(entry.listLines) +
                 (entry.listLines == 1 ? " line" : " lines") + " of mimeapps.list choose it";
    }
    Finding f = Make(CheckKind::WineLeftover, entry.id, problem,
                     "remove the entry, its Wine MIME types and the lines choosing it");
    f.desktopEntry = entry.id;
    findings.push_back(std::move(f));
  }
  for (const std::string& type : facts.wineOrphanTypes) {
    Finding f = Make(CheckKind::WineLeftover, type,
                     "a MIME type of Wine's that no Wine entry lists", "remove the MIME type");
    f.contentType = type;
    findings.push_back(std::move(f));
  }
}

// The key at a layout path under HKEY_CLASSES_ROOT, or none.
std::optional<KeyRef> KeyAt(RegistryEngine& engine, const std::string& path) {
  KeyRef key = engine.Root(RootKey::ClassesRoot);
  size_t begin = 1;
  while (begin <= path.size()) {
    size_t end = path.find('\\', begin);
    if (end == std::string::npos) end = path.size();
    const auto child = engine.FindChild(key, std::string_view(path).substr(begin, end - begin));
    if (!child) return std::nullopt;
    key = *child;
    begin = end + 1;
  }
  return key;
}

// Deletes the key at a layout path; false when it was not there.
bool DeleteKeyAt(RegistryEngine& engine, const std::string& path) {
  const size_t cut = path.rfind('\\');
  const auto parent = cut == 0 ? std::optional<KeyRef>(engine.Root(RootKey::ClassesRoot))
                               : KeyAt(engine, path.substr(0, cut));
  return parent && engine.DeleteChild(*parent, std::string_view(path).substr(cut + 1));
}

std::string Sz(const std::string& text) { return text + '\0'; }

}  // namespace

const char* CheckKindName(CheckKind kind) {
  switch (kind) {
    case CheckKind::DanglingExtension:
      return "dangling-extension";
    case CheckKind::UnusedFileType:
      return "unused-file-type";
    case CheckKind::MissingProgram:
      return "missing-program";
    case CheckKind::BadDefaultAction:
      return "bad-default-action";
    case CheckKind::BrokenIcon:
      return "broken-icon";
    case CheckKind::UnknownContentType:
      return "unknown-content-type";
    case CheckKind::StaleDesktopDefault:
      return "stale-desktop-default";
    case CheckKind::UnusedDesktopEntry:
      return "unused-desktop-entry";
    case CheckKind::WineLeftover:
      return "wine-leftover";
  }
  return "";
}

const char* CheckKindCaption(CheckKind kind) {
  switch (kind) {
    case CheckKind::DanglingExtension:
      return "Extensions whose file type is missing";
    case CheckKind::UnusedFileType:
      return "File types no extension uses (information)";
    case CheckKind::MissingProgram:
      return "Actions whose program is missing";
    case CheckKind::BadDefaultAction:
      return "Default actions that name no action";
    case CheckKind::BrokenIcon:
      return "Icons that cannot be found";
    case CheckKind::UnknownContentType:
      return "Content types the MIME database does not match";
    case CheckKind::StaleDesktopDefault:
      return "Desktop defaults naming a missing application";
    case CheckKind::UnusedDesktopEntry:
      return "Kestrova's desktop entries nothing uses";
    case CheckKind::WineLeftover:
      return "Wine associations left behind";
  }
  return "";
}

bool IsFault(CheckKind kind) { return kind != CheckKind::UnusedFileType; }

bool IsDesktopKind(CheckKind kind) {
  return kind == CheckKind::StaleDesktopDefault || kind == CheckKind::UnusedDesktopEntry ||
         kind == CheckKind::WineLeftover;
}

bool CheckKindFromName(const std::string& name, CheckKind* kind) {
  for (CheckKind k : kAllCheckKinds) {
    if (name == CheckKindName(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

std::vector<Finding> CheckAssociations(RegistryEngine& engine, ProgramResolver& programs,
                                       CheckFiles& files,
                                       const std::function<void(double)>& progress,
                                       DesktopProbe* desktop) {
  std::vector<Finding> findings = Checker(engine, programs, files, progress).Run();
  if (desktop) CheckDesktop(*desktop, findings);
  return findings;
}

AssociationMender::AssociationMender(RegistryEngine& engine, KeyBackup& backup,
                                     DesktopMends* desktop)
    : m_engine(engine), m_backup(backup), m_desktop(desktop) {}

bool AssociationMender::Back(const std::string& name, const std::string& key, bool exists,
                             std::string* reason) {
  if (m_saved.contains(Fold(key))) return true;
  if (!m_backup.Save(name, key, exists, reason)) return false;
  m_saved.insert(Fold(key));
  return true;
}

bool AssociationMender::BackUpAndRemove(const std::string& name, const std::string& backupKey,
                                        const std::string& path, std::string* reason) {
  if (!KeyAt(m_engine, path)) return false;
  if (!Back(name, backupKey, true, reason)) return false;
  EngineTransaction write(m_engine, true);
  DeleteKeyAt(m_engine, path);
  write.Commit();
  return true;
}

bool AssociationMender::Mend(const Finding& f, std::string* done) {
  if (IsDesktopKind(f.kind)) {
    if (m_desktop) return m_desktop->Mend(f, done);
    *done = "not mended: " + f.subject + ": the desktop's files are not at hand";
    return false;
  }
  std::string reason;
  try {
    switch (f.kind) {
      case CheckKind::UnusedFileType:
        *done = "nothing to mend: " + f.subject + " is information only";
        return false;
      case CheckKind::DanglingExtension: {
        if (!BackUpAndRemove("." + f.extension, layout::ExtBackupKey(f.extension),
                             layout::ExtKey(f.extension), &reason))
          break;
        *done = "removed the extension ." + f.extension;
        return true;
      }
      case CheckKind::MissingProgram: {
        if (!BackUpAndRemove(f.progId, layout::ProgIdBackupKey(f.progId),
                             layout::VerbKey(f.progId, f.verb), &reason))
          break;
        *done = "removed the action " + f.subject;
        return true;
      }
      case CheckKind::BadDefaultAction: {
        const auto shell = KeyAt(m_engine, layout::ShellKey(f.progId));
        if (!shell || !m_engine.QueryValue(*shell, layout::DefaultValueName)) break;
        if (!Back(f.progId, layout::ProgIdBackupKey(f.progId), true, &reason)) break;
        EngineTransaction write(m_engine, true);
        m_engine.DeleteValue(*shell, layout::DefaultValueName);
        write.Commit();
        *done = "reset the default action of " + f.progId;
        return true;
      }
      case CheckKind::BrokenIcon: {
        if (!BackUpAndRemove(f.progId, layout::ProgIdBackupKey(f.progId),
                             layout::DefaultIconKey(f.progId), &reason))
          break;
        *done = "set the stock icon for " + f.progId;
        return true;
      }
      case CheckKind::UnknownContentType: {
        const std::string path = layout::ContentTypeKey(f.contentType);
        const bool exists = KeyAt(m_engine, path).has_value();
        if (!Back(f.contentType, layout::ContentTypeBackupKey(f.contentType), exists, &reason))
          break;
        EngineTransaction write(m_engine, true);
        KeyRef key = m_engine.Root(RootKey::ClassesRoot);
        size_t begin = 1;
        while (begin <= path.size()) {
          size_t end = path.find('\\', begin);
          if (end == std::string::npos) end = path.size();
          key = m_engine.CreateChild(key, std::string_view(path).substr(begin, end - begin));
          begin = end + 1;
        }
        m_engine.SetValue(key, layout::ExtensionName, RegType::Sz, Sz("." + f.extension));
        write.Commit();
        *done = "gave the content type " + f.contentType + " to ." + f.extension +
                " in the MIME database";
        return true;
      }
      case CheckKind::StaleDesktopDefault:
      case CheckKind::UnusedDesktopEntry:
      case CheckKind::WineLeftover:
        break;
    }
  } catch (const StoreError& e) {
    reason = e.what();
  }
  if (reason.empty()) {
    *done = "already mended: " + f.subject;
    return true;
  }
  *done = "not mended: " + f.subject + ": " + reason;
  return false;
}

}  // namespace kestrova
