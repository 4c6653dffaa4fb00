#include "app/Startup.h"

#include "dialogs/DDE.h"
#include "dialogs/EditFlag.h"
#include "dialogs/NewType.h"
#include "dialogs/NewWiz.h"
#include "dialogs/Settings.h"
#include "dialogs/chgass.h"

namespace kestrova {

std::unique_ptr<TForm1> CreateWindows() {
  auto main = std::make_unique<TForm1>();
  TForm1::Dialogs d;
  // Each dialog belongs to the main window; those that work on the association on screen
  // receive it as the EditedAssociation the window implements.
  d.settingsDialog = new TForm2(main.get());
  d.newExtensionWizard = new TForm3(main.get(), main.get());
  d.flagsDialog = new TForm4(main.get(), main.get());
  d.ddeDialog = new TFrmDDE(main.get(), main.get());
  d.changeAssociationDialog = new TFrmChgAss(main.get(), main.get());
  d.newFileTypeDialog = new TFrmNewFileType(main.get());
  main->AttachDialogs(d);
  return main;
}

}  // namespace kestrova
