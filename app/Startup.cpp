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
  d.Form2 = new TForm2(main.get(), main.get());
  d.Form3 = new TForm3(main.get(), main.get());
  d.Form4 = new TForm4(main.get(), main.get());
  d.FrmDDE = new TFrmDDE(main.get(), main.get());
  d.FrmChgAss = new TFrmChgAss(main.get(), main.get());
  d.FrmNewFileType = new TFrmNewFileType(main.get(), main.get());
  main->AttachDialogs(d);
  return main;
}

}  // namespace kestrova
