#include "store/MemoryAdvice.h"

#include <sys/mman.h>

#include <cstdint>

namespace kestrova {

void AdviseLargeBuffer(const void* data, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr size_t kHugePage = size_t{2} << 20;
  if (bytes < 2 * kHugePage) return;
  // madvise() wants whole pages and does not write through the pointer.
  auto* begin = static_cast<char*>(const_cast<void*>(data));
  const size_t skip = (kHugePage - reinterpret_cast<uintptr_t>(begin) % kHugePage) % kHugePage;
  if (bytes <= skip) return;
  const size_t length = (bytes - skip) / kHugePage * kHugePage;
  // Only advice: a kernel that refuses it leaves the buffer as it was.
  if (length > 0) madvise(begin + skip, length, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace kestrova
