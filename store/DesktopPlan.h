#pragma once
// What the desktop should know about one extension, worked out from the store and from a
// view of the desktop's own databases: a plan, with no files touched.

#include <functional>
#include <string>

namespace kestrova {

class AssocStore;

// One extension as the store holds it.
struct ExtensionData {
  std::string ext;  // without its dot
  bool exists = false;
  std::string contentType;
  std::string progId;
  std::string typeName;     // the file type's description
  std::string icon;         // the file type's DefaultIcon, as stored
  std::string openCommand;  // the default action's command; empty when there is none
};

// Reads an extension the way the main window shows it: the default action is the one the
// "Shell" key names, else its first action.
ExtensionData ReadExtensionData(AssocStore& store, const std::string& ext);

// The desktop's answers the plan needs, without Kestrova's own additions.
struct SystemView {
  // The MIME type the desktop gives "x.<ext>", empty when none (or only the generic one).
  std::function<std::string(const std::string& ext)> typeForExtension;
  // Whether the desktop defines the MIME type.
  std::function<bool(const std::string& type)> knowsType;
  // The installed application (desktop file ID) whose command is exactly this Exec value,
  // empty when none.
  std::function<std::string(const std::string& exec)> applicationFor;
};

struct DesktopPlan {
  std::string ext;
  std::string progId;  // the file type it names, for finding its extensions again
  // Nothing of the extension stays on the desktop (it is gone from the store).
  bool remove = false;
  std::string mimeType;
  // The desktop's own type for the extension, as the view answered.
  std::string systemType;
  // Whether Kestrova's MIME package must name "*.<ext>" for mimeType, and with what.
  bool ownGlob = false;
  std::string comment;     // only for a type the desktop does not define
  std::string subClassOf;  // the desktop's own type for the extension, which ours must beat
  // The default application for mimeType: an installed one, or Kestrova's own entry.
  std::string appId;
  bool ownEntry = false;
  std::string entryName;
  std::string entryIcon;
  std::string entryExec;
  // Why the command is not applied (empty when it is, or when there is none).
  std::string skipped;
};

// Our own type for an extension the store gives none and the desktop does not know.
std::string OwnMimeType(const std::string& ext);
// The desktop file ID of Kestrova's entry for a file type.
std::string OwnEntryId(const std::string& progId);
// A DefaultIcon value ("file,index") as a desktop entry's Icon: an absolute image file or
// a theme name; empty for what a desktop cannot show (Windows paths, .ico/.exe indexes).
std::string EntryIcon(const std::string& defaultIcon);

DesktopPlan PlanExtension(const ExtensionData& data, const SystemView& system);

}  // namespace kestrova
