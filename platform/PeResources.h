#pragma once
// The icon groups of Windows programs and libraries (PE32 and PE32+), read from bytes.

#include <QByteArrayView>
#include <cstdint>
#include <vector>

// Pure functions over the file's bytes. Every size, offset, count and RVA in the file is
// taken as hostile: the resource tree is walked exactly three levels deep (type, name,
// language), every read is checked against its section and the file, and a malformed file
// gives no icons rather than a crash.
namespace kestrova::pe {

// True when `file` has an MZ header pointing to a PE32 or PE32+ header.
bool LooksLikePe(QByteArrayView file);

// The number of icon groups, that is of the indexes >= 0 that name one; 0 when there are
// none or the file is malformed.
int CountIconGroups(QByteArrayView file);

// The images of one icon group as views into `file`, in the group's order, ready for the
// icon decoder. An index >= 0 is the group's position in the resource directory (named
// groups first, then numbered ones, as the directory stores them); a negative index names
// the group with resource identifier -index. Empty when there is no such group or none of
// its images can be found.
std::vector<QByteArrayView> IconGroupImages(QByteArrayView file, int32_t index);

}  // namespace kestrova::pe
