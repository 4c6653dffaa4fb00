#include "dialogs/EditFlag.h"

#include "dialogs/DialogFrame.h"

namespace kestrova {

TForm4::TForm4(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TForm4", "Edit Flags", 256, 403);
}

}  // namespace kestrova
