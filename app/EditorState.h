#pragma once
// EditorState: the main window's record of the extension on screen.

#include <cstdint>
#include <string>

#include "store/EditFlagsCodec.h"

namespace kestrova {

struct EditorState {
  std::string CurrentProgID;  // "?" when the loaded extension names no file type
  std::string CurrentDefaultVerb;
  std::string CurrentFlagsText;  // the Edit Flag String
  FlagsValue CurrentFlagsValue;
  std::string CurrentIconFile;
  int32_t CurrentIconIndex = 0;
};

}  // namespace kestrova
