#include "platform/DesktopDatabases.h"

// GLib's headers first: they name struct members "signals", which Qt defines as a keyword.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QMimeDatabase>
#include <QMimeType>
#include <algorithm>
#include <map>
#include <memory>

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

class ApplicationReader {
 public:
  // The application's ID, recorded on first sight; empty when it offers no command line.
  std::string Add(GAppInfo* info) {
    std::string id = Text(g_app_info_get_id(info));
    if (id.empty()) return {};
    if (m_apps.count(id)) return id;
    DesktopApplication app;
    app.id = id;
    app.name = Text(g_app_info_get_name(info));
    app.exec = Text(g_app_info_get_commandline(info));
    if (G_IS_DESKTOP_APP_INFO(info)) {
      GDesktopAppInfo* desktop = G_DESKTOP_APP_INFO(info);
      if (g_desktop_app_info_get_is_hidden(desktop)) return {};
      app.desktopFile = Text(g_desktop_app_info_get_filename(desktop));
      app.icon = Text(GText(g_desktop_app_info_get_string(desktop, "Icon")).get());
      app.terminal = g_desktop_app_info_get_boolean(desktop, "Terminal");
    }
    if (const char* program = g_app_info_get_executable(info);
        program && *program && std::string_view(program).find('/') == std::string_view::npos) {
      app.programPath = Text(GText(g_find_program_in_path(program)).get());
    }
    m_apps.emplace(id, std::move(app));
    return id;
  }

  std::vector<DesktopApplication> Take() {
    std::vector<DesktopApplication> apps;
    for (auto& [id, app] : m_apps) apps.push_back(std::move(app));
    return apps;
  }

 private:
  std::map<std::string, DesktopApplication> m_apps;
};

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

DesktopSnapshot ReadDesktopDatabases() {
  DesktopSnapshot snapshot;
  const QMimeDatabase db;
  QList<QMimeType> types = db.allMimeTypes();
  std::sort(types.begin(), types.end(),
            [](const QMimeType& a, const QMimeType& b) { return a.name() < b.name(); });
  ApplicationReader apps;
  for (const QMimeType& type : types) {
    DesktopMimeType mime;
    mime.name = Text(type.name());
    mime.comment = Text(type.comment());
    mime.icon = Text(type.iconName());
    mime.extensions = OwnedExtensions(db, type);
    if (const QString preferred = type.preferredSuffix(); IsSimpleSuffix(preferred))
      mime.preferredExtension = Text(preferred);

    // GIO loads each application's desktop file anew for every type it is asked about:
    // only the types that become file types (those owning an extension) need applications.
    if (!mime.extensions.empty()) {
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
    snapshot.mimeTypes.push_back(std::move(mime));
  }
  snapshot.applications = apps.Take();
  snapshot.terminal = FindTerminal();
  return snapshot;
}

}  // namespace kestrova
