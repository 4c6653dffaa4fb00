#pragma once
// DesktopSnapshot: what the desktop's databases say about file types and applications, as
// plain data. platform/DesktopDatabases reads it from the machine; the import
// (store/DesktopImport) turns it into keys, and tests make one by hand.

#include <string>
#include <vector>

namespace kestrova {

// An application as its desktop entry describes it.
struct DesktopApplication {
  std::string id;           // the desktop-file ID, e.g. "org.gnome.gedit.desktop"
  std::string name;         // the Name in the user's language
  std::string exec;         // the Exec value, string escapes undone
  std::string icon;         // the Icon value
  std::string desktopFile;  // where the entry lies
  // The full path of a program the Exec line names without a folder; empty when unknown.
  std::string programPath;
  bool terminal = false;  // Terminal=true: runs in a terminal
};

// A MIME type and the applications that take it.
struct DesktopMimeType {
  std::string name;     // canonical, e.g. "application/pdf"
  std::string comment;  // the description in the user's language
  std::string icon;     // the icon's theme name
  // The extensions (no dot, lower case) this type owns: its simple "*.ext" patterns for
  // which it is also the type the desktop picks for a file "x.ext". May be empty.
  std::vector<std::string> extensions;
  // The type's preferred extension (no dot), for the Content Type database; may be empty.
  std::string preferredExtension;
  // The desktop-file ID of the default application; empty when there is none. The reader
  // fills this and the list below only for types that own an extension.
  std::string defaultApplication;
  // Every application that takes the type, in the desktop's order (the default among them).
  std::vector<std::string> applications;
};

struct DesktopSnapshot {
  std::vector<DesktopMimeType> mimeTypes;
  std::vector<DesktopApplication> applications;
  // The desktop's terminal and its switch that runs a command ("-e"), for applications
  // with Terminal=true; empty when there is none, and such applications are left out.
  std::vector<std::string> terminal;

  // Whether the desktop knows any application for any type; a desktop without one is too
  // empty to start a store from.
  bool HasAssociations() const {
    for (const DesktopMimeType& type : mimeTypes)
      if (!type.applications.empty() || !type.defaultApplication.empty()) return true;
    return false;
  }
};

}  // namespace kestrova
