// TForm1's icon, tools and help commands.

#include "app/Main.h"

namespace kestrova {

void TForm1::Image1Click() {}

void TForm1::WebHelpBExecute() {}

void TForm1::RegEditBExecute() {}

void TForm1::Help2Click() {}

void TForm1::HelpontheWeb1Click() {}

}  // namespace kestrova
