// "DefaultIcon" values and icon indexes on hostile text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/IconLookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const kestrova::IconLocation location = kestrova::ParseDefaultIcon(text);
  // The file part is always a prefix of the value.
  if (text.compare(0, location.file.size(), location.file) != 0) __builtin_trap();
  kestrova::ParseIconIndex(text);
  return 0;
}
