// A Wine registry file on hostile bytes: it must read without harm, write back unchanged
// when nothing changed, and after a change read back with that change.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/WineRegistryFile.h"
#include "store/RegistryEngine.h"

namespace {

uint64_t FixedClock() { return 133000000000000000ULL; }

// Reads every key and value below node, at most `budget` keys.
void Walk(kestrova::wine::RegistryFile& f, uint32_t node, int& budget) {
  if (--budget < 0) return;
  for (const auto& v : f.Values(node)) {
    if (v.name.size() > 1000000) std::abort();
  }
  f.IsLink(node);
  const std::vector<uint32_t> kids = f.Children(node);
  for (const uint32_t c : kids) Walk(f, c, budget);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using kestrova::wine::RegistryFile;
  kestrova::wine::SetClock(&FixedClock);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    RegistryFile f(bytes, "fuzz.reg");
    int budget = 2000;
    Walk(f, f.Root(), budget);
    if (f.Serialize() != bytes) std::abort();  // nothing changed: byte for byte
    // One change in the first key and one new key; both must read back.
    uint32_t first = f.Root();
    if (!f.Children(first).empty()) first = f.Children(first).front();
    f.SetValue(first, "fuzz", kestrova::RegType::Sz, std::string("value\0", 6));
    const uint32_t made = f.CreateChild(f.Root(), "Fuzz Key");
    f.SetValue(made, "", kestrova::RegType::Binary, std::string(40, '\x7f'));
    const std::string out = f.Serialize();
    RegistryFile again(out, "again.reg");
    const uint32_t back = again.FindChild(again.Root(), "fuzz key");
    if (back == RegistryFile::kNone) std::abort();
    bool found = false;
    for (const auto& v : again.Values(back))
      found = found || (v.name.empty() && v.data == std::string(40, '\x7f'));
    if (!found) std::abort();
  } catch (const kestrova::StoreOpenError&) {
    // Not a Wine registry file: refused, as Wine refuses it.
  }
  return 0;
}
