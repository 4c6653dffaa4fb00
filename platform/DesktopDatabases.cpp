#include "platform/DesktopDatabases.h"

// GLib's headers first: they name struct members "signals", which Qt defines as a keyword.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QMimeDatabase>
#include <QMimeType>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kestrova {

namespace {

std::string Text(const QString& text) { return text.toUtf8().toStdString(); }

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

struct GFree {
  void operator()(char* text) const { g_free(text); }
};
using GText = std::unique_ptr<char, GFree>;

bool IsSimpleSuffix(const QString& suffix) {
  return !suffix.isEmpty() && !suffix.contains(u'*') && !suffix.contains(u'?') &&
         !suffix.contains(u'[') && !suffix.startsWith(u'.') && !suffix.endsWith(u'.');
}

// The extensions of the type that the desktop, given only a name "x.ext", gives to it.
// QMimeDatabase decides by the shared-mime-info weights and pattern lengths, the same
// rules the desktop's file managers apply.
std::vector<std::string> OwnedExtensions(const QMimeDatabase& db, const QMimeType& type) {
  std::vector<std::string> owned;
  for (const QString& pattern : type.globPatterns()) {
    if (!pattern.startsWith(QStringLiteral("*."))) continue;  // literal names, other wildcards
    const QString suffix = pattern.mid(2).toLower();
    if (!IsSimpleSuffix(suffix)) continue;
    const std::string ext = Text(suffix);
    if (std::find(owned.begin(), owned.end(), ext) != owned.end()) continue;
    if (db.mimeTypeForFile(QStringLiteral("x.") + suffix, QMimeDatabase::MatchExtension) != type)
      continue;
    owned.push_back(ext);
  }
  return owned;
}

// The few properties the import takes from a loaded entry.
DesktopApplication Describe(const std::string& id, GAppInfo* info) {
  DesktopApplication app;
  app.id = id;
  app.name = Text(g_app_info_get_name(info));
  app.exec = Text(g_app_info_get_commandline(info));
  if (G_IS_DESKTOP_APP_INFO(info)) {
    GDesktopAppInfo* desktop = G_DESKTOP_APP_INFO(info);
    app.desktopFile = Text(g_desktop_app_info_get_filename(desktop));
    app.icon = Text(GText(g_desktop_app_info_get_string(desktop, "Icon")).get());
    app.terminal = g_desktop_app_info_get_boolean(desktop, "Terminal");
  }
  if (const char* program = g_app_info_get_executable(info);
      program && *program && std::string_view(program).find('/') == std::string_view::npos) {
    app.programPath = Text(GText(g_find_program_in_path(program)).get());
  }
  return app;
}

bool IsHidden(GAppInfo* info) {
  return G_IS_DESKTOP_APP_INFO(info) && g_desktop_app_info_get_is_hidden(G_DESKTOP_APP_INFO(info));
}

class ApplicationReader {
 public:
  // The application's ID, recorded on first sight; empty when it offers no command line.
  std::string Add(GAppInfo* info) {
    std::string id = Text(g_app_info_get_id(info));
    if (id.empty()) return {};
    if (m_apps.count(id)) return id;
    if (IsHidden(info)) return {};
    m_apps.emplace(id, Describe(id, info));
    return id;
  }
  void Add(const std::string& id, GAppInfo* info) {
    if (!m_apps.count(id)) m_apps.emplace(id, Describe(id, info));
  }

  std::vector<DesktopApplication> Take() {
    std::vector<DesktopApplication> apps;
    for (auto& [id, app] : m_apps) apps.push_back(std::move(app));
    return apps;
  }

 private:
  std::map<std::string, DesktopApplication> m_apps;
};

// Asking GIO type by type: right on any desktop, but GIO loads every application's entry
// anew for every type it is asked about (about 4,600 loads for 300 entries on a desktop of
// 1,000 types). Used only when the tables below cannot be read.
void AskGioPerType(DesktopMimeType& mime, ApplicationReader& apps) {
  GList* all = g_app_info_get_all_for_type(mime.name.c_str());
  for (GList* item = all; item; item = item->next) {
    const std::string id = apps.Add(G_APP_INFO(item->data));
    if (!id.empty() && std::find(mime.applications.begin(), mime.applications.end(), id) ==
                           mime.applications.end())
      mime.applications.push_back(id);
  }
  if (GAppInfo* def = g_app_info_get_default_for_type(mime.name.c_str(), FALSE)) {
    mime.defaultApplication = apps.Add(def);
    g_object_unref(def);
  }
  g_list_free_full(all, g_object_unref);
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The MIME aliases and parents as GIO's xdgmime takes them: from the mime.cache files of
// the user's and the system's data folders only (once one exists, GIO ignores the rest).
class MimeCaches {
 public:
  // False when no folder has a cache GIO would read, or one cannot be read as one.
  bool Load() {
    std::vector<std::string> dirs{std::string(g_get_user_data_dir()) + "/mime"};
    for (const char* const* dir = g_get_system_data_dirs(); *dir; ++dir)
      dirs.push_back(std::string(*dir) + "/mime");
    bool any = false;
    for (const std::string& dir : dirs) {
      gchar* bytes = nullptr;
      gsize size = 0;
      if (!g_file_get_contents((dir + "/mime.cache").c_str(), &bytes, &size, nullptr)) continue;
      const std::string_view cache(bytes, size);
      const int read = Read(cache);
      g_free(bytes);
      if (read < 0) return false;
      any = any || read > 0;
    }
    return any;
  }

  // One step, as GIO unaliases: the first cache that knows the alias decides.
  const std::string& Unalias(const std::string& type) const {
    const auto it = m_aliases.find(type);
    return it == m_aliases.end() ? type : it->second;
  }
  const std::vector<std::string>& Parents(const std::string& type) const {
    static const std::vector<std::string> kNone;
    const auto it = m_parents.find(Unalias(type));
    return it == m_parents.end() ? kNone : it->second;
  }

 private:
  // 1 when read, 0 when GIO would not take it as a cache (another version), -1 when damaged.
  int Read(std::string_view cache) {
    const auto u16 = [&](size_t at) {
      return static_cast<unsigned>(static_cast<unsigned char>(cache[at]) << 8 |
                                   static_cast<unsigned char>(cache[at + 1]));
    };
    const auto u32 = [&](size_t at, uint32_t& out) {
      if (at > cache.size() || cache.size() - at < 4) return false;
      out = 0;
      for (size_t i = 0; i < 4; ++i) out = out << 8 | static_cast<unsigned char>(cache[at + i]);
      return true;
    };
    const auto text = [&](uint32_t at, std::string& out) {
      const size_t end = at < cache.size() ? cache.find('\0', at) : std::string_view::npos;
      if (end == std::string_view::npos) return false;
      out.assign(cache.substr(at, end - at));
      return true;
    };
    if (cache.size() < 12) return -1;
    if (u16(0) != 1 || u16(2) < 1 || u16(2) > 2) return 0;
    uint32_t aliasList = 0, parentList = 0, count = 0;
    if (!u32(4, aliasList) || !u32(8, parentList) || !u32(aliasList, count)) return -1;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t aliasAt = 0, typeAt = 0;
      std::string alias, type;
      if (!u32(aliasList + 4 + 8ull * i, aliasAt) || !u32(aliasList + 8 + 8ull * i, typeAt) ||
          !text(aliasAt, alias) || !text(typeAt, type))
        return -1;
      m_aliases.emplace(std::move(alias), std::move(type));
    }
    if (!u32(parentList, count)) return -1;
    std::unordered_set<std::string> seen;  // GIO takes a type's first entry in each cache
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t typeAt = 0, listAt = 0, parents = 0;
      std::string type;
      if (!u32(parentList + 4 + 8ull * i, typeAt) || !u32(parentList + 8 + 8ull * i, listAt) ||
          !text(typeAt, type) || !u32(listAt, parents))
        return -1;
      if (!seen.insert(type).second) continue;
      std::vector<std::string>& known = m_parents[type];
      for (uint32_t k = 0; k < parents; ++k) {
        uint32_t parentAt = 0;
        std::string parent;
        if (!u32(listAt + 4 + 4ull * k, parentAt) || !text(parentAt, parent)) return -1;
        if (!Contains(known, parent)) known.push_back(std::move(parent));
      }
    }
    return 1;
  }

  std::unordered_map<std::string, std::string> m_aliases;
  std::unordered_map<std::string, std::vector<std::string>> m_parents;
};

// GIO's association tables (gdesktopappinfo.c in GLib 2.74), read once instead of once per
// type: the same folders in the same order, the same files in each, the same merging, so
// the answers are GIO's. tests/platform/test_desktopassociations holds them against GIO.
class AssociationTables {
 public:
  bool Load() {
    if (!m_mime.Load()) return false;
    m_desktops = CurrentDesktops();
    AddDir(g_get_user_config_dir(), true);
    for (const char* const* dir = g_get_system_config_dirs(); *dir; ++dir) AddDir(*dir, true);
    AddDir(std::string(g_get_user_data_dir()) + "/applications", false);
    for (const char* const* dir = g_get_system_data_dirs(); *dir; ++dir)
      AddDir(std::string(*dir) + "/applications", false);
    return true;
  }

  // g_app_info_get_all_for_type: the entries of the type and its parents, loadable and
  // not hidden.
  std::vector<std::string> AllFor(const std::string& type) {
    std::vector<std::string> hits, blocked, all;
    for (const std::string& each : TypeChain(type))
      for (size_t dir = 0; dir < m_dirs.size(); ++dir) Lookup(dir, each, hits, blocked);
    for (const std::string& id : hits) {
      const Loaded& app = Load(id);
      if (app.info && !app.hidden) all.push_back(id);
    }
    return all;
  }

  // g_app_info_get_default_for_type: per type, most specific first, every folder's
  // defaults and then the associations; the first that loads wins, hidden or not.
  std::optional<std::string> DefaultFor(const std::string& type) {
    std::vector<std::string> results, blocked;
    for (const std::string& each : TypeChain(type)) {
      for (const Dir& dir : m_dirs) {
        const Tweaks* tweaks = dir.Find(each);
        if (!tweaks || !tweaks->defaults) continue;
        for (const std::string& id : *tweaks->defaults)
          if (!Contains(results, id)) results.push_back(id);
      }
      for (size_t dir = 0; dir < m_dirs.size(); ++dir) Lookup(dir, each, results, blocked);
      for (const std::string& id : results)
        if (Load(id).info) return id;
      results.clear();
    }
    return std::nullopt;
  }

  struct Loaded {
    GAppInfo* info = nullptr;
    bool hidden = false;
  };

  // The entry GIO gives for an ID: from the first folder whose file loads.
  const Loaded& Load(const std::string& id) {
    auto it = m_loaded.find(id);
    if (it != m_loaded.end()) return it->second;
    Loaded loaded;
    for (const Dir& dir : m_dirs) {
      const auto file = dir.apps.find(id);
      if (file == dir.apps.end()) continue;
      if (GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file->second.c_str())) {
        loaded.info = G_APP_INFO(info);
        loaded.hidden = g_desktop_app_info_get_is_hidden(info);
        break;
      }
    }
    return m_loaded.emplace(id, loaded).first->second;
  }

  ~AssociationTables() {
    for (auto& [id, loaded] : m_loaded)
      if (loaded.info) g_object_unref(loaded.info);
  }

 private:
  // A list GIO keeps per folder and type; unset until a file names the type.
  using List = std::optional<std::vector<std::string>>;
  struct Tweaks {
    List additions, removals, defaults;
  };
  struct Dir {
    std::string path;
    std::unordered_map<std::string, std::string> apps;  // ID -> file, every *.desktop below
    std::unordered_map<std::string, Tweaks> tweaks;     // by unaliased type
    const Tweaks* Find(const std::string& type) const {
      const auto it = tweaks.find(type);
      return it == tweaks.end() ? nullptr : &it->second;
    }
  };

  // XDG_CURRENT_DESKTOP's valid names, lower case.
  static std::vector<std::string> CurrentDesktops() {
    std::vector<std::string> names;
    const char* value = g_getenv("XDG_CURRENT_DESKTOP");
    const std::string_view all = value ? value : "";
    size_t start = 0;
    while (start <= all.size()) {
      const size_t end = std::min(all.find(':', start), all.size());
      std::string name(all.substr(start, end - start));
      const bool valid =
          !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
            return g_ascii_isalnum(c) || c == '-' || c == '_';
          });
      if (valid) {
        for (char& c : name) c = g_ascii_tolower(c);
        names.push_back(std::move(name));
      }
      start = end + 1;
    }
    return names;
  }

  // A list added to another as GIO merges them: a list's first value is taken whole; later
  // ones add what is neither there already nor blocked.
  static void Expand(List& list, std::vector<std::string> add, const List& blocked) {
    if (!list) {
      list = std::move(add);
      return;
    }
    for (std::string& id : add) {
      if ((blocked && Contains(*blocked, id)) || Contains(*list, id)) continue;
      list->push_back(std::move(id));
    }
  }

  static void ScanApps(std::unordered_map<std::string, std::string>& apps,
                       const std::string& dirname, const std::string& prefix) {
    GDir* dir = g_dir_open(dirname.c_str(), 0, nullptr);
    if (!dir) return;
    while (const char* base = g_dir_read_name(dir)) {
      const std::string name(base);
      const std::string path = dirname + "/" + name;
      if (name.ends_with(".desktop"))
        apps[prefix + name] = path;
      else if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR))
        ScanApps(apps, path, prefix + name + "-");
    }
    g_dir_close(dir);
  }

  enum class Group { Added, Removed, Defaults, Cache };

  void ReadGroup(Dir& dir, GKeyFile* file, const char* group, Group kind) {
    GStrv types = g_key_file_get_keys(file, group, nullptr, nullptr);
    if (!types) return;
    for (char** type = types; *type; ++type) {
      GStrv ids = g_key_file_get_string_list(file, group, *type, nullptr, nullptr);
      if (!ids) continue;
      std::vector<std::string> list(ids, ids + g_strv_length(ids));
      g_strfreev(ids);
      Tweaks& tweaks = dir.tweaks[m_mime.Unalias(*type)];
      switch (kind) {
        case Group::Added:
        case Group::Cache:
          Expand(tweaks.additions, std::move(list), tweaks.removals);
          break;
        case Group::Removed:
          Expand(tweaks.removals, std::move(list), tweaks.additions);
          break;
        case Group::Defaults:
          Expand(tweaks.defaults, std::move(list), std::nullopt);
          break;
      }
    }
    g_strfreev(types);
  }

  // A mimeapps.list; only one named plainly so may add and remove associations.
  void ReadList(Dir& dir, const std::string& path, bool mayTweak) {
    GKeyFile* file = g_key_file_new();
    if (g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) {
      if (mayTweak) {
        ReadGroup(dir, file, "Added Associations", Group::Added);
        ReadGroup(dir, file, "Removed Associations", Group::Removed);
      }
      ReadGroup(dir, file, "Default Applications", Group::Defaults);
    }
    g_key_file_unref(file);
  }

  void AddDir(const std::string& path, bool config) {
    Dir& dir = m_dirs.emplace_back();
    dir.path = path;
    if (!config) ScanApps(dir.apps, path, "");
    for (const std::string& desktop : m_desktops)
      ReadList(dir, path + "/" + desktop + "-mimeapps.list", false);
    ReadList(dir, path + "/mimeapps.list", true);
    if (config) return;
    ReadList(dir, path + "/defaults.list", false);  // GLib's own older name, still read
    GKeyFile* cache = g_key_file_new();
    if (g_key_file_load_from_file(cache, (path + "/mimeinfo.cache").c_str(), G_KEY_FILE_NONE,
                                  nullptr))
      ReadGroup(dir, cache, "MIME Cache", Group::Cache);
    g_key_file_unref(cache);
  }

  // The type unaliased, then its parents breadth first, each once.
  std::vector<std::string> TypeChain(const std::string& type) const {
    std::vector<std::string> chain{m_mime.Unalias(type)};
    for (size_t i = 0; i < chain.size(); ++i) {
      const std::string own = m_mime.Unalias(chain[i]);
      std::vector<std::string> next{own};
      for (const std::string& parent : m_mime.Parents(own)) next.push_back(parent);
      for (std::string& each : next)
        if (!Contains(chain, each)) chain.push_back(std::move(each));
    }
    return chain;
  }

  // An ID is masked in a folder when a folder before it has a file of that ID.
  bool Masked(size_t dir, const std::string& id) const {
    for (size_t before = 0; before < dir; ++before)
      if (m_dirs[before].apps.count(id)) return true;
    return false;
  }

  void Lookup(size_t dir, const std::string& type, std::vector<std::string>& hits,
              std::vector<std::string>& blocked) const {
    const Tweaks* tweaks = m_dirs[dir].Find(type);
    if (!tweaks) return;
    const auto eligible = [&](const std::string& id) {
      return !Masked(dir, id) && !Contains(blocked, id) && !Contains(hits, id);
    };
    if (tweaks->additions)
      for (const std::string& id : *tweaks->additions)
        if (eligible(id)) hits.push_back(id);
    if (tweaks->removals)
      for (const std::string& id : *tweaks->removals)
        if (eligible(id)) blocked.push_back(id);
  }

  MimeCaches m_mime;
  std::vector<std::string> m_desktops;
  std::vector<Dir> m_dirs;
  std::unordered_map<std::string, Loaded> m_loaded;
};

void FromTables(DesktopMimeType& mime, AssociationTables& tables, ApplicationReader& apps) {
  for (const std::string& id : tables.AllFor(mime.name)) {
    apps.Add(id, tables.Load(id).info);
    mime.applications.push_back(id);
  }
  if (const std::optional<std::string> id = tables.DefaultFor(mime.name)) {
    const AssociationTables::Loaded& app = tables.Load(*id);
    if (!app.hidden) {  // GIO may name a hidden entry as the default; it is not imported
      apps.Add(*id, app.info);
      mime.defaultApplication = *id;
    }
  }
}

// The terminal a Terminal=true application runs in: Debian's chosen terminal, else the
// ones GIO knows, each with the switch that runs the rest of the line.
std::vector<std::string> FindTerminal() {
  static constexpr std::pair<const char*, const char*> kTerminals[] = {
      {"x-terminal-emulator", "-e"},
      {"gnome-terminal", "--"},
      {"mate-terminal", "-x"},
      {"xfce4-terminal", "-x"},
      {"tilix", "-e"},
      {"konsole", "-e"},
      {"xterm", "-e"}};
  for (const auto& [name, runs] : kTerminals) {
    if (GText path{g_find_program_in_path(name)}) return {path.get(), runs};
  }
  return {};
}

}  // namespace

std::vector<DesktopMimeType> ReadDesktopApplications(const std::vector<std::string>& types,
                                                     bool* fromTables) {
  ApplicationReader apps;
  auto tables = std::make_unique<AssociationTables>();
  if (!tables->Load()) tables.reset();
  if (fromTables) *fromTables = tables != nullptr;
  std::vector<DesktopMimeType> result;
  for (const std::string& type : types) {
    DesktopMimeType& mime = result.emplace_back();
    mime.name = type;
    if (tables)
      FromTables(mime, *tables, apps);
    else
      AskGioPerType(mime, apps);
  }
  return result;
}

DesktopSnapshot ReadDesktopDatabases() {
  DesktopSnapshot snapshot;
  const QMimeDatabase db;
  QList<QMimeType> types = db.allMimeTypes();
  std::sort(types.begin(), types.end(),
            [](const QMimeType& a, const QMimeType& b) { return a.name() < b.name(); });
  ApplicationReader apps;
  auto tables = std::make_unique<AssociationTables>();
  if (!tables->Load()) tables.reset();
  for (const QMimeType& type : types) {
    DesktopMimeType mime;
    mime.name = Text(type.name());
    mime.comment = Text(type.comment());
    mime.icon = Text(type.iconName());
    mime.extensions = OwnedExtensions(db, type);
    if (const QString preferred = type.preferredSuffix(); IsSimpleSuffix(preferred))
      mime.preferredExtension = Text(preferred);

    // Only the types that become file types (those owning an extension) need applications.
    if (!mime.extensions.empty()) {
      if (tables)
        FromTables(mime, *tables, apps);
      else
        AskGioPerType(mime, apps);
    }
    snapshot.mimeTypes.push_back(std::move(mime));
  }
  snapshot.applications = apps.Take();
  snapshot.terminal = FindTerminal();
  return snapshot;
}

}  // namespace kestrova
