#pragma once
// The program's windows, made once at start-up in their fixed order.

#include <memory>

#include "app/Main.h"

namespace kestrova {

// Makes the main window and then every dialog (TForm2, TForm3, TForm4, TFrmDDE,
// TFrmChgAss, TFrmNewFileType), all hidden; the dialogs belong to the main window.
std::unique_ptr<TForm1> CreateWindows();

}  // namespace kestrova
