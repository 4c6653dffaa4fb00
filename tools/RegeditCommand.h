#pragma once
// kestrova-regedit's command line as an object: arguments and streams in, exit status out.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "store/DesktopSnapshot.h"
#include "store/RegistryEngine.h"

namespace kestrova {

// Exit statuses of kestrova-regedit.
constexpr int kExitOk = 0;
constexpr int kExitSkipped = 1;  // imported, but some lines were skipped
constexpr int kExitFailed = 2;   // usage, unreadable file, refused file, store failure

// Runs `kestrova-regedit args...` (args without the program name) against AcquireEngine().
// /e FILE [KEY] exports, /s [--strict] FILE imports, --import-desktop refreshes the file
// types from the desktop's databases; switches may start with / or - in any
// case. Returns 0, 1 (imported with skipped lines) or 2 (usage, file or store failure).
int RunRegedit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// /s: imports the file in one write transaction. Every reported line goes to `err` as
// FILE:LINE: reason while the file is read. Returns kExitOk, kExitSkipped, or kExitFailed
// with the store unchanged.
int ImportRegFile(RegistryEngine& engine, const std::string& path, bool strict, std::ostream& err);

// --import-desktop: refreshes the store from the desktop (store/DesktopImport), leaving
// what the user made or changed; applications left out are named on `err`, a summary goes
// to `out`. Returns kExitOk; a store failure throws StoreError with the store unchanged.
int ImportFromDesktop(RegistryEngine& engine, const DesktopSnapshot& desktop, std::ostream& out,
                      std::ostream& err);

// /e: exports `key` (a full root name or HKCR/HKCU, then a path) and its subtree, or with no
// key the whole store, as REGEDIT4. Returns kExitOk, or kExitFailed with no file written.
int ExportRegFile(RegistryEngine& engine, const std::string& path,
                  const std::optional<std::string>& key, std::ostream& err);

}  // namespace kestrova
