// The store's path handling: hostile paths and names through AssocStore on a real store.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/SqliteStore.h"
#include "store/AssocStore.h"
#include "store/RegistryRules.h"

namespace {

kestrova::AssocStore& Store() {
  static bool ready = [] {
    const std::string path = "/tmp/kestrova-fuzz-" + std::to_string(getpid()) + ".db";
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
    kestrova::UseSqliteStore(path);
    return true;
  }();
  (void)ready;
  static kestrova::AssocStore store;
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  // The input holds a path and a value name, split at the first '='.
  const auto eq = text.find('=');
  const std::string path = text.substr(0, eq);
  const std::string name = eq == std::string::npos ? std::string() : text.substr(eq + 1);

  std::vector<std::string_view> parts;
  kestrova::SplitKeyPath(path, parts);
  kestrova::FoldName(path);
  kestrova::CharCount(path);

  auto& store = Store();
  store.SetRoot(data[0] & 1 ? kestrova::RootKey::ClassesRoot : kestrova::RootKey::CurrentUser);
  try {
    if (store.OpenPath(path, (data[0] & 2) != 0)) {
      store.PutText(name, path);
      if (store.GetText(name) != path.substr(0, path.find('\0'))) __builtin_trap();
      store.KindOfValue(name);
      store.SizeOfValue(name);
    }
    store.HasPath(path);
    std::vector<std::string> list;
    store.ListSubkeys(list);
    if (data[0] & 4) store.CreatePath(path);
  } catch (const kestrova::ERegistryException&) {
    // The contract's failures are expected; anything else is a finding.
  }
  // Keep the store small: remove what this input made at the top.
  if (!parts.empty()) store.RemovePath("\\" + std::string(parts.front()));
  store.ClosePath();
  return 0;
}
