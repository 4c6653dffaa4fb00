#pragma once
// Advice to the kernel on large buffers.

#include <cstddef>

namespace kestrova {

// Asks for huge pages behind a large buffer that is about to be filled: where a page fault
// is dear (virtual machines), faulting in tens of megabytes page by page can cost more than
// filling them. Only what lies wholly inside [data, data + bytes) is advised; small buffers
// and systems without the advice are left alone.
void AdviseLargeBuffer(const void* data, size_t bytes);

}  // namespace kestrova
