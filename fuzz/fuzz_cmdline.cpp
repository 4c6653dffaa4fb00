// The Windows command-line splitter on hostile text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/WindowsCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  std::size_t total = 0;
  for (const auto& arg : kestrova::SplitWindowsCommandLine(line)) total += arg.size();
  // Splitting never makes text: the arguments hold at most the line's bytes.
  if (total > size) __builtin_trap();
  return 0;
}
