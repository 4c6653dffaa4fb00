#pragma once
// How the window shows values: a type's name and data as text.

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova {

// The store's UTF-8 as a QString.
QString Utf8Text(std::string_view text);

// A value's type by its registry name (REG_SZ...), an unknown one by its number.
QString RegTypeText(uint32_t type);
// A value's data in a list cell: text values as they are (on one line), a DWORD as
// 0x%08x (decimal), everything else as hex bytes; long data shows its start only.
QString RegDataText(uint32_t type, const std::string& data);

// The strings of a text value: up to the first NUL, or each of a REG_MULTI_SZ's strings.
std::vector<std::string_view> TextPieces(uint32_t type, std::string_view data);

// The default value first, the others in the store's order: how the list shows them, and so
// the order in which find goes through them.
void OrderForDisplay(std::vector<RegValue>& values);

}  // namespace kestrova
