#include "dialogs/NewType.h"

#include "dialogs/DialogFrame.h"

namespace kestrova {

TFrmNewFileType::TFrmNewFileType(TForm1* mainWindow, QWidget* parent) : QDialog(parent), m_main(mainWindow) {
  SetUpFixedDialog(this, "TFrmNewFileType", "Create New File Type", 257, 164);
}

}  // namespace kestrova
