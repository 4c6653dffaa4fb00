#include "store/DesktopImport.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "store/AssocLayout.h"
#include "store/ExecToCommand.h"
#include "store/RegistryRules.h"

namespace kestrova {

namespace {

// A key to be written: its values in order and its subkeys.
struct Node {
  std::string name;
  std::string fold;  // the name folded, kept so that lookups and sorting fold it once
  std::vector<RegValue> values;
  std::vector<Node> children;

  // Text is stored with its terminating NUL, as the registry and the rest of the store keep it.
  void Set(std::string_view valueName, std::string text) {
    text.push_back('\0');
    values.push_back({std::string(valueName), RegType::Sz, std::move(text)});
  }

  // The subkey at a relative path ("Shell\open\command"), made when missing.
  Node& At(std::string_view path) {
    std::vector<std::string_view> parts;
    SplitKeyPath(path, parts);
    Node* node = this;
    for (std::string_view part : parts) {
      const std::string folded = FoldName(part);
      auto it = std::find_if(node->children.begin(), node->children.end(),
                             [&](const Node& child) { return child.fold == folded; });
      if (it == node->children.end()) {
        node->children.push_back({std::string(part), folded, {}, {}});
        it = std::prev(node->children.end());
      }
      node = &*it;
    }
    return *node;
  }
};

// One key the import owns as a whole: its path under HKEY_CLASSES_ROOT and its content.
struct Unit {
  std::string path;
  Node node;
};

// FNV-1a, 64 bits: enough to tell an edited key from an untouched one; nobody gains by
// forging a collision with their own edits.
class Digest {
 public:
  void Add(std::string_view bytes) {
    for (unsigned char c : bytes) {
      m_hash ^= c;
      m_hash *= 0x100000001b3ULL;
    }
  }
  void AddNumber(uint64_t n) {
    for (int i = 0; i < 8; ++i) Add(std::string_view(reinterpret_cast<const char*>(&n) + i, 1));
  }
  void AddText(std::string_view text) {
    AddNumber(text.size());
    Add(text);
  }
  std::string Hex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 0; i < 16; ++i) out[15 - i] = kDigits[(m_hash >> (4 * i)) & 0xF];
    return out;
  }

 private:
  uint64_t m_hash = 0xcbf29ce484222325ULL;
};

void AddValue(Digest& digest, const RegValue& value) {
  digest.Add("V");
  digest.AddText(value.name);
  digest.AddNumber(value.type);
  digest.AddText(value.data);
}

// Children in the order the engine lists them: by folded name.
std::vector<const Node*> SortedChildren(const Node& node) {
  std::vector<const Node*> sorted;
  sorted.reserve(node.children.size());
  for (const Node& child : node.children) sorted.push_back(&child);
  std::sort(sorted.begin(), sorted.end(),
            [](const Node* a, const Node* b) { return a->fold < b->fold; });
  return sorted;
}

void AddNode(Digest& digest, const Node& node) {
  for (const RegValue& value : node.values) AddValue(digest, value);
  for (const Node* child : SortedChildren(node)) {
    digest.Add("K");
    digest.AddText(child->name);
    AddNode(digest, *child);
    digest.Add("E");
  }
}

std::string NodeDigest(const Node& node) {
  Digest digest;
  AddNode(digest, node);
  return digest.Hex();
}

void AddStoredKey(Digest& digest, RegistryEngine& engine, KeyRef key) {
  engine.VisitValues(key, [&](const RegValue& value) { AddValue(digest, value); });
  std::vector<ChildKey> children;
  engine.Children(key, children);
  for (const ChildKey& child : children) {
    digest.Add("K");
    digest.AddText(child.name);
    AddStoredKey(digest, engine, child.ref);
    digest.Add("E");
  }
}

void WriteNode(RegistryEngine& engine, KeyRef parent, const Node& node) {
  const KeyRef key = engine.CreateChild(parent, node.name);
  for (const RegValue& value : node.values)
    engine.SetValue(key, value.name, value.type, value.data);
  for (const Node& child : node.children) WriteNode(engine, key, child);
}

// The key a path names below `root`, made when `create`; nullopt when it is missing.
std::optional<KeyRef> Walk(RegistryEngine& engine, KeyRef root, std::string_view path,
                           bool create) {
  std::vector<std::string_view> parts;
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!SplitKeyPath(path, parts)) return std::nullopt;
  KeyRef key = root;
  for (std::string_view part : parts) {
    if (create) {
      key = engine.CreateChild(key, part);
    } else if (auto child = engine.FindChild(key, part)) {
      key = *child;
    } else {
      return std::nullopt;
    }
  }
  return key;
}

// A path split into its parent's path and its last name.
std::pair<std::string_view, std::string_view> SplitLast(std::string_view path) {
  const size_t cut = path.rfind('\\');
  return {path.substr(0, cut), path.substr(cut + 1)};
}

// The part of `full` below `base` (both layout paths, `full` under `base`).
std::string_view Below(std::string_view full, std::string_view base) {
  return full.substr(std::min(full.size(), base.size() + 1));
}

const std::vector<std::string> kNoExtensions;

// The extension the content-type database names for a type. The desktop's preferred one may
// be another type's (".py" is text/x-python's, while text/x-python3 prefers it too); then the
// first extension the type owns is named, so that the database never gives the type to an
// extension that does not have it.
std::string DatabaseExtension(const std::string& preferred, const std::vector<std::string>& owned) {
  if (owned.empty()) return preferred;
  for (const std::string& ext : owned) {
    if (FoldName(ext) == FoldName(preferred)) return preferred;
  }
  return owned.front();
}

class UnitBuilder {
 public:
  explicit UnitBuilder(const DesktopSnapshot& snapshot, DesktopImportReport& report)
      : m_report(report), m_terminal(snapshot.terminal) {
    for (const DesktopApplication& app : snapshot.applications) m_apps.emplace(app.id, &app);
  }

  void AddMimeType(const DesktopMimeType& type) {
    // A name that cannot be one key (a backslash would address a deeper one) is left out.
    if (!IsValidKeyName(type.name)) return;
    std::vector<std::string> extKeys;
    std::vector<std::string> owned;
    for (const std::string& ext : type.extensions) {
      if (!IsValidKeyName("." + ext)) continue;
      const std::string extKey = layout::ExtKey(ext);
      if (m_seen.count(FoldName(extKey))) continue;
      extKeys.push_back(extKey);
      owned.push_back(ext);
    }
    const std::string progId = layout::DesktopProgId(type.name);
    const std::string progIdKey = layout::ProgIdKey(progId);
    const bool writesExtensions =
        !extKeys.empty() && IsValidKeyName(progId) && !m_seen.count(FoldName(progIdKey));

    const std::string typeKey = layout::ContentTypeKey(type.name);
    if (m_seen.insert(FoldName(typeKey)).second) {
      Unit unit{typeKey, {}};
      const std::string extension =
          DatabaseExtension(type.preferredExtension, writesExtensions ? owned : kNoExtensions);
      if (!extension.empty()) unit.node.Set(layout::ExtensionName, "." + extension);
      m_units.push_back(std::move(unit));
    }

    if (!writesExtensions) return;
    m_seen.insert(FoldName(progIdKey));

    for (const std::string& extKey : extKeys) {
      m_seen.insert(FoldName(extKey));
      Unit unit{extKey, {}};
      unit.node.Set(layout::DefaultValueName, progId);
      unit.node.Set(layout::ContentTypeName, type.name);
      m_units.push_back(std::move(unit));
    }

    Unit unit{progIdKey, {}};
    unit.node.Set(layout::DefaultValueName, type.comment.empty() ? type.name : type.comment);
    if (!type.icon.empty())
      unit.node.At(Below(layout::DefaultIconKey(progId), progIdKey))
          .Set(layout::DefaultValueName, type.icon);
    AddVerbs(type, progId, progIdKey, unit.node);
    m_units.push_back(std::move(unit));
  }

  std::vector<Unit>& Units() { return m_units; }

 private:
  // The application's command, or null (noted once) when its entry gives none.
  const std::string* Command(const std::string& id, const DesktopApplication** app) {
    const auto found = m_apps.find(id);
    if (found == m_apps.end()) return nullptr;
    *app = found->second;
    auto cached = m_commands.find(id);
    if (cached == m_commands.end()) {
      ExecEntry entry{(*app)->name, (*app)->icon, (*app)->desktopFile, {}, {}};
      const std::string path = (*app)->programPath;
      if (!path.empty())
        entry.findProgram = [path](const std::string&) -> const std::string& { return path; };
      ExecCommand command;
      if ((*app)->terminal && m_terminal.empty()) {
        command.error = "it runs in a terminal, and the desktop has none";
      } else {
        if ((*app)->terminal) entry.terminal = m_terminal;
        command = ExecToCommand((*app)->exec, entry);
      }
      if (!command.Ok()) m_report.skipped.push_back(id + ": " + command.error);
      cached = m_commands.emplace(id, std::move(command)).first;
    }
    return cached->second.Ok() ? &cached->second.command : nullptr;
  }

  void AddVerbs(const DesktopMimeType& type, const std::string& progId,
                const std::string& progIdKey, Node& node) {
    std::vector<std::string> ids;
    if (!type.defaultApplication.empty()) ids.push_back(type.defaultApplication);
    for (const std::string& id : type.applications)
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);

    bool haveOpen = false;
    std::set<std::string> verbs;
    for (const std::string& id : ids) {
      const DesktopApplication* app = nullptr;
      const std::string* command = Command(id, &app);
      if (!command) continue;
      const std::string verb = haveOpen ? layout::DesktopOpenWithVerb(id) : "open";
      if (!IsValidKeyName(verb) || !verbs.insert(FoldName(verb)).second) continue;
      Node& verbNode = node.At(Below(layout::VerbKey(progId, verb), progIdKey));
      verbNode.Set(layout::DefaultValueName, haveOpen ? "Open with " + app->name : "&Open");
      node.At(Below(layout::NewVerbCommandKey(progId, verb), progIdKey))
          .Set(layout::DefaultValueName, *command);
      haveOpen = true;
    }
    if (haveOpen) {
      Node& shell = node.At(Below(layout::ShellKey(progId), progIdKey));
      shell.Set(layout::DefaultValueName, "open");
      std::rotate(shell.values.begin(), std::prev(shell.values.end()), shell.values.end());
    }
  }

  DesktopImportReport& m_report;
  std::vector<std::string> m_terminal;
  std::unordered_map<std::string, const DesktopApplication*> m_apps;
  std::unordered_map<std::string, ExecCommand> m_commands;
  std::set<std::string> m_seen;  // folded unit paths
  std::vector<Unit> m_units;
};

}  // namespace

std::string KeyDigest(RegistryEngine& engine, KeyRef key) {
  Digest digest;
  AddStoredKey(digest, engine, key);
  return digest.Hex();
}

DesktopImportReport ImportDesktop(RegistryEngine& engine, const DesktopSnapshot& snapshot) {
  DesktopImportReport report;
  UnitBuilder builder(snapshot, report);
  for (const DesktopMimeType& type : snapshot.mimeTypes) builder.AddMimeType(type);

  EngineTransaction transaction(engine, true);
  const KeyRef classes = engine.Root(RootKey::ClassesRoot);
  const KeyRef user = engine.Root(RootKey::CurrentUser);

  // What the last import wrote: unit path -> digest, by folded path.
  std::map<std::string, std::pair<std::string, std::string>> records;
  if (auto marker = Walk(engine, user, layout::DesktopImportKey, false)) {
    engine.VisitValues(*marker, [&](const RegValue& value) {
      std::string digest = value.data;
      while (!digest.empty() && digest.back() == '\0') digest.pop_back();
      records.emplace(FoldName(value.name), std::make_pair(value.name, digest));
    });
  }

  std::map<std::string, KeyRef> parents;
  const auto parentOf = [&](std::string_view path) {
    const std::string parentPath(SplitLast(path).first);
    auto it = parents.find(parentPath);
    if (it == parents.end())
      it = parents.emplace(parentPath, *Walk(engine, classes, parentPath, true)).first;
    return it->second;
  };

  std::vector<std::pair<std::string, std::string>> owned;  // path, digest
  std::set<std::string> described;
  for (Unit& unit : builder.Units()) {
    const std::string folded = FoldName(unit.path);
    described.insert(folded);
    const auto [parentPath, leaf] = SplitLast(unit.path);
    unit.node.name = std::string(leaf);
    const std::string fresh = NodeDigest(unit.node);
    const auto record = records.find(folded);
    const KeyRef parent = parentOf(unit.path);
    const std::optional<KeyRef> key = engine.FindChild(parent, leaf);
    if (!key) {
      if (record != records.end()) {
        // Imported once and deleted since: the user's choice stands.
        ++report.kept;
        owned.emplace_back(record->second.first, record->second.second);
        continue;
      }
      WriteNode(engine, parent, unit.node);
      ++report.written;
      owned.emplace_back(unit.path, fresh);
      continue;
    }
    const std::string current = KeyDigest(engine, *key);
    if (current == fresh) {
      ++report.unchanged;
      owned.emplace_back(unit.path, fresh);
    } else if (record != records.end() && record->second.second == current) {
      engine.DeleteChild(parent, leaf);
      WriteNode(engine, parent, unit.node);
      ++report.written;
      owned.emplace_back(unit.path, fresh);
    } else {
      ++report.kept;
    }
  }
  // Keys the desktop no longer describes go when they are still as imported.
  for (const auto& [folded, record] : records) {
    if (described.count(folded)) continue;
    const auto [parentPath, leaf] = SplitLast(record.first);
    const std::optional<KeyRef> parent = Walk(engine, classes, parentPath, false);
    if (!parent) continue;
    const std::optional<KeyRef> key = engine.FindChild(*parent, leaf);
    if (key && KeyDigest(engine, *key) == record.second) {
      engine.DeleteChild(*parent, leaf);
      ++report.removed;
    }
  }

  const auto [markerParentPath, markerLeaf] = SplitLast(layout::DesktopImportKey);
  const KeyRef markerParent = *Walk(engine, user, markerParentPath, true);
  engine.DeleteChild(markerParent, markerLeaf);
  const KeyRef marker = engine.CreateChild(markerParent, markerLeaf);
  for (const auto& [path, digest] : owned)
    engine.SetValue(marker, path, RegType::Sz, digest + std::string(1, '\0'));
  transaction.Commit();
  return report;
}

}  // namespace kestrova
