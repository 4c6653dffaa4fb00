#include "dialogs/NewWiz.h"

#include "dialogs/DialogFrame.h"

namespace kestrova {

TForm3::TForm3(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TForm3", "Create New Extension", 445, 255);
}

}  // namespace kestrova
