#pragma once
// DesktopImport: the desktop's file types and applications (a DesktopSnapshot) written as
// extensions, file types and the content-type database, without overwriting the user's edits.

#include <string>
#include <vector>

#include "store/DesktopSnapshot.h"
#include "store/RegistryEngine.h"

namespace kestrova {

struct DesktopImportReport {
  int written = 0;    // keys written or rewritten
  int unchanged = 0;  // imported keys the desktop still describes the same way
  int kept = 0;       // keys left alone because the user made or changed them
  int removed = 0;    // imported, untouched keys the desktop no longer has
  // Applications left out, each "ID: reason".
  std::vector<std::string> skipped;
};

// Writes the snapshot into the store in one transaction. The import owns a key (an
// extension, a file type, a content type) when its last import wrote it and it still holds
// exactly what was written; the digests of what it wrote are kept under
// layout::DesktopImportKey. Keys it owns are rewritten (or deleted when the desktop no
// longer has them); keys that are missing and were never imported are created; every other
// key, whether the user made it, changed it or deleted it, is left as it is.
// Throws StoreError; the store is then unchanged.
DesktopImportReport ImportDesktop(RegistryEngine& engine, const DesktopSnapshot& snapshot);

// The digest the import keeps for a key and its subtree: its values (names, types, data)
// and subkeys by name. Exposed for tests.
std::string KeyDigest(RegistryEngine& engine, KeyRef key);

}  // namespace kestrova
