#pragma once
// One value as a line of a REGEDIT4 file.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// Appends `"name"=data` (or `@=data`) and CRLF. Text is quoted when its bytes survive
// quoting, a DWORD of four bytes is `dword:`, all else hex wrapped as registry editors wrap it.
void AppendRegValue(std::string& out, std::string_view name, uint32_t type, std::string_view data);

}  // namespace kestrova
