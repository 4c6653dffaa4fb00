#include "dialogs/Settings.h"

#include "dialogs/DialogFrame.h"

namespace kestrova {

TForm2::TForm2(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TForm2", "Settings", 352, 139);
}

}  // namespace kestrova
