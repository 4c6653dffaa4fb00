#include "dialogs/DDE.h"

#include "dialogs/DialogFrame.h"

namespace kestrova {

TFrmDDE::TFrmDDE(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TFrmDDE", "Dynamic Data Exchange Settings", 340, 305);
}

}  // namespace kestrova
