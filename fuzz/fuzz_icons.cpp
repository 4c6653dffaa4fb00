// The icon source's .ico and PE readers on hostile bytes.

#include <QByteArrayView>
#include <cstddef>
#include <cstdint>

#include "platform/IconSourceDesktop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the index: positions and resource identifiers alike.
  const int32_t index = static_cast<int8_t>(data[0]);
  const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1),
                             static_cast<qsizetype>(size - 1));
  kestrova::CountIconsInBytes(bytes);
  if (auto icons = kestrova::IconsFromBytes(bytes, index)) {
    if (icons->large.width() != 32 || icons->small.width() != 16) __builtin_trap();
  }
  return 0;
}
