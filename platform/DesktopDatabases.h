#pragma once
// DesktopDatabases: the desktop's MIME types (shared-mime-info, through QMimeDatabase) and
// the applications that take them (desktop entries and mimeapps.list, through GIO).

#include <string>
#include <vector>

#include "store/DesktopSnapshot.h"

namespace kestrova {

// Reads the databases as the desktop sees them now (XDG_DATA_HOME, XDG_DATA_DIRS,
// XDG_CONFIG_HOME...), in the user's language. Every MIME type comes with the extensions
// it owns: its simple "*.ext" patterns (lower case, several dots allowed) for which a file
// "x.ext" is matched to it by name. Applications come from GIO's default and full lists
// per type, for the types that own an extension (the others make no file type); an entry
// GIO does not offer (Hidden, missing program) is not there. GIO's lists are worked out
// from its association files read once (GIO itself loads every entry anew for every type
// it is asked about); without a mime.cache, where those rules do not hold, GIO is asked
// type by type.
DesktopSnapshot ReadDesktopDatabases();

// The default and all applications of each named type (an alias is asked as it is, as GIO
// is asked), found as ReadDesktopDatabases finds them; `fromTables` tells whether the
// files were read once (true) or GIO was asked type by type. Tests hold it against GIO.
std::vector<DesktopMimeType> ReadDesktopApplications(const std::vector<std::string>& types,
                                                     bool* fromTables = nullptr);

}  // namespace kestrova
