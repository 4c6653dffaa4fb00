#include "dialogs/chgass.h"

#include "dialogs/DialogFrame.h"

namespace kestrova {

TFrmChgAss::TFrmChgAss(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TFrmChgAss", "Change Association", 345, 224);
}

}  // namespace kestrova
