#pragma once
// DesktopDatabases: the desktop's MIME types (shared-mime-info, through QMimeDatabase) and
// the applications that take them (desktop entries and mimeapps.list, through GIO).

#include "store/DesktopSnapshot.h"

namespace kestrova {

// Reads the databases as the desktop sees them now (XDG_DATA_HOME, XDG_DATA_DIRS,
// XDG_CONFIG_HOME...), in the user's language. Every MIME type comes with the extensions
// it owns: its simple "*.ext" patterns (lower case, several dots allowed) for which a file
// "x.ext" is matched to it by name. Applications come from GIO's default and full lists
// per type, for the types that own an extension (the others make no file type); an entry
// GIO does not offer (Hidden, missing program) is not there.
DesktopSnapshot ReadDesktopDatabases();

}  // namespace kestrova
